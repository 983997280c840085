#pragma once
// The check of sectors held in memory: one sector against a layout's codes, the
// bad-block marker of a block, and the choice of a layout from a sample of sectors.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "nand/SpareLayout.h"

namespace orvella::nand {

// True when all n bytes are 0xFF.
bool AllErased(const std::uint8_t* data, std::size_t n);

enum class SectorState : std::uint8_t { Erased, Clean, Corrected, CodeError, Uncorrectable };

struct SectorFinding {
  SectorState State = SectorState::Erased;
  std::uint8_t Corrections = 0;           // data bits repaired (one per code at most)
  bool CodeError = false;                 // a stored code was wrong where its data were not
  std::array<std::uint32_t, 2> Bits{};    // their numbers in the sector, 8 * byte + bit
};

// True when the sector is erased for this layout: its main data and its code bytes are
// all 0xFF (other spare bytes may hold anything).
bool IsErasedSector(const SpareLayout& layout, const std::uint8_t* sector,
                    const std::uint8_t* spare);

// Checks one sector and its 16 spare bytes. A single flipped data bit is repaired in
// `sector`; with `rewriteCodes`, a wrong code bit is repaired in `spare` too. The worst
// code decides the state: uncorrectable, then corrected, then code error, then clean.
// An uncorrectable sector is left exactly as it came, with no corrections listed.
// An unwritten code (FF FF FF) over written data is uncorrectable, never "corrected",
// unless the repair leaves the step all 0xFF or all 0x00.
SectorFinding CheckSector(const SpareLayout& layout, std::uint8_t* sector, std::uint8_t* spare,
                          bool rewriteCodes);

// The bad-block marker of a block under `rule`, in the spare bytes of the two sectors the
// rule reads (sectors 0 and 8 for OneNAND, 0 and 1 for small pages). `blockSpare` is the
// spare data of the block's first sector on, kMarkerSpareBytes at least.
inline constexpr std::uint32_t kMarkerSpareBytes = 9 * kSpareBytes;
bool IsBadBlock(BadBlockRule rule, const std::uint8_t* blockSpare);
// Marks the block bad as the chip does.
void MarkBadBlock(BadBlockRule rule, std::uint8_t* blockSpare);

// Scores every known layout on sectors fed to it. A sector votes for a layout unless it
// carries no evidence: each code it would hold is erased (0xFF bytes) and the data it
// covers give an erased code too (all 0xFF, or all zero). It votes "clean" when every
// stored code equals the code of its data.
class LayoutDetector {
 public:
  static constexpr double kMinCleanShare = 0.9;

  // The flags say whether the sector's block is marked bad under each rule; a sector of a
  // bad block does not vote for the layouts of that rule.
  void Add(const std::uint8_t* sector, const std::uint8_t* spare, bool badOneNand = false,
           bool badSmallPage = false);

  struct Score {
    std::uint64_t Voters = 0;
    std::uint64_t Clean = 0;
    double Share() const { return Voters ? static_cast<double>(Clean) / static_cast<double>(Voters) : 0.0; }
  };
  // Scores in the order of KnownLayouts().
  std::span<const Score> Scores() const { return scores_; }
  std::uint64_t Sectors() const { return sectors_; }
  // The layout with the highest clean share (the first of equals) when that share reaches
  // kMinCleanShare; nullptr otherwise. `share` gets the best share either way.
  const SpareLayout* Best(double& share) const;

 private:
  std::array<Score, 6> scores_{};
  std::uint64_t sectors_ = 0;
};

}  // namespace orvella::nand
