#pragma once
// What a partition holds, judged from its blocks as the phone's block device reads them:
// a logical volume of the flash translation layer, a FAT file system, a kernel image,
// the partition table, nothing, or something unknown. Each kind is recognised by its
// signatures and, where it has one, a header that must make sense for the partition's size.

#include <cstdint>
#include <string>

#include "phone/PageSource.h"

namespace orvella::phone {

enum class Holds : std::uint8_t {
  Stl,         // a logical volume: root page "FSR_STL" with the root page's spare mark
  Xsr,         // a logical volume of the older format
  Fat12, Fat16, Fat32,
  Kernel,      // an ARM Linux zImage
  J4fs,        // the parameter file system
  Pit,         // the partition table
  Erased,      // main data all 0xFF
  Unknown,
  Unreadable,  // its blocks cannot all be read from this dump
  Absent,      // not in this dump
};
// The short word of each: "stl", "xsr", "fat12", "fat16", "fat32", "kernel", "j4fs",
// "pit", "erased", "unknown", "unreadable", "absent".
const char* HoldsWord(Holds holds);

struct PartitionContent {
  Holds Kind = Holds::Absent;
  std::string Label;   // a FAT volume label, trailing blanks cut; empty otherwise
  std::string Detail;  // one line for people: sizes, or why it cannot be read
};

// Judges `volume` (a partition's blocks in order). Reads the first pages, and all of the
// main data only when the first page is erased (to tell erased from unknown).
PartitionContent JudgeContent(PageSource& volume);

// True, with the type, label and a detail line, when the 512 bytes at `sector` are a sane
// FAT boot sector for a volume of `volumeBytes`.
bool FatBootSector(const std::uint8_t* sector, std::uint64_t volumeBytes, PartitionContent& content);

}  // namespace orvella::phone
