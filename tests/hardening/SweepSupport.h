#pragma once
// Helpers of the fault sweeps: a folder's files with their bytes, and the rule every
// failed run must satisfy for the files it leaves behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace orvella::test {

using Bytes = std::vector<std::uint8_t>;
using FolderFiles = std::map<std::string, Bytes>;  // full path -> contents

// The whole file in one read (the sweeps read megabytes per step, also unoptimised).
inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) bytes.clear();
  return bytes;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.flush()) << path;
}

inline FolderFiles FilesIn(const std::filesystem::path& dir) {
  FolderFiles files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path().string());
  return files;
}

inline void EmptyFolder(const std::filesystem::path& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    std::filesystem::remove_all(entry.path());
}

// What a failed command may leave in its output folder, compared with what the same
// command wrote in a clean run:
//  - a file the command reported as written is complete: byte for byte the clean file;
//  - at most one other file, the one being written when the failure struck: it is
//    shorter than the complete file and holds its first bytes (what was written so
//    far), so its size alone shows that it is not complete;
//  - nothing the clean run did not write.
inline ::testing::AssertionResult LeftoversAreHonest(const FolderFiles& clean,
                                                     const FolderFiles& after,
                                                     const std::vector<std::string>& reported) {
  int partial = 0;
  for (const auto& [path, bytes] : after) {
    const auto want = clean.find(path);
    if (want == clean.end())
      return ::testing::AssertionFailure() << "unexpected file " << path;
    const bool listed = std::find(reported.begin(), reported.end(), path) != reported.end();
    if (listed) {
      if (bytes != want->second)
        return ::testing::AssertionFailure() << "reported as written but differs: " << path;
      continue;
    }
    ++partial;
    if (bytes.size() >= want->second.size() && !want->second.empty())
      return ::testing::AssertionFailure()
             << "failed file " << path << " is as long as a complete one (" << bytes.size()
             << " bytes)";
    if (!std::equal(bytes.begin(), bytes.end(), want->second.begin()))
      return ::testing::AssertionFailure() << "failed file " << path
                                           << " does not hold the first bytes of its data";
  }
  if (partial > 1) return ::testing::AssertionFailure() << partial << " unfinished files";
  return ::testing::AssertionSuccess();
}

}  // namespace orvella::test
