#pragma once
// Images for the evidence suites, made in code, and the `orvella` tool run on them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/RunTool.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "support/TestFiles.h"

namespace orvella::test {

constexpr std::uint64_t kBS = kBlockSize;
constexpr std::uint32_t kRest = 0xFFFFFFFFu;
constexpr std::uint64_t kSparePerBlockBytes = kBlockSize / kSpareDivisor;

inline std::string Q(const std::string& s) { return "'" + s + "'"; }  // test paths hold no quote

inline std::string MakeImage(const TempDir& dir, const std::string& name, std::uint32_t chipMiB,
                             const std::vector<PartitionSpec>& table, ImageFill fill) {
  const std::string path = dir.File(name);
  std::string error;
  EXPECT_TRUE(WriteFullImage(path, ImageSpec{chipMiB, table, fill}, error)) << error;
  return path;
}

// File offset of byte `at` of block `block`'s main data, and of its spare data, in an
// image of `blocks` blocks.
inline std::uint64_t MainAt(std::uint64_t block, std::uint64_t at) { return block * kBS + at; }
inline std::uint64_t SpareAt(std::uint64_t blocks, std::uint64_t block, std::uint64_t at) {
  return blocks * kBS + block * kSparePerBlockBytes + at;
}

// Inverts the bytes at these offsets, so that each surely differs from before.
inline void FlipBytes(const std::string& path, const std::vector<std::uint64_t>& offsets) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f) << path;
  for (std::uint64_t o : offsets) {
    char c = 0;
    f.seekg(static_cast<std::streamoff>(o));
    f.get(c);
    f.seekp(static_cast<std::streamoff>(o));
    f.put(static_cast<char>(~c));
  }
  ASSERT_TRUE(f) << path;
}

inline nlohmann::json JsonOf(const ToolResult& r) {
  const auto j = nlohmann::json::parse(r.out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << r.out << r.err;
  return j;
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace orvella::test
