#pragma once
// A small FAT12 or FAT16 volume built byte by byte in memory (512-byte sectors and
// clusters, 64 root entries; 400 sectors give clusters 2 to 392), for the cases no
// formatting tool writes: the phone's additions, broken long names, boot sectors with
// impossible values, the walk's limits.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fat/Directory.h"

namespace orvella::fattest {

using Raw = std::array<std::uint8_t, fat::kDirEntryBytes>;

inline void PutLe(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct TinyVolume {
  static constexpr std::uint32_t kRootEntries = 64;
  static constexpr std::uint64_t kFat1 = 512;

  std::uint32_t Sectors;
  bool Fat16;  // FAT12 below 4085 clusters
  std::uint32_t FatSectors;
  std::uint64_t Root;
  std::uint64_t Data;
  std::vector<std::uint8_t> Bytes;

  explicit TinyVolume(std::uint32_t sectors = 400)
      : Sectors(sectors),
        Fat16(sectors > 4100),
        FatSectors(static_cast<std::uint32_t>(((sectors + 2ull) * (Fat16 ? 4 : 3) / 2 + 511) / 512)),
        Root((1 + 2ull * FatSectors) * 512),
        Data(Root + kRootEntries * 32),
        Bytes(sectors * 512ull) {
    const std::uint8_t jump[3] = {0xEB, 0x3C, 0x90};
    std::copy(jump, jump + 3, Bytes.begin());
    PutLe(Bytes, 11, 512, 2);
    Bytes[13] = 1;
    PutLe(Bytes, 14, 1, 2);
    Bytes[16] = 2;
    PutLe(Bytes, 17, kRootEntries, 2);
    PutLe(Bytes, 19, sectors, 2);
    Bytes[21] = 0xF8;
    PutLe(Bytes, 22, FatSectors, 2);
    Bytes[38] = 0x29;
    const std::string label = Fat16 ? "TINY       FAT16   " : "TINY       FAT12   ";
    std::copy(label.begin(), label.end(), Bytes.begin() + 43);
    Bytes[510] = 0x55;
    Bytes[511] = 0xAA;
    SetFat(0, 0xFFF8);
    SetFat(1, 0xFFFF);
  }

  std::uint32_t EndOfChain() const { return Fat16 ? 0xFFFF : 0x0FFF; }
  // Sets a FAT entry in both FATs.
  void SetFat(std::uint32_t cluster, std::uint32_t value) {
    for (const std::uint64_t fat : {kFat1, kFat1 + std::uint64_t{FatSectors} * 512}) {
      if (Fat16) {
        PutLe(Bytes, fat + 2ull * cluster, value, 2);
        continue;
      }
      const std::uint64_t at = fat + cluster + cluster / 2;
      std::uint32_t pair = Bytes[at] | (Bytes[at + 1] << 8);
      value &= 0x0FFF;
      pair = (cluster & 1) ? (pair & 0x000F) | (value << 4) : (pair & 0xF000) | value;
      PutLe(Bytes, at, pair, 2);
    }
  }
  // Links the clusters in order and ends the chain after the last.
  void Chain(const std::vector<std::uint32_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i)
      SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndOfChain());
  }
  std::uint64_t Cluster(std::uint32_t c) const { return Data + (c - 2) * 512ull; }
  std::uint64_t RootSlot(std::uint32_t i) const { return Root + i * 32ull; }

