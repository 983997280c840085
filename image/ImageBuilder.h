#pragma once
// Writes well-formed full image files with a PIT table at block 1: sample images for
// the command-line tool, the virtual phone, benchmarks, fuzz seeds and test fixtures.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvella {

struct PartitionSpec {
  std::string Name;            // stored as up to 32 Latin-1 bytes
  std::uint32_t SizeInBlocks;  // stored as given: 0 and 0xFFFFFFFF mean "to the end"
};

// Noise: main data from a fixed pseudo-random sequence, like a dump of real data.
enum class ImageFill { Erased, Zero, Pattern, Noise };

struct ImageSpec {
  std::uint32_t ChipMiB = 64;  // main data bytes = ChipMiB * 2^20
  std::vector<PartitionSpec> Table;
  ImageFill Fill = ImageFill::Erased;
};

// What a NAND dump holds beside the fill: ECC codes, erased sectors, bad blocks.
struct NandSpec {
  // A spare layout's name: every sector's codes are written into its spare data, whose
  // other bytes are 0xFF. Empty: the spare data hold the fill as the main data do.
  std::string EccLayout;
  std::uint32_t ErasedPercent = 0;       // this share of sectors left erased (0xFF)
  std::vector<std::uint32_t> BadBlocks;  // marked bad as the layout's chip marks them
};

// The byte that a Pattern image holds at a file offset (main and spare alike).
std::uint8_t PatternByte(std::uint64_t fileOffset);

// The main data an image of `fill` holds from main offset `at` on (a multiple of 8), n
// bytes (a multiple of 512), with `erasedPercent` of its sectors left erased.
void FillMainData(ImageFill fill, std::uint32_t erasedPercent, std::uint64_t at, std::uint8_t* main,
                  std::size_t n);

// Header and entries of a table, as stored at the start of block 1.
std::vector<std::uint8_t> BuildPitTable(const std::vector<PartitionSpec>& table);

// Parses "NAME:BLOCKS[,NAME:BLOCKS...]" where BLOCKS is a number, "rest" or 0. NAME is
// UTF-8 text and becomes Latin-1 bytes; a name outside Latin-1 is refused.
bool ParseTableSpec(const std::string& text, std::vector<PartitionSpec>& table,
                    std::string& error);

// True when every partition of the table starts on a chip of `chipBlocks` blocks and
// ends on it (a partition of the rest runs to its end); otherwise `error` names the first
// that does not. The writer below leaves this to its callers: fixtures make such tables.
bool TableFitsChip(const std::vector<PartitionSpec>& table, std::uint32_t chipBlocks,
                   std::string& error);

// Writes the image under a temporary name that takes the name `path` once complete;
// progress(done, total) is called per chunk. The table must fit in block 1, the chip
// must have at least two blocks, the layout must be known and the bad blocks on the
// chip. Zero images without codes or bad blocks are written sparse.
bool WriteFullImage(const std::string& path, const ImageSpec& spec, std::string& error,
                    const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});
bool WriteFullImage(const std::string& path, const ImageSpec& spec, const NandSpec& nand,
                    std::string& error,
                    const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});

}  // namespace orvella
