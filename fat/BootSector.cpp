#include "fat/BootSector.h"

#include <cstdio>

#include "fat/Names.h"

namespace orvella::fat {
namespace {

constexpr std::uint32_t kBsExtSignature16 = 38;  // u8, 0x29 when id and label follow
constexpr std::uint32_t kBsExtSignature32 = 66;  // u8, the same on FAT32
constexpr std::uint8_t kExtSignature = 0x29;
constexpr std::uint32_t kLabelBytes = 11;
constexpr std::uint32_t kDirEntryBytes = 32;

std::string Num(std::uint64_t v) { return std::to_string(v); }

bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::string LabelText(const std::uint8_t* p) {
  std::uint32_t n = kLabelBytes;
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
  std::string out;
  for (std::uint32_t i = 0; i < n; ++i) AppendCp437(out, p[i]);
  return out == "NO NAME" ? std::string() : out;
}

}  // namespace

const char* FatTypeName(FatType type) {
  switch (type) {
    case FatType::Fat12: return "FAT12";
    case FatType::Fat16: return "FAT16";
    case FatType::Fat32: return "FAT32";
  }
  return "FAT";
}

bool ParseBootSector(const std::uint8_t* s, std::uint64_t sourceBytes, Geometry& g,
                     std::string& error) {
  g = Geometry{};
  if (s[kBsSignature] != 0x55 || s[kBsSignature + 1] != 0xAA) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "bytes 510 and 511 hold %02X %02X, not the boot signature 55 AA",
                  s[kBsSignature], s[kBsSignature + 1]);
    error = buf;
    return false;
  }
  g.BytesPerSector = Le16(s + kBsBytesPerSector);
  if (g.BytesPerSector < 512 || g.BytesPerSector > 4096 || !PowerOfTwo(g.BytesPerSector)) {
    error = "bytes per sector is " + Num(g.BytesPerSector) +
            " (byte 11); a FAT volume has 512, 1024, 2048 or 4096";
    return false;
  }
  g.SectorsPerCluster = s[kBsSectorsPerCluster];
  if (!PowerOfTwo(g.SectorsPerCluster)) {
    error = "sectors per cluster is " + Num(g.SectorsPerCluster) +
            " (byte 13); it must be a power of two from 1 to 128";
    return false;
  }
  g.ClusterBytes = g.BytesPerSector * g.SectorsPerCluster;
  g.ReservedSectors = Le16(s + kBsReservedSectors);
  if (g.ReservedSectors == 0) {
    error = "reserved sectors is 0 (byte 14); the boot sector itself is one";
    return false;
  }
  g.FatCount = s[kBsFatCount];
  if (g.FatCount < 1 || g.FatCount > 2) {
    error = "the number of FATs is " + Num(g.FatCount) + " (byte 16); a volume has 1 or 2";
    return false;
  }
  g.RootEntries = Le16(s + kBsRootEntries);
  const std::uint16_t total16 = Le16(s + kBsTotalSectors16);
  g.TotalSectors = total16 ? total16 : Le32(s + kBsTotalSectors32);
  if (g.TotalSectors == 0) {
    error = "the total sector count is 0 (bytes 19 and 32)";
    return false;
  }
  const std::uint16_t fat16 = Le16(s + kBsFatSectors16);
  g.FatSectors = fat16 ? fat16 : Le32(s + kBsFatSectors32);
  if (g.FatSectors == 0) {
    error = "the FAT size is 0 sectors (bytes 22 and 36)";
    return false;
  }

  const std::uint64_t rootSectors =
      (std::uint64_t{g.RootEntries} * kDirEntryBytes + g.BytesPerSector - 1) / g.BytesPerSector;
  const std::uint64_t dataSector =
      g.ReservedSectors + std::uint64_t{g.FatCount} * g.FatSectors + rootSectors;
  if (dataSector + g.SectorsPerCluster > g.TotalSectors) {
    error = "the reserved sectors, FATs and root folder take " + Num(dataSector) +
            " sectors of the volume's " + Num(g.TotalSectors) + ", leaving no whole cluster";
    return false;
  }
  const std::uint64_t clusters = (g.TotalSectors - dataSector) / g.SectorsPerCluster;
  if (clusters > kFat32MaxClusters) {
    error = Num(clusters) + " clusters are more than a FAT can number (" +
            Num(kFat32MaxClusters) + ")";
    return false;
  }
  g.Clusters = static_cast<std::uint32_t>(clusters);
  g.Type = g.Clusters < kFat16MinClusters   ? FatType::Fat12
           : g.Clusters < kFat32MinClusters ? FatType::Fat16
                                            : FatType::Fat32;
  const std::string made = Num(g.Clusters) + " clusters make it " + FatTypeName(g.Type);
  if (g.Type == FatType::Fat32) {
    if (g.RootEntries != 0) {
      error = made + ", whose root folder is a cluster chain, but byte 17 gives " +
              Num(g.RootEntries) + " fixed root entries";
      return false;
    }
    if (fat16 != 0) {
      error = made + ", but byte 22 gives a 16-bit FAT size (" + Num(fat16) + ")";
      return false;
    }
    g.RootCluster = Le32(s + kBsRootCluster32);
    if (g.RootCluster < 2 || g.RootCluster - 2 >= g.Clusters) {
      error = "the root folder's cluster is " + Num(g.RootCluster) +
              " (byte 44), outside clusters 2 to " + Num(std::uint64_t{g.Clusters} + 1);
      return false;
    }
  } else if (g.RootEntries == 0) {
    error = made + ", but byte 17 gives no root folder entries";
    return false;
  }

  const unsigned bits = g.Type == FatType::Fat12 ? 12 : g.Type == FatType::Fat16 ? 16 : 32;
  const std::uint64_t fatBytes = std::uint64_t{g.FatSectors} * g.BytesPerSector;
  const std::uint64_t neededFatBytes = ((std::uint64_t{g.Clusters} + 2) * bits + 7) / 8;
  if (fatBytes < neededFatBytes) {
    error = "a FAT of " + Num(g.FatSectors) + " sectors numbers " + Num(fatBytes * 8 / bits - 2) +
            " clusters, fewer than the volume's " + Num(g.Clusters);
    return false;
  }

  g.FatOffset = std::uint64_t{g.ReservedSectors} * g.BytesPerSector;
  g.RootOffset = g.FatOffset + std::uint64_t{g.FatCount} * fatBytes;
  g.DataOffset = dataSector * g.BytesPerSector;
  g.VolumeBytes = g.TotalSectors * g.BytesPerSector;
  const std::uint64_t tablesEnd =
      g.Type == FatType::Fat32 ? g.FatOffset + neededFatBytes
                               : g.RootOffset + std::uint64_t{g.RootEntries} * kDirEntryBytes;
  if (tablesEnd > sourceBytes) {
    error = "the source ends at byte " + Num(sourceBytes) + ", before the end of the " +
            (g.Type == FatType::Fat32 ? "FAT" : "root folder") + " at byte " + Num(tablesEnd);
    return false;
  }

  const bool fat32Layout = g.Type == FatType::Fat32;
  if (s[fat32Layout ? kBsExtSignature32 : kBsExtSignature16] == kExtSignature) {
    g.VolumeId = Le32(s + (fat32Layout ? kBsVolumeId32 : kBsVolumeId16));
    g.BootLabel = LabelText(s + (fat32Layout ? kBsLabel32 : kBsLabel16));
  }
  return true;
}

}  // namespace orvella::fat