  void Put(std::uint64_t at, const std::vector<std::uint8_t>& data) {
    std::copy(data.begin(), data.end(), Bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  // Writes entries from `at` on and returns the offset after them.
  std::uint64_t PutEntries(std::uint64_t at, const std::vector<Raw>& entries) {
    for (const Raw& e : entries) {
      std::copy(e.begin(), e.end(), Bytes.begin() + static_cast<std::ptrdiff_t>(at));
      at += 32;
    }
    return at;
  }
  // Data in consecutive clusters from `first` on, chained; returns the next free cluster.
  std::uint32_t PutData(std::uint32_t first, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint32_t> chain;
    for (std::size_t off = 0; off < data.size(); off += 512) chain.push_back(first + static_cast<std::uint32_t>(off / 512));
    if (!chain.empty()) Chain(chain);
    Put(Cluster(first), data);
    return first + static_cast<std::uint32_t>(chain.size());
  }
};

// A short entry: `name11` is the 8 + 3 stored characters, space-padded.
inline Raw Short(const std::string& name11, std::uint8_t attr, std::uint32_t cluster,
                 std::uint32_t size, std::uint8_t flags = 0, std::uint8_t centis = 0) {
  Raw e{};
  for (unsigned i = 0; i < 11; ++i) e[i] = static_cast<std::uint8_t>(i < name11.size() ? name11[i] : ' ');
  e[fat::kEntAttr] = attr;
  e[fat::kEntFlags] = flags;
  e[fat::kEntCreateCentis] = centis;
  const std::uint16_t date = (44 << 9) | (3 << 5) | 15;  // 2024-03-15
  const std::uint16_t time = (13 << 11) | (45 << 5) | 4;  // 13:45:08
  for (unsigned at : {fat::kEntCreateDate, fat::kEntWriteDate, fat::kEntAccessDate}) {
    e[at] = static_cast<std::uint8_t>(date);
    e[at + 1] = static_cast<std::uint8_t>(date >> 8);
  }
  for (unsigned at : {fat::kEntCreateTime, fat::kEntWriteTime}) {
    e[at] = static_cast<std::uint8_t>(time);
    e[at + 1] = static_cast<std::uint8_t>(time >> 8);
  }
  e[fat::kEntClusterLow] = static_cast<std::uint8_t>(cluster);
  e[fat::kEntClusterLow + 1] = static_cast<std::uint8_t>(cluster >> 8);
  for (unsigned i = 0; i < 4; ++i) e[fat::kEntSize + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return e;
}

// The long-name entries of `name` for the short entry `owner`, in disk order.
inline std::vector<Raw> Long(const std::u16string& name, const Raw& owner) {
  const std::uint8_t sum = fat::ShortNameChecksum(owner.data());
  std::u16string units = name;
  if (units.size() % 13) units += u'\0';
  while (units.size() % 13) units += u'\xFFFF';
  const auto parts = static_cast<unsigned>(units.size() / 13);
  static constexpr unsigned kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::vector<Raw> out;
  for (unsigned p = parts; p >= 1; --p) {
    Raw e{};
    e[0] = static_cast<std::uint8_t>(p | (p == parts ? fat::kLfnLastPart : 0));
    e[fat::kEntAttr] = fat::kAttrLongName;
    e[fat::kLfnChecksum] = sum;
    for (unsigned i = 0; i < 13; ++i) {
      const char16_t u = units[(p - 1) * 13 + i];
      e[kAt[i]] = static_cast<std::uint8_t>(u);
      e[kAt[i] + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    out.push_back(e);
  }
  return out;
}

// The phone file system's extended entry for the short entry `owner`.
inline Raw Extended(const Raw& owner, std::uint16_t mode, std::uint32_t uid, std::uint32_t gid) {
  Raw e{};
  std::copy(fat::kXdeSignatureText, fat::kXdeSignatureText + 10, e.begin());
  e[fat::kXdeSfnChecksum] = fat::ShortNameChecksum(owner.data());
  e[fat::kEntAttr] = fat::kAttrExtended;
  for (unsigned i = 0; i < 2; ++i) e[fat::kXdeMode + i] = static_cast<std::uint8_t>(mode >> (8 * i));
  for (unsigned i = 0; i < 4; ++i) {
    e[fat::kXdeUid + i] = static_cast<std::uint8_t>(uid >> (8 * i));
    e[fat::kXdeGid + i] = static_cast<std::uint8_t>(gid >> (8 * i));
  }
  return e;
}

}  // namespace orvella::fattest
