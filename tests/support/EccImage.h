#pragma once
// Full image files whose spare data carry the ECC codes of a named spare layout, and the
// bit errors a worn chip leaves in them.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "image/ImageBuilder.h"
#include "nand/SpareLayout.h"

namespace orvella::test {

// Noise in the main data (the pattern fill is too regular: its codes are all FF FF FF,
// as erased sectors' are), the layout's codes in the spare data, these blocks marked bad.
inline void MakeEccImage(const std::string& path, std::uint32_t chipMiB,
                         const std::vector<PartitionSpec>& table, const std::string& layout,
                         const std::vector<std::uint32_t>& badBlocks = {}) {
  NandSpec nand;
  nand.EccLayout = layout;
  nand.BadBlocks = badBlocks;
  std::string error;
  ASSERT_TRUE(WriteFullImage(path, ImageSpec{chipMiB, table, ImageFill::Noise}, nand, error)) << error;
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

}  // namespace orvella::test
