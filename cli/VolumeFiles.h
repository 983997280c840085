#pragma once
// The files inside a volume, for `files`, `extract` and the report: the volume opened
// from a volume file or from a dump's partition as the phone reads it, and its listing
// with the MD5 checks a phone keeps beside some files (NAME and NAME.md5).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "evidence/ReportFiles.h"
#include "fat/Volume.h"
#include "phone/ImagePages.h"
#include "phone/PartitionBytes.h"
#include "phone/PhoneDump.h"

namespace orvella::cli {

// A volume being read and where its bytes come from. Not movable: the volume reads the
// source it holds.
struct OpenedVolume {
  std::string Source;            // the file as given
  std::optional<std::size_t> Row;  // 0-based table row of a dump's partition
  std::string RowName;
  std::string Layer;             // "file", or the partition's "stl" or "bml"
  std::string LayerText;         // one line for people
  std::string StlRefusal;        // why a partition's STL volume was not rebuilt

  phone::VolumeFile File;
  phone::ImagePageSource Chip;
  phone::PhoneDump Dump;
  phone::PartitionBytes Partition;
  std::unique_ptr<fat::Volume> Volume;

  OpenedVolume() = default;
  OpenedVolume(const OpenedVolume&) = delete;
  OpenedVolume& operator=(const OpenedVolume&) = delete;
};

// Opens SOURCE as a volume file (no row) or a dump's partition (--row N|NAME), then its
// FAT volume. False after saying why on standard error as `command`. A partition whose
// STL volume was refused is read through the bad-block layer's view, said on standard
// error too.
bool OpenVolume(const std::string& command, const std::string& source, const std::string& row,
                OpenedVolume& v);

// "FAT16, label "EFS", 2000 clusters of 2048 bytes".
std::string FileSystemText(const fat::Volume& volume);

// What a file's sibling NAME.md5 says of it.
enum class Md5Check : std::uint8_t {
  None,     // no sibling holding 32 hex digits
  Matches,  // they equal the file's MD5
  Differs,  // they do not (phones may keep another form of checksum there: not damage)
  Unread,   // the file could not be read whole, so its MD5 is unknown
};
// "md5 matches", "md5 differs", "md5 unread", "-".
const char* Md5CheckText(Md5Check check);

struct ListedEntry {
  fat::Entry Entry;
  Md5Check Check = Md5Check::None;
  std::string Md5;  // lower-case hex where it was computed
  std::vector<std::size_t> Findings;  // indexes into VolumeListing::Findings
};

struct VolumeListing {
  std::vector<ListedEntry> Entries;    // in the walk's order
  std::vector<fat::Finding> Findings;  // in the walk's order
  std::vector<std::size_t> VolumeFindings;  // those on no listed entry
  fat::WalkTotals Totals;
};

// Walks the volume, then computes the MD5 of each file with a NAME.md5 sibling (every
// file's with `everyDigest`). False with `error` when the digest cannot be made.
bool ListVolume(fat::Volume& volume, bool everyDigest, VolumeListing& listing, std::string& error);

// The 32 hex digits a checksum file holds at its start (then its end, a blank or a
// NUL), in lower case; nothing when it holds none.
std::optional<std::string> Md5FileDigits(const std::vector<std::uint8_t>& bytes);

// "2011-03-02 11:22:33" or "-" for a date that is no calendar date.
std::string ModifiedText(const fat::DosTimestamp& t);

// The files of the dump's EFS partition for the report, when its STL volume rebuilds;
// nothing otherwise (no table, no EFS, not rebuilt). Problems reading the file system
// once it rebuilt are in the result.
std::optional<VolumeFilesFacts> EfsFilesOfDump(const std::string& image);

}  // namespace orvella::cli
