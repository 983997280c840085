#pragma once
// The NAND health check of a full image file: finds the spare layout (or takes the one
// named), checks every sector's ECC in one streaming pass over main and spare data,
// reads the bad-block markers, sums the findings per partition of the table and for
// sectors outside every partition, and optionally writes a repaired copy. The image
// itself is only ever read.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/DumpFormat.h"

namespace orvella {

struct NandCounts {
  std::uint64_t Sectors = 0;        // all sectors counted here
  std::uint64_t Erased = 0;         // main data and code bytes all 0xFF
  std::uint64_t Clean = 0;          // written, code agrees
  std::uint64_t Corrected = 0;      // written, one data bit repaired
  std::uint64_t CodeErrors = 0;     // written, one code bit wrong
  std::uint64_t Uncorrectable = 0;  // written, beyond repair
  std::uint64_t Unchecked = 0;      // written, not checked: in a bad block, or no layout
  std::uint64_t Written() const { return Sectors - Erased; }
  NandCounts& operator+=(const NandCounts& o);
};

struct SectorCorrection {
  std::uint64_t Sector = 0;  // main offset / 512
  std::uint32_t Bit = 0;     // 8 * byte + bit inside the sector
};

// A block's state for maps: the first that applies of bad, uncorrectable, corrected
// (or code error), written, erased.
enum class NandBlockState : std::uint8_t { Erased, Written, Corrected, Uncorrectable, Bad };

struct NandPartitionHealth {
  std::uint32_t Position = 0;  // 1-based row number
  std::string Name;
  std::uint32_t BegBlock = 0;
  std::uint32_t Blocks = 0;     // effective size, clipped to the image
  std::vector<std::uint32_t> BadBlocks;
  NandCounts Counts;
};

struct NandHealthReport {
  std::string Image;
  std::string Layout;           // the layout's name; empty when none matched
  bool LayoutNamedByUser = false;
  double CleanShare = 0;        // share of clean written sectors in the detection sample
  std::uint64_t SampledSectors = 0;
  NandCounts Total;
  NandCounts Outside;           // sectors outside every partition
  bool TableFound = false;
  std::string TableProblem;     // why a table at block 1 was not used; empty otherwise
  std::uint32_t ChipBlocks = 0; // erase blocks of the whole image the file is taken for
  std::vector<NandPartitionHealth> Partitions;
  std::vector<std::uint32_t> BadBlocks;
  std::vector<SectorCorrection> Corrections;  // complete lists
  std::vector<std::uint64_t> CodeErrors;
  std::vector<std::uint64_t> Uncorrectable;
  std::vector<NandBlockState> Blocks;         // one per erase block checked
  bool Complete = true;         // false: part of the image could not be read
  std::string NotRead;          // what could not be read, when not complete
  std::string NotWhole;         // why the file is not a whole image (DumpShape); empty when it is
  std::string RepairedTo;       // output of a repair; empty without one
  std::uint64_t RepairedSectors = 0;
  std::string RepairNotDone;    // why no repaired image was written although one was asked
};

struct NandCheckOptions {
  std::string Layout = "auto";  // "auto" or a layout's name
  std::string RepairTo;         // a new file to write the repaired image into; empty: none
  // The dump's format, and a split dump's spare file. A dump in another format than full
  // is read through DumpReader and must be whole; its repair is written in its own format
  // (a split dump's is refused: it would need a second output).
  DumpFormat Format = DumpFormat::Full;
  std::string SparePath;
  // Called now and then with bytes done and bytes in all; may be empty.
  std::function<void(std::uint64_t done, std::uint64_t total)> Progress;
  // Polled between blocks; true stops the check (reported as an error).
  std::function<bool()> Stop;
  // Runs two jobs and returns once both have ended: reading the next chunk and checking
  // the present one, which touch different buffers. The tool runs them on two threads;
  // empty: one after the other.
  std::function<void(const std::function<void()>& read, const std::function<void()>& check)> SideBySide;
};

// Checks the image at `path`. False, with `error` naming the cause, when the image cannot
// be checked at all (missing, a folder, too small, 4 GiB or more, unknown layout name,
// repair output is the image, read/write failure, stopped); otherwise true with `report`
// filled (a truncated image gives a partial report with Complete false).
bool CheckNandHealth(const std::string& path, const NandCheckOptions& options,
                     NandHealthReport& report, std::string& error);

// The totals line both reports begin with: the sectors read, written and erased, and,
// with a layout, what the check found in them.
std::string NandTotalsLine(const NandHealthReport& report);

// The short report the window writes into its log: the layout, the totals, one line per
// partition with findings, and the bad blocks.
std::vector<std::string> NandHealthLogLines(const NandHealthReport& report);

}  // namespace orvella
