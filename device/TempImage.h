#pragma once
// The temporary full image the get-table command builds from a table read off the
// device: blank (0xFF) everywhere except the table's pages in block i and their spare
// data. Pure: the bytes go to a sink, so tests and fuzzers can run it without files.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace orvella {

// Geometry reported by HostIdentifyFlash.
struct FlashGeometry {
  std::uint32_t ChipSizeMiB = 0;     // N
  std::uint32_t EraseBlockSize = 0;  // E, bytes
  std::uint32_t PageSize = 0;        // P, bytes
};

// Limits of the values the command accepts from the device.
inline constexpr std::uint32_t kMaxChipSizeMiB = 4095;
inline constexpr std::uint32_t kPageGranule = 512;           // 16 spare bytes per 512
inline constexpr std::uint32_t kMaxEraseBlockSize = 0x4000000;  // 64 MiB

// Empty when the geometry can be used, else the "ERROR: " log line that says why.
std::string CheckFlashGeometry(const FlashGeometry& g);

// L: header and entries rounded up to whole pages (64-bit, so huge counts never wrap).
std::uint64_t TableLengthInPages(std::uint32_t entriesCount, std::uint32_t pageSize);

// Empty when a table of `tableLength` bytes found in block `block` fits the chip, else
// the "ERROR: " log line that says why. The geometry must have passed the check above.
std::string CheckTablePlacement(const FlashGeometry& g, std::uint32_t block,
                                std::uint64_t tableLength);

// M × 33 / 32: the size of the image.
std::uint64_t TempImageSize(const FlashGeometry& g);

// Receives the image in order; false (with `error` naming the failure) stops the build.
using ImageSink = std::function<bool(const std::uint8_t* data, std::size_t n, std::string& error)>;
// Called before each blank chunk is written, with the position after that chunk and T.
using FillProgress = std::function<void(std::uint64_t position, std::uint64_t total)>;

// Writes the image for a table found in `block`. `table` holds the table's L main bytes
// followed by its L / 32 spare bytes (so its size is a multiple of 33). Checks every limit
// itself; false with `error` set when a limit fails or the sink fails.
bool BuildTemporaryImage(const FlashGeometry& g, std::uint32_t block,
                         std::span<const std::uint8_t> table, const ImageSink& sink,
                         const FillProgress& progress, std::string& error);

}  // namespace orvella
