#pragma once
// Converts a whole dump from one format into another, streamed through about 1 MiB of
// buffers whatever its size. Outputs are written under OUT.part and renamed once
// complete; no output is ever an input.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/DumpFormat.h"

namespace orvella {

// One side of a conversion.
struct DumpFiles {
  std::string Path;
  DumpFormat Format = DumpFormat::Full;
  std::string SparePath;  // split: the file of the spare data; empty otherwise
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
