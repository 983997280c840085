#pragma once
// Comparison of two images by NAND location: block b's main data with block b's, its
// spare data with its spare data wherever each file keeps it, so images of different
// sizes still line up. Differences are counted per partition (by A's table, else B's)
// and for the data outside every partition.

#include <cstdint>
#include <string>
#include <vector>

#include "evidence/EvidenceImage.h"
#include "evidence/ImageScan.h"

namespace orvella {

inline constexpr std::size_t kFirstOffsets = 20;

struct RegionDiff {
  std::uint64_t MainBlocks = 0, MainSectors = 0;    // 512-byte sectors
  std::uint64_t SpareBlocks = 0, SpareSectors = 0;  // the 16 spare bytes of a sector
  std::uint64_t OneSidedBlocks = 0;  // held by one image only; counted above as all different
  std::uint64_t TrailingBytes = 0;   // outside only: differing bytes after the spare area
  std::vector<std::uint64_t> FirstOffsets;  // file offsets in A (in B for blocks only B holds)

  bool Identical() const { return MainBlocks == 0 && SpareBlocks == 0 && TrailingBytes == 0; }
};

struct PartitionDiff {
  std::uint32_t Position = 0;
  std::string Name;
  RegionDiff Diff;
};

struct ImageComparison {
  std::uint64_t SizeA = 0, SizeB = 0;
  std::uint32_t BlocksA = 0, BlocksB = 0;
  bool MainOnly = false;
  bool TablesEqual = true;                 // also when neither image has a table
  std::vector<std::string> TableDifferences;
  char PartitionsFrom = 0;                 // 'A' or 'B': whose table; 0: neither has one
  std::vector<PartitionDiff> Partitions;
  RegionDiff Outside;
  std::vector<bool> BlockDiffers;          // one per block of the larger image

  bool Identical() const;
};

// What differs between the two tables, one line each; empty when they are equal.
std::vector<std::string> TableDifferences(const EvidenceImage& a, const EvidenceImage& b);

class ImageDiffer : public ChunkSink {
 public:
  ImageDiffer(const EvidenceImage& a, const EvidenceImage& b, bool mainOnly);
  void Take(const ScanChunk& chunk) override;
  // Adds the blocks that only the larger image holds and hands the result over.
  ImageComparison Finish();

 private:
  struct Span {
    std::uint64_t First, End;
    RegionDiff* Region;
  };
  struct Delta {
    std::uint64_t sectors = 0;
    std::vector<std::uint64_t> offsets;
  };
  void Covering(std::uint64_t block, std::vector<RegionDiff*>& regions);
  void AddBlock(std::uint64_t block, ScanArea area, const Delta& delta);

  ImageComparison result_;
  std::vector<Span> spans_;
  std::vector<RegionDiff*> regions_;  // scratch
};

}  // namespace orvella

namespace orvella {

// "identical", or what differs: "main data differs in 2 blocks (3 sectors); spare data
// differs in 1 block (1 sector)".
std::string DescribeRegion(const RegionDiff& region, bool mainOnly);

// 0x-prefixed file offsets, eight digits, separated by spaces.
std::string OffsetList(const std::vector<std::uint64_t>& offsets);

}  // namespace orvella
