#pragma once
// Where a sector's ECC bytes stand in its 16 spare bytes, which code they hold, and how
// the chip marks a bad block. One small table of named layouts.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "nand/Hamming.h"

namespace orvella::nand {

inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint32_t kSpareBytes = 16;        // spare bytes per sector
inline constexpr std::uint32_t kSectorsPerBlock = 512;  // 256 KiB erase blocks

enum class BadBlockRule : std::uint8_t {
  // OneNAND: bad when the 16-bit word at spare bytes 0-1 of the first sector of page 0
  // or of page 1 (sectors 0 and 8 of the block) is not 0xFFFF.
  OneNandWord,
  // Small-page raw NAND: bad when spare byte 5 of the block's first or second page
  // (sectors 0 and 1) is not 0xFF.
  SmallPageByte5,
};

// One code inside a sector: the data it covers and the spare bytes it is stored in.
struct CodeSlot {
  std::uint16_t DataOffset = 0;              // first covered byte in the sector
  std::array<std::uint8_t, 3> SpareAt{};     // spare offsets of code bytes 0, 1, 2
};

struct SpareLayout {
  std::string_view Name;  // e.g. "onenand-h512-normal"
  EccStep Step = EccStep::Bytes512;
  EccOrder Order = EccOrder::Normal;
  std::uint8_t Codes = 1;  // 512 / step
  std::array<CodeSlot, 2> Slots{};
  BadBlockRule BadBlocks = BadBlockRule::OneNandWord;
};

// Every known layout: onenand-h512, onenand-h256 and smallpage, each "-normal" and "-smc".
std::span<const SpareLayout> KnownLayouts();
// The layout of that name, or nullptr.
const SpareLayout* FindLayout(std::string_view name);
// The known layouts' names, each after a space: " onenand-h512-normal onenand-h512-smc ...".
std::string KnownLayoutNames();

// Writes the codes of one 512-byte sector into its 16 spare bytes (other bytes untouched).
void WriteSectorCodes(const SpareLayout& layout, const std::uint8_t* sector,
                      std::uint8_t* spare);

}  // namespace orvella::nand
