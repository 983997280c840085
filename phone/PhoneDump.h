#pragma once
// A dump as the phone reads it: the partition table, the bad-block layer, each entry's
// blocks as the phone's block device has them and what they hold. What the commands and
// the window show of a dump comes from here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "phone/Bml.h"
#include "phone/PageSource.h"
#include "phone/PitTable.h"

namespace orvella::phone {

struct PhoneDump {
  bool TableFound = false;
  std::string TableProblem;  // why block 1 gave no table
  PitTable Table;
  BmlResult Bml;
};

// Reads the bad-block layer, then the table; takes each entry's first block and size from
// the partition info where it has a usable row of the entry's identifier (else the running
// sum and the stored count), lists where the two disagree among the bad-block findings,
// names each remapped block's partition and, with `judgeContent`, judges what every entry
// in the dump holds (which reads the whole of erased partitions).
PhoneDump ReadPhoneDump(PageSource& chip, bool judgeContent = true);

// The chip blocks entry k (0-based) of the table reads, in order; empty when the entry is
// not in the dump.
std::vector<std::uint32_t> EntryBlocks(const PhoneDump& dump, std::size_t k);

}  // namespace orvella::phone
