#pragma once
// Finds the format of a dump from its size, from where the partition table's magic
// stands, and from where bytes that look like spare data stand. It names a format only
// when the evidence points at one; otherwise it refuses and says why.

#include <cstdint>
#include <string>
#include <vector>

#include "image/DumpFormat.h"

namespace orvella {

struct DumpDetection {
  DumpFormat Format = DumpFormat::Full;
  std::uint32_t Blocks = 0;            // erase blocks of the chip in that format
  std::vector<std::string> Findings;   // what was looked at and what it showed, a line each
  std::string Verdict;                 // the format found and the reason that decided it
};

// Finds the format of the dump at `path`; `sparePath` names the spare file of a split
// dump (empty: there is none, and the dump is one file). True with `found` filled. False
// with `error` saying why no format was named: two fit equally well, none fits, or a file
// cannot be read; `found.Findings` tells what was seen either way.
bool DetectDumpFormat(const std::string& path, const std::string& sparePath, DumpDetection& found,
                      std::string& error);

}  // namespace orvella
