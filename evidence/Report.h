#pragma once
// The evidence report: one self-contained HTML file (no scripts, nothing fetched) with
// the image's facts, its partition table as the list shows it, the digests, the
// comparison with a second image when there is one, and the block map.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "evidence/BlockMap.h"
#include "evidence/EvidenceImage.h"
#include "evidence/ImageDiff.h"
#include "evidence/ImageHash.h"
#include "evidence/ReportFiles.h"
#include "image/NandHealth.h"

namespace orvella {

// The report lists this many bad blocks and uncorrectable sectors, then counts the rest.
inline constexpr std::size_t kListedFindings = 100;

// What a NAND health check found in the whole image, for the report's summary.
struct HealthFacts {
  std::uint32_t BadBlocks = 0;
  std::uint32_t BlocksCorrected = 0;      // blocks with sectors the ECC corrected
  std::uint32_t BlocksUncorrectable = 0;  // blocks with sectors it cannot correct
  std::uint64_t SectorsCorrected = 0;
  std::uint64_t SectorsUncorrectable = 0;
  // Each finding's blocks, complete, so the summary can say how the map draws them.
  std::vector<std::uint32_t> BadBlockList;
  std::vector<std::uint32_t> CorrectedBlockList;
  std::vector<std::uint32_t> UncorrectableBlockList;
  // The first kListedFindings uncorrectable sectors, and where the spare area starts.
  std::vector<std::uint64_t> UncorrectableSectors;
  std::uint64_t SpareStart = 0;
};

// One table entry as the phone reads it, in words ready for the report.
struct PhoneRow {
  std::uint32_t Position = 0;
  std::string Name;
  std::uint32_t Identifier = 0;
  std::string Attributes;  // as words: "STL", "write", "none"
  std::string Blocks;      // "0x0002..0x0029", or why the entry is not in the dump
  bool InDump = false;
  std::string Device;      // "bml3"; empty where the phone's numbering is not known
  std::string Holds;       // what the blocks hold: its word, and a label
  std::string FlashFile;
  std::string Volume;      // STL partitions: whether the volume rebuilds and its size
};

struct PhoneRemapRow {
  std::uint32_t Block = 0;
  std::uint32_t Replacement = 0;
  std::string Partition;
  std::string Reason;
};

// The dump as the phone reads it: the table in the phone's layout and the bad-block
// layer's remaps and findings.
struct PhoneFacts {
  std::string Placement;  // where the blocks come from, or why there is no layer
  bool Layer = false;     // the dump has the bad-block layer
  std::vector<PhoneRow> Rows;
  std::vector<PhoneRemapRow> Remaps;
  std::vector<std::string> Findings;
};

struct ReportInput {
  const EvidenceImage* Image = nullptr;
  const ImageDigests* Digests = nullptr;
  const EvidenceImage* Compared = nullptr;         // with --compare
  const ImageComparison* Comparison = nullptr;
  std::optional<HealthFacts> Health;               // with a health source
  std::optional<PhoneFacts> Phone;                 // when block 1 holds a table
  BlockMapInput Map;
  std::optional<VolumeFilesFacts> EfsFiles;       // a dump whose EFS volume rebuilds
  std::string Footer;                              // tool version and time of the report
};

// The map's input from the scan's results: the image's blocks and partitions, which
// blocks are erased, and which differ from the compared image (none without one).
// Per-block health states, when a health check supplies them, go into Health.
BlockMapInput MapInputOf(const EvidenceImage& image, const std::vector<bool>& erased,
                         const ImageComparison* comparison);

// Puts what a NAND health check found into the summary and the map's block states. A
// check that found no ECC layout says nothing about sectors: then nothing is added and
// the result is false.
bool AddHealth(const NandHealthReport& check, ReportInput& input);

std::string ReportHtml(const ReportInput& input);

}  // namespace orvella
