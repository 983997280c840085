#pragma once
// The boot sector of a FAT volume and the geometry it gives: where the FATs, the root
// folder and the clusters lie, and which FAT type the cluster count makes it.

#include <cstdint>
#include <string>

namespace orvella::fat {

inline constexpr std::uint32_t kBootSectorBytes = 512;

// Boot sector fields, little-endian.
inline constexpr std::uint32_t kBsBytesPerSector = 11;     // u16
inline constexpr std::uint32_t kBsSectorsPerCluster = 13;  // u8
inline constexpr std::uint32_t kBsReservedSectors = 14;    // u16
inline constexpr std::uint32_t kBsFatCount = 16;           // u8
inline constexpr std::uint32_t kBsRootEntries = 17;        // u16, 0 on FAT32
inline constexpr std::uint32_t kBsTotalSectors16 = 19;     // u16, 0: see kBsTotalSectors32
inline constexpr std::uint32_t kBsFatSectors16 = 22;       // u16, 0 on FAT32
inline constexpr std::uint32_t kBsTotalSectors32 = 32;     // u32
inline constexpr std::uint32_t kBsVolumeId16 = 39;         // u32 (FAT12/16)
inline constexpr std::uint32_t kBsLabel16 = 43;            // 11 bytes (FAT12/16)
inline constexpr std::uint32_t kBsFatSectors32 = 36;       // u32 (FAT32)
inline constexpr std::uint32_t kBsRootCluster32 = 44;      // u32 (FAT32)
inline constexpr std::uint32_t kBsVolumeId32 = 67;         // u32 (FAT32)
inline constexpr std::uint32_t kBsLabel32 = 71;            // 11 bytes (FAT32)
inline constexpr std::uint32_t kBsSignature = 510;         // 0x55 0xAA

// Below these cluster counts a volume is FAT12, then FAT16; from the second on, FAT32.
inline constexpr std::uint32_t kFat16MinClusters = 4085;
inline constexpr std::uint32_t kFat32MinClusters = 65525;
// The most clusters a FAT32 entry can number (28 bits, less the reserved values).
inline constexpr std::uint32_t kFat32MaxClusters = 0x0FFFFFF5;

enum class FatType : std::uint8_t { Fat12, Fat16, Fat32 };
// "FAT12", "FAT16", "FAT32".
const char* FatTypeName(FatType type);

struct Geometry {
  FatType Type = FatType::Fat12;
  std::uint32_t BytesPerSector = 0;
  std::uint32_t SectorsPerCluster = 0;
  std::uint32_t ClusterBytes = 0;
  std::uint32_t ReservedSectors = 0;
  std::uint32_t FatCount = 0;
  std::uint32_t FatSectors = 0;
  std::uint32_t RootEntries = 0;     // FAT12/16: entries of the fixed root folder
  std::uint32_t RootCluster = 0;     // FAT32: first cluster of the root folder
  std::uint64_t TotalSectors = 0;
  std::uint32_t Clusters = 0;        // data clusters, numbered 2 .. Clusters + 1
  std::uint64_t FatOffset = 0;       // byte offset of the first FAT
  std::uint64_t RootOffset = 0;      // FAT12/16: byte offset of the fixed root folder
  std::uint64_t DataOffset = 0;      // byte offset of cluster 2
  std::uint64_t VolumeBytes = 0;     // TotalSectors * BytesPerSector
  std::uint32_t VolumeId = 0;
  std::string BootLabel;             // the boot sector's label, trailing spaces cut
};

// Reads the geometry from the first 512 bytes of a volume that holds `sourceBytes`
// bytes. False with `error` naming the impossible value when the sector is no FAT boot
// sector, or when the FATs (and a FAT12/16 root folder) do not lie inside the source.
bool ParseBootSector(const std::uint8_t* sector, std::uint64_t sourceBytes, Geometry& g,
                     std::string& error);

inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

}  // namespace orvella::fat
