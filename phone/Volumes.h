#pragma once
// The phone's logical volumes among a dump's partitions: which entries are STL volumes,
// whether each rebuilds, how large it is and what it holds. What `pit`, the report and
// the window say of a volume without delivering it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "phone/Content.h"
#include "phone/PageSource.h"
#include "phone/PhoneDump.h"

namespace orvella::phone {

// An entry the phone keeps as an STL volume: its attributes say so, or its blocks start
// with a volume's root page.
bool IsStlEntry(const PitEntry& entry);

struct VolumeState {
  bool Stl = false;            // IsStlEntry
  bool Rebuilt = false;        // false: Refusal says why
  std::string Refusal;
  std::uint32_t Sectors = 0;   // the volume's user sectors of 512 bytes, when rebuilt
  std::uint64_t LogPagesUsed = 0;
  std::string HeaderLayout;
  std::size_t Findings = 0;    // what the rebuild listed beside a refusal
  // What the rebuilt volume holds: a FAT file system (from its first sector), erased
  // (no page ever written), or unknown.
  PartitionContent Inside;
  std::uint64_t Bytes() const { return std::uint64_t{Sectors} * 512; }
};

// Checks entry k's volume: reads its structures as a rebuild does and its first logical
// page, none of its other data. An entry that is not an STL partition, or not in the
// dump, gives Stl false or a refusal saying why.
VolumeState CheckVolume(PageSource& chip, const PhoneDump& dump, std::size_t k);

}  // namespace orvella::phone
