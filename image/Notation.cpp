#include "image/Notation.h"

#include <cstdio>

namespace orvella {

namespace {

constexpr std::uint64_t kSectorBytes = 512;

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

std::string BlockText(std::uint64_t block) { return Hex(block, 4); }

std::string BlocksText(std::uint64_t first, std::uint64_t count) {
  if (count == 0) return "none at " + BlockText(first);
  return BlockText(first) + ".." + BlockText(first + count - 1);
}

std::string OffsetText(std::uint64_t offset) { return Hex(offset, 8); }

std::string SectorText(std::uint64_t sector) {
  return std::to_string(sector) + " at " + OffsetText(sector * kSectorBytes);
}

}  // namespace orvella
