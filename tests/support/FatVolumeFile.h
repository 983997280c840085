#pragma once
// A FAT16 volume file made in code, for suites that run where no formatting tool does
// (Windows): 64 KiB clusters, at least the 4085 clusters FAT16 needs, files in the root
// folder under long names, each in consecutive clusters. The clusters are written only
// where a file has bytes that are not zero, so a volume holding a file of hundreds of MiB
// costs no disk (the file is sparse).

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fat/Directory.h"

namespace orvella::test {

struct FatVolumeEntry {
  std::u16string Name;  // the long name; the short one is made up
  std::uint64_t Size = 0;
  bool Zeros = false;   // all zero bytes (left sparse), else FatVolumeByte's
};

inline std::uint8_t FatVolumeByte(std::size_t entry, std::uint64_t i) {
  return static_cast<std::uint8_t>(i * 31 + entry * 7 + (i >> 11));
}

// Files modified 2024-03-15 13:45:08. False when the file cannot be written.
inline bool WriteFatVolume(const std::string& path, const std::vector<FatVolumeEntry>& entries) {
  constexpr std::uint32_t kSector = 512, kSpc = 128, kCluster = kSector * kSpc, kRootEntries = 512;
  std::uint64_t needed = 0;
  for (const FatVolumeEntry& e : entries) needed += (e.Size + kCluster - 1) / kCluster;
  const std::uint64_t clusters = std::max<std::uint64_t>(4200, needed + 16);
  const std::uint64_t fatSectors = ((clusters + 2) * 2 + kSector - 1) / kSector;
  const std::uint64_t rootAt = (1 + 2 * fatSectors) * kSector;
  const std::uint64_t dataAt = rootAt + kRootEntries * 32;
  const std::uint64_t total = dataAt / kSector + clusters * kSpc;
  if (total > 0xFFFFFFFFull || clusters >= 65525) return false;

  std::vector<std::uint8_t> head(dataAt, 0);
  auto put = [&](std::uint64_t at, std::uint64_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) head[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  const std::uint8_t jump[3] = {0xEB, 0x3C, 0x90};
  std::copy(jump, jump + 3, head.begin());
  put(11, kSector, 2);
  head[13] = kSpc;
  put(14, 1, 2);
  head[16] = 2;
  put(17, kRootEntries, 2);
  head[21] = 0xF8;
  put(22, fatSectors, 2);
  put(32, total, 4);
  head[38] = 0x29;
  const std::string label = "TESTVOL    FAT16   ";
  std::copy(label.begin(), label.end(), head.begin() + 43);
  head[510] = 0x55;
  head[511] = 0xAA;
  auto setFat = [&](std::uint64_t cluster, std::uint32_t v) {
    for (std::uint64_t f = 0; f < 2; ++f) put(kSector + f * fatSectors * kSector + 2 * cluster, v, 2);
  };
  setFat(0, 0xFFF8);
  setFat(1, 0xFFFF);

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::uint32_t next = 2;
  std::uint64_t slot = rootAt;
  std::vector<std::uint8_t> chunk;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const FatVolumeEntry& e = entries[k];
    const auto count = static_cast<std::uint32_t>((e.Size + kCluster - 1) / kCluster);
    const std::uint32_t first = count ? next : 0;
    for (std::uint32_t c = 0; c < count; ++c) setFat(next + c, c + 1 < count ? next + c + 1 : 0xFFFF);
    std::array<std::uint8_t, 32> shortEntry{};
    const std::string shortName = "F" + std::to_string(100000 + k).substr(1) + "  BIN";
    std::copy(shortName.begin(), shortName.end(), shortEntry.begin());
    shortEntry[fat::kEntAttr] = fat::kAttrArchive;
    const std::uint16_t date = (44 << 9) | (3 << 5) | 15, time = (13 << 11) | (45 << 5) | 4;
    for (unsigned at : {fat::kEntCreateDate, fat::kEntWriteDate, fat::kEntAccessDate}) {
      shortEntry[at] = static_cast<std::uint8_t>(date);
      shortEntry[at + 1] = static_cast<std::uint8_t>(date >> 8);
    }
    for (unsigned at : {fat::kEntCreateTime, fat::kEntWriteTime}) {
      shortEntry[at] = static_cast<std::uint8_t>(time);
      shortEntry[at + 1] = static_cast<std::uint8_t>(time >> 8);
    }
    shortEntry[fat::kEntClusterLow] = static_cast<std::uint8_t>(first);
    shortEntry[fat::kEntClusterLow + 1] = static_cast<std::uint8_t>(first >> 8);
    for (unsigned i = 0; i < 4; ++i) shortEntry[fat::kEntSize + i] = static_cast<std::uint8_t>(e.Size >> (8 * i));
    // The long name's entries, last part first, then the short entry.
    std::u16string units = e.Name;
    if (units.size() % 13) units += u'\0';
    while (units.size() % 13) units += u'\xFFFF';
    const auto parts = static_cast<unsigned>(units.size() / 13);
    static constexpr unsigned kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (unsigned p = parts; p >= 1; --p, slot += 32) {
      head[slot] = static_cast<std::uint8_t>(p | (p == parts ? fat::kLfnLastPart : 0));
      head[slot + fat::kEntAttr] = fat::kAttrLongName;
      head[slot + fat::kLfnChecksum] = fat::ShortNameChecksum(shortEntry.data());
      for (unsigned i = 0; i < 13; ++i) put(slot + kAt[i], units[(p - 1) * 13 + i], 2);
    }
    std::copy(shortEntry.begin(), shortEntry.end(), head.begin() + static_cast<std::ptrdiff_t>(slot));
    slot += 32;
    if (!e.Zeros && e.Size > 0) {
      chunk.resize(static_cast<std::size_t>(e.Size));
      for (std::uint64_t i = 0; i < e.Size; ++i) chunk[i] = FatVolumeByte(k, i);
      out.seekp(static_cast<std::streamoff>(dataAt + (next - 2ull) * kCluster));
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    }
    next += count;
  }
  out.seekp(0);
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  out.close();
  std::error_code ec;
  std::filesystem::resize_file(path, total * kSector, ec);
  return out.good() && !ec;
}

}  // namespace orvella::test
