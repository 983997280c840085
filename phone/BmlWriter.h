#pragma once
// Dumps of a 2048-block, 512 MiB chip as the phone leaves them: the table at block 1 in
// the phone's layout, partitions from block 0 up to the reservoir at 2004, the LPCB and
// UPCB with one confirmed meta set each (partition info matching the table, block map),
// the driver's spare marks, and bad blocks replaced by reservoir blocks: the original
// keeps garbage and a bad mark, its replacement holds the data.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "files/FileIO.h"
#include "image/ImageBuilder.h"
#include "nand/SpareLayout.h"
#include "phone/PageSource.h"

namespace orvella::phone {

inline constexpr std::uint32_t kBmlChipMiB = 512;
// The meta blocks written dumps use; replacements are taken from the reservoir's start.
inline constexpr std::uint32_t kWriterUpcb = 2047;
inline constexpr std::uint32_t kWriterLpcb = 2046;
inline constexpr std::uint32_t kWriterTpcb = 2045;
inline constexpr std::uint32_t kWriterRef = 2044;

struct BmlPartitionSpec {
  std::string Name;            // Latin-1 bytes, at most 32
  std::uint32_t Blocks = 0;
  bool Stl = false;            // a logical volume: left erased for the volume writer
  std::uint32_t Identifier = 0;
  std::string FlashFile;       // Latin-1 bytes, at most 32
};

struct BmlDumpSpec {
  std::vector<BmlPartitionSpec> Table;     // block counts summing to 2004
  ImageFill Fill = ImageFill::Pattern;     // of the partitions that are not STL volumes
  std::uint32_t ErasedPercent = 0;
  std::string EccLayout;                   // a layout's name; empty: spare bytes 6-15 stay 0xFF
  std::vector<std::uint32_t> Remaps;       // blocks replaced from the reservoir
  std::vector<std::uint32_t> BadBlocks;    // blocks marked bad and not replaced
};

struct BmlDumpPlan {
  BmlDumpSpec Spec;
  const nand::SpareLayout* Layout = nullptr;
  std::vector<std::uint32_t> First;                               // each partition's first block
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Pairs;     // original, replacement
  std::vector<std::uint8_t> Pit;                                  // the table's bytes at block 1
};

// Checks the plan's BmlDumpSpec (table summing to 2004 blocks, at most 30 partitions, unique
// identifiers, a layout that leaves spare bytes 0-5 to the driver, remaps below 2004 and
// not of blocks 0 and 1, which are read where they lie, at most as many as replacement
// blocks are free) and lays the dump out.
bool PlanBmlDump(const BmlDumpSpec& spec, BmlDumpPlan& plan, std::string& error);

// Main data (kBlockMainBytes) and spare data (64 x 128 bytes) of chip block `block`.
void ComposeBlock(const BmlDumpPlan& plan, std::uint32_t block, std::uint8_t* main, std::uint8_t* spare);
// True when ComposeBlock gives the block all 0xFF.
bool BlockLeftErased(const BmlDumpPlan& plan, std::uint32_t block);
// The main data the phone reads for its block `block` (below 2004).
void ComposeLogicalMain(const BmlDumpPlan& plan, std::uint32_t block, std::uint8_t* main);
// The four pages of a meta set of the LPCB (`upper` false) or the UPCB, each 4096 main
// bytes then 128 spare bytes; `pairs` go into the first block map.
std::vector<std::uint8_t> PoolSetPages(const BmlDumpPlan& plan, bool upper, std::uint32_t age,
                                       const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs);

// Writes the dump into a new file (replacing one of that name); progress(done, total).
bool WriteBmlDump(const std::string& path, const BmlDumpPlan& plan, std::string& error,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});
// Writes the dump into `out`, a file just created and still empty: runs of main data that
// are all 0x00 are left as holes, so a zero fill is written sparsely.
bool WriteBmlDump(File& out, const BmlDumpPlan& plan, std::string& error,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});
// Writes the blocks that are not left erased into `chip`, which reads erased elsewhere.
bool WriteBmlDump(PageSink& chip, const BmlDumpPlan& plan, std::string& error);

// The BmlDumpSpec of mkimage's options: a 512 MiB chip only; the table's one "rest" (or 0) entry
// takes the blocks up to 2004. The partitions named in `stl` (exactly as in the table)
// are STL volumes with identifiers from 20 up, as the phone numbers them; every other is
// raw with identifier position - 1.
bool BmlSpecFromImageSpec(const ImageSpec& image, const NandSpec& nand, const std::vector<std::uint32_t>& remaps,
                          BmlDumpSpec& spec, std::string& error, const std::vector<std::string>& stl = {});

// An i9000-like table: twelve partitions summing to 2004 blocks, EFS, PARAM, FACTORYFS,
// DBDATAFS and CACHE logical volumes.
std::vector<BmlPartitionSpec> SampleBmlTable();

}  // namespace orvella::phone
