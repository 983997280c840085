#pragma once
// The shapes a NAND dump comes in besides the full image, and a reader that serves a dump
// of any of them as a full image holds it: main data by main offset, spare data by spare
// offset. Every size is checked against the file before anything is read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"

namespace orvella {

// Full: all main data, then all spare data. Page: each 4096-byte page followed by its 128
// spare bytes (its eight sectors' 16 each, sector 0 first). Sector: each 512-byte sector
// followed by its 16 spare bytes. Split: the main data in one file, the spare data in
// another. Main: the main data alone.
enum class DumpFormat : std::uint8_t { Full, Page, Sector, Split, Main };

inline constexpr std::array<DumpFormat, 5> kDumpFormats = {
    DumpFormat::Full, DumpFormat::Page, DumpFormat::Sector, DumpFormat::Split, DumpFormat::Main};

// "full", "page", "sector", "split", "main".
std::string_view DumpFormatName(DumpFormat format);
std::optional<DumpFormat> DumpFormatNamed(std::string_view name);
// The formats' names, each after a space: " full page sector split main".
std::string DumpFormatNames();
inline bool KeepsSpare(DumpFormat format) { return format != DumpFormat::Main; }

// One erase block: its main bytes, its spare bytes, and both together.
inline constexpr std::uint64_t kDumpBlockMain = 0x40000;
inline constexpr std::uint64_t kDumpBlockSpare = kDumpBlockMain / 32;
inline constexpr std::uint64_t kDumpBlockBytes = kDumpBlockMain + kDumpBlockSpare;
// The largest chip taken: its full image stays below 4 GiB, as every other command needs.
inline constexpr std::uint32_t kMaxDumpBlocks = static_cast<std::uint32_t>(0xFFFFFFFFull / kDumpBlockBytes);

// The bytes of the dump of a chip of `blocks` erase blocks: its file (split: the main
// file), and the spare file of a split dump (0 for the others).
std::uint64_t DumpFileBytes(DumpFormat format, std::uint32_t blocks);
std::uint64_t DumpSpareFileBytes(DumpFormat format, std::uint32_t blocks);

struct DumpOpenOptions {
  std::string SparePath;  // split: the file of the spare data; must be empty otherwise
  // The chip's erase blocks. 0: the dump's size gives them, and a dump that is not whole
  // blocks is refused. Otherwise the files may hold fewer (reads past their end fail)
  // or more; a full image keeps its spare data after this many blocks' main data.
  std::uint32_t ChipBlocks = 0;
};

class DumpReader {
 public:
  // Opens the dump read-only. False with `error` naming the cause: a file that cannot be
  // opened, a spare file given or missing against the format, a size that is no whole
  // number of blocks or a spare file of the wrong length, a chip too large.
  bool Open(const std::string& path, DumpFormat format, const DumpOpenOptions& options,
            std::string& error);

  DumpFormat Format() const { return format_; }
  std::uint32_t Blocks() const { return blocks_; }
  std::uint64_t MainSize() const { return std::uint64_t{blocks_} * kDumpBlockMain; }
  std::uint64_t SpareSize() const { return std::uint64_t{blocks_} * kDumpBlockSpare; }
  // Blocks whose main and spare data both lie in the files (all of them unless cut off).
  std::uint32_t ReadableBlocks() const { return readable_; }
  std::uint64_t FileSize() const { return size_; }

  // Main bytes [at, at + n), as a full image holds them at offset `at`.
  bool ReadMain(std::uint64_t at, void* buffer, std::size_t n, std::string& error);
  // Spare bytes [at, at + n) of the spare area, as a full image holds them at
  // MainSize() + at. A main dump's spare data read as erased (0xFF).
  bool ReadSpare(std::uint64_t at, void* buffer, std::size_t n, std::string& error);
  // The main data (512 bytes each) and spare data (16 each) of `count` sectors from
  // sector `first`, in one pass over the file where the format interleaves them.
  bool ReadSectors(std::uint64_t first, std::size_t count, std::uint8_t* main,
                   std::uint8_t* spare, std::string& error);

  // The file that holds the main area as one run from its offset 0 (full, split and
  // main dumps), so that copies can stay in the kernel; nullptr for page and sector.
  File* MainRun();
  // The file that holds the spare area as one run, and where it starts in it (full and
  // split dumps); nullptr for the others.
  File* SpareRun(std::uint64_t& start);

 private:
  // Main and spare bytes of an interleaving format, from the same reads of the file.
  bool Gather(std::uint64_t mainAt, std::uint8_t* main, std::size_t mainN, std::uint64_t spareAt,
              std::uint8_t* spare, std::size_t spareN, std::string& error);
  bool InArea(std::uint64_t at, std::size_t n, std::uint64_t area, const char* what,
              std::string& error) const;

  DumpFormat format_ = DumpFormat::Full;
  std::uint32_t blocks_ = 0;
  std::uint32_t readable_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t unitMain_ = 0;   // page and sector: the main bytes before each spare run
  std::uint64_t unitSpare_ = 0;  // and the spare bytes of that run
  File file_;
  File spare_;  // split only
  ChunkBuffer scratch_;
};

}  // namespace orvella
