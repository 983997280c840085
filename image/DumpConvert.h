#pragma once
// Converts a whole dump from one format into another, streamed through about 1 MiB of
// buffers whatever its size. Outputs are written under OUT.part and renamed once
// complete; no output is ever an input.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "files/FileIO.h"
#include "image/ChunkBuffer.h"
#include "image/DumpFormat.h"

namespace orvella {

// One side of a conversion.
struct DumpFiles {
  std::string Path;
  DumpFormat Format = DumpFormat::Full;
  std::string SparePath;  // split: the file of the spare data; empty otherwise
};

// The output files of a dump in one format, each written under its part name and given
// its own name only by Commit; a failure, or the writer's end before Commit, leaves none.
class DumpWriter {
 public:
  DumpWriter() = default;
  DumpWriter(const DumpWriter&) = delete;
  DumpWriter& operator=(const DumpWriter&) = delete;

  // Creates the part files of `out` for a chip of `blocks` erase blocks. A split output's
  // two names must not lead to one file, nor one to the other's part file.
  bool Create(const DumpFiles& out, std::uint32_t blocks, std::string& error);
  // Writes blocks [first, first + count) from their main data and their spare data.
  bool WriteBlocks(std::uint32_t first, std::uint32_t count, const std::uint8_t* main,
                   const std::uint8_t* spare, std::string& error);
  // The file that takes the main area as one run from its offset 0; nullptr for the
  // formats that interleave.
  File* MainRun();
  // The file that takes the spare area as one run, and where it starts in it; nullptr
  // for the formats without one.
  File* SpareRun(std::uint64_t& start);
  // Gives every output its name; a failure leaves none of them behind.
  bool Commit(std::string& error);

 private:
  std::uint64_t MainSize() const { return std::uint64_t{blocks_} * kDumpBlockMain; }

  DumpFormat format_ = DumpFormat::Full;
  std::uint32_t blocks_ = 0;
  std::size_t unitMain_ = 0;
  std::size_t unitSpare_ = 0;
  std::string mainPath_;
  PartFile main_;
  PartFile spare_;
  ChunkBuffer scratch_;
};

struct ConvertOptions {
  // Called now and then with bytes written and bytes to write; may be empty.
  std::function<void(std::uint64_t done, std::uint64_t total)> Progress;
  // Polled between chunks; true stops the conversion (reported as a failure).
  std::function<bool()> Stop;
};

struct ConvertResult {
  std::uint32_t Blocks = 0;
  std::vector<std::string> Notes;  // what changed on the way: spare data filled or left out
};

// Converts the dump `in` into `out`. False with `error` naming the cause, and no output
// left behind, when a file cannot be read or written, an input is not whole (cut off, a
// spare file of the wrong length), an output is an input or the other output however
// spelled, or the conversion was stopped.
bool ConvertDump(const DumpFiles& in, const DumpFiles& out, const ConvertOptions& options,
                 ConvertResult& result, std::string& error);

}  // namespace orvella
