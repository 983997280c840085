#pragma once
// Full image files whose spare data carry the ECC codes of a named spare layout, and the
// faults a worn chip leaves in them: flipped bits and blocks marked bad.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nand/SpareLayout.h"

namespace orvella::test {

// The main data size of a full image file of `fileSize` bytes (main + main / 32).
inline std::uint64_t MainBytesOf(std::uint64_t fileSize) { return fileSize / 33 * 32; }

// Rewrites the spare area of the image: every sector's codes where `layout` puts them,
// every other spare byte 0xFF, so no block is marked bad.
inline void WriteEccSpare(const std::string& path, const std::string& layoutName) {
  const nand::SpareLayout* layout = nand::FindLayout(layoutName);
  ASSERT_NE(layout, nullptr) << layoutName;
  const std::uint64_t main = MainBytesOf(std::filesystem::file_size(path));
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  ASSERT_TRUE(f) << path;
  constexpr std::uint64_t kChunk = 1 << 20;
  std::vector<std::uint8_t> data(kChunk), spare(kChunk / 32);
  for (std::uint64_t at = 0; at < main; at += kChunk) {
    f.seekg(static_cast<std::streamoff>(at));
    f.read(reinterpret_cast<char*>(data.data()), kChunk);
    std::fill(spare.begin(), spare.end(), 0xFF);
    for (std::uint64_t s = 0; s < kChunk / nand::kSectorBytes; ++s)
      nand::WriteSectorCodes(*layout, data.data() + s * nand::kSectorBytes,
                             spare.data() + s * nand::kSpareBytes);
    f.seekp(static_cast<std::streamoff>(main + at / 32));
    f.write(reinterpret_cast<const char*>(spare.data()), static_cast<std::streamsize>(spare.size()));
  }
  ASSERT_TRUE(f) << path;
}

// Flips data bit `bit` (8 * byte + bit) of main sector `sector`.
inline void FlipSectorBit(const std::string& path, std::uint64_t sector, std::uint32_t bit) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  const auto at = static_cast<std::streamoff>(sector * nand::kSectorBytes + bit / 8);
  char c = 0;
  f.seekg(at);
  f.get(c);
  f.seekp(at);
  f.put(static_cast<char>(c ^ (1 << (bit % 8))));
  ASSERT_TRUE(f) << path;
}

// Marks erase block `block` bad as OneNAND does: 00 00 in spare bytes 0-1 of its first sector.
inline void MarkBlockBad(const std::string& path, std::uint64_t block) {
  const std::uint64_t main = MainBytesOf(std::filesystem::file_size(path));
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(main + block * nand::kSectorsPerBlock * nand::kSpareBytes));
  f.write("\0\0", 2);
  ASSERT_TRUE(f) << path;
}

}  // namespace orvella::test
