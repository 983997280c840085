#pragma once
// An image as the evidence commands (digests, comparison, report) take it: its layout
// follows from its size alone, so a dump without a usable table still has a main and
// a spare area; its partitions come from the table when the table loads.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/Export.h"
#include "image/FullImage.h"

namespace orvella {

inline constexpr std::uint32_t kSparePerBlock = kBlockSize / kSpareDivisor;
inline constexpr std::uint32_t kSectorBytes = kUnitMainBytes;               // 512
inline constexpr std::uint32_t kSpareSectorBytes = kUnitBytes - kUnitMainBytes;  // 16
inline constexpr std::uint32_t kSectorsPerBlock = kBlockSize / kSectorBytes;

struct ImageLayout {
  std::uint64_t FileSize = 0;
  std::uint32_t TotalBlocks = 0;
  std::uint64_t MainEnd = 0;   // the main area is [0, MainEnd); the spare area starts here
  std::uint64_t SpareEnd = 0;  // bytes from here to FileSize belong to neither area

  std::uint64_t SpareOfBlock(std::uint64_t block) const {
    return MainEnd + block * kSparePerBlock;
  }
};

ImageLayout LayoutOfSize(std::uint64_t fileSize);

struct EvidencePartition {
  std::uint32_t Position = 0;
  std::string Name;
  std::uint64_t FirstBlock = 0;
  std::uint64_t Blocks = 0;  // the effective size
  WideRange Range;           // main and spare bytes exactly as the export copies them
  bool Inside = true;        // false: the table places it past the image
  std::string Beyond;        // the export's error for it when it is not inside
};

struct EvidenceImage {
  std::string Path;
  ImageLayout Layout;
  std::unique_ptr<ImageModel> Model;  // the loaded table; null when there is none
  std::string TableProblem;           // why there is none
  std::vector<EvidencePartition> Partitions;

  bool HasTable() const { return Model != nullptr; }
};

// Takes the size and the table of the file at `path`. False, with `error` filled, when
// the file cannot be read or is 4 GiB or larger; a missing or broken table is not a
// failure (see TableProblem).
bool OpenEvidenceImage(const std::string& path, EvidenceImage& image, std::string& error);

}  // namespace orvella
