#include "phone/Content.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "phone/SpareBuffer.h"

namespace orvella::phone {

namespace {

constexpr std::uint32_t kPitMagic = 0x12349876;

constexpr char kStlSignature[8] = {'F', 'S', 'R', '_', 'S', 'T', 'L', '\0'};
constexpr std::uint32_t kStlRootSData3 = 0x0140FEBF;  // page type 0x0140 and its complement
constexpr std::uint32_t kStlRootBlocks = 2;

constexpr std::uint32_t kXsr3At = 0x10;  // "XSR3" and its complement after it
constexpr std::uint32_t kXsr2At = 0x0C;

constexpr std::uint32_t kZImageMagicAt = 0x24;
constexpr std::uint32_t kZImageStartAt = 0x28;
constexpr std::uint32_t kZImageEndAt = 0x2C;
constexpr std::uint32_t kZImageMagic = 0x016F2818;

constexpr std::uint32_t kJ4fsMagic = 0x87654321;
constexpr std::uint32_t kJ4fsRecordType = 0x12345678;
constexpr std::uint32_t kJ4fsRecordWords = 8;

// FAT boot sector offsets.
constexpr std::uint32_t kBpbBytesPerSector = 11;   // u16
constexpr std::uint32_t kBpbSectorsPerCluster = 13;  // u8
constexpr std::uint32_t kBpbReserved = 14;         // u16
constexpr std::uint32_t kBpbFats = 16;             // u8
constexpr std::uint32_t kBpbRootEntries = 17;      // u16
constexpr std::uint32_t kBpbTotal16 = 19;          // u16
constexpr std::uint32_t kBpbFatSize16 = 22;        // u16
constexpr std::uint32_t kBpbTotal32 = 32;          // u32
constexpr std::uint32_t kBpbFatSize32 = 36;        // u32
constexpr std::uint32_t kBs16ExtSignature = 38;    // u8 0x29, label at 43
constexpr std::uint32_t kBs32ExtSignature = 66;    // u8 0x29, label at 71
constexpr std::uint32_t kBootSignature = 510;      // 55 AA

std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t LE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Every byte equals the first when the bytes equal themselves one place on.
bool AllFF(const std::uint8_t* p, std::size_t n) {
  return n == 0 || (p[0] == 0xFF && std::memcmp(p, p + 1, n - 1) == 0);
}

// Bytes as text: ASCII as it is, the other bytes as the Latin-1 characters of their codes.
std::string LabelText(const std::uint8_t* p, std::size_t n) {
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = p[i];
    if (c < 0x80) {
      out.push_back(c < 0x20 ? '?' : static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

PartitionContent Judged(Holds kind, std::string detail = {}) {
  PartitionContent c;
  c.Kind = kind;
  c.Detail = std::move(detail);
  return c;
}

bool IsStlRoot(const std::uint8_t* main, const std::uint8_t* spare) {
  return std::memcmp(main, kStlSignature, sizeof kStlSignature) == 0 &&
         SpareBuffer::FromPageSpare(spare).SData3() == kStlRootSData3;
}

bool IsXsr(const std::uint8_t* main) {
  static constexpr std::uint8_t kXsr3[8] = {'X', 'S', 'R', '3', 0xA7, 0xAC, 0xAD, 0xCC};
  return std::memcmp(main + kXsr3At, kXsr3, sizeof kXsr3) == 0 || std::memcmp(main + kXsr2At, "XSR2", 4) == 0;
}

bool HasRecordType(const std::uint8_t* page) {
  for (std::uint32_t w = 0; w < kJ4fsRecordWords; ++w)
    if (LE32(page + 4 * w) == kJ4fsRecordType) return true;
  return false;
}

}  // namespace

const char* HoldsWord(Holds holds) {
  switch (holds) {
    case Holds::Stl: return "stl";
    case Holds::Xsr: return "xsr";
    case Holds::Fat12: return "fat12";
    case Holds::Fat16: return "fat16";
    case Holds::Fat32: return "fat32";
    case Holds::Kernel: return "kernel";
    case Holds::J4fs: return "j4fs";
    case Holds::Pit: return "pit";
    case Holds::Erased: return "erased";
    case Holds::Unknown: return "unknown";
    case Holds::Unreadable: return "unreadable";
    case Holds::Absent: return "absent";
  }
  return "unknown";
}

bool FatBootSector(const std::uint8_t* s, std::uint64_t volumeBytes, PartitionContent& content) {
  if (s[kBootSignature] != 0x55 || s[kBootSignature + 1] != 0xAA) return false;
  const std::uint32_t spc = s[kBpbSectorsPerCluster];
  const std::uint32_t reserved = LE16(s + kBpbReserved);
  const std::uint32_t fats = s[kBpbFats];
  const std::uint32_t rootEntries = LE16(s + kBpbRootEntries);
  const std::uint32_t fatSize16 = LE16(s + kBpbFatSize16);
  const std::uint64_t total = LE16(s + kBpbTotal16) != 0 ? LE16(s + kBpbTotal16) : LE32(s + kBpbTotal32);
  const std::uint64_t fatSize = fatSize16 != 0 ? fatSize16 : LE32(s + kBpbFatSize32);
  if (LE16(s + kBpbBytesPerSector) != 512 || spc == 0 || spc > 128 || (spc & (spc - 1)) != 0 ||
      reserved == 0 || fats < 1 || fats > 2 || total == 0 || total > volumeBytes / 512 || fatSize == 0)
    return false;
  const std::uint64_t rootSectors = (std::uint64_t{rootEntries} * 32 + 511) / 512;
  const std::uint64_t meta = reserved + fats * fatSize + rootSectors;
  if (meta >= total) return false;
  const std::uint64_t clusters = (total - meta) / spc;
  if (clusters == 0) return false;
  const Holds kind = clusters < 4085 ? Holds::Fat12 : clusters < 65525 ? Holds::Fat16 : Holds::Fat32;
  // The cluster count decides the type; the rest of the header must agree with it.
  if (kind == Holds::Fat32 ? rootEntries != 0 || fatSize16 != 0 : rootEntries == 0 || fatSize16 == 0)
    return false;
  const std::uint32_t ext = kind == Holds::Fat32 ? kBs32ExtSignature : kBs16ExtSignature;
  content = Judged(kind, std::to_string(clusters) + " clusters of " + std::to_string(spc * 512) + " bytes");
  if (s[ext] == 0x29) content.Label = LabelText(s + ext + 5, 11);
  return true;
}

PartitionContent JudgeContent(PageSource& volume) {
  const std::uint32_t blocks = volume.Blocks();
  if (blocks == 0) return Judged(Holds::Unknown, "no blocks");
  const std::uint64_t bytes = std::uint64_t{blocks} * kBlockMainBytes;
  std::vector<std::uint8_t> main(kPageMainBytes), spare(kPageSpareBytes);
  std::string error;
  if (!volume.ReadPage(0, 0, main.data(), spare.data(), error)) return Judged(Holds::Unreadable, error);
  const std::uint8_t* m = main.data();

  if (LE32(m) == kPitMagic) return Judged(Holds::Pit);
  if (IsStlRoot(m, spare.data())) return Judged(Holds::Stl, "root page in block 0");
  if (IsXsr(m)) return Judged(Holds::Xsr);
  if (LE32(m + kZImageMagicAt) == kZImageMagic) {
    const std::uint32_t start = LE32(m + kZImageStartAt), end = LE32(m + kZImageEndAt);
    if (end > start && end - start <= bytes)
      return Judged(Holds::Kernel, "zImage of " + std::to_string(end - start) + " bytes, linked at " + Hex8(start));
  }
  if (PartitionContent fat; FatBootSector(m, bytes, fat)) return fat;
  if (LE32(m) == kJ4fsMagic) {
    // The first file record follows the header a page or an erase block later.
    std::vector<std::uint8_t> record(kPageMainBytes);
    if ((volume.ReadPage(0, 1, record.data(), nullptr, error) && HasRecordType(record.data())) ||
        (blocks > 1 && volume.ReadPage(1, 0, record.data(), nullptr, error) && HasRecordType(record.data())))
      return Judged(Holds::J4fs);
  }
  // The root page may have moved on to the second root block, the first one erased.
  for (std::uint32_t b = 1; b < std::min(blocks, kStlRootBlocks); ++b)
    if (volume.ReadPage(b, 0, main.data(), spare.data(), error) && IsStlRoot(main.data(), spare.data()))
      return Judged(Holds::Stl, "root page in block " + std::to_string(b));

  if (!volume.ReadPage(0, 0, main.data(), nullptr, error)) return Judged(Holds::Unreadable, error);
  if (!AllFF(main.data(), main.size())) return Judged(Holds::Unknown);
  constexpr std::uint32_t kChunkBlocks = 4;
  std::vector<std::uint8_t> chunk(std::size_t{kChunkBlocks} * kBlockMainBytes);
  for (std::uint32_t b = 0; b < blocks; b += kChunkBlocks) {
    const std::uint32_t n = std::min(kChunkBlocks, blocks - b);
    if (!volume.ReadMainBlocks(b, n, chunk.data(), error)) return Judged(Holds::Unreadable, error);
    if (!AllFF(chunk.data(), std::size_t{n} * kBlockMainBytes)) return Judged(Holds::Unknown);
  }
  return Judged(Holds::Erased);
}

}  // namespace orvella::phone
