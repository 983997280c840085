#pragma once
// The report's section on the files of a dump's EFS volume: each file and folder with its
// size, time, MD5 and what its NAME.md5 sibling says, and the file system's findings.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvella {

struct ReportedFile {
  std::string Path;
  std::string Kind;       // "file", "folder", "journal", "symlink", ...
  std::uint64_t Size = 0;
  std::string Modified;   // as the listing writes it; "-" for no calendar date
  std::string Md5;        // lower-case hex; empty when it could not be read whole
  std::optional<bool> Md5Matches;  // what a NAME.md5 sibling says; none without one
};

struct VolumeFilesFacts {
  std::string Partition;   // the table's name and row: "EFS (row 3)"
  std::string Layer;       // where the bytes come from, for people
  std::string FileSystem;  // "FAT16, label "EFS", 2000 clusters of 2048 bytes"; empty when none opened
  std::string Problem;     // why the file system could not be read
  std::vector<ReportedFile> Files;
  std::vector<std::string> Findings;  // "PATH: KIND: TEXT"
};

// The section, or "" for no facts.
std::string VolumeFilesHtml(const std::optional<VolumeFilesFacts>& facts);

}  // namespace orvella
