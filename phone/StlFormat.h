#pragma once
// The records the phone's flash translation layer keeps in an STL partition: root info,
// zone info, directory header, block and page mapping tables, context and log groups,
// with the checks each carries. Shared by the volume reader and the volume writer.
//
// A partition's units are VBNs: VBN 0 .. R-1 hold the root info, then the zone: M meta
// blocks, 10 free blocks and D data blocks. Logical sector s lives in logical page s/8,
// logical block (LBN) s/512; one block mapping table (BMT) covers a local area (LA) of
// 512 logical blocks. A meta page position is a POFFSET: (meta index << 6) | page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvella::phone {

inline std::uint16_t StlU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t StlU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void StlPut16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StlPut32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// Ages are stored high word first and count down from all ones: smaller is newer.
inline std::uint64_t StlAge(const std::uint8_t* p) { return std::uint64_t{StlU32(p)} << 32 | StlU32(p + 4); }
inline void StlPutAge(std::uint8_t* p, std::uint64_t age) {
  StlPut32(p, static_cast<std::uint32_t>(age >> 32));
  StlPut32(p + 4, static_cast<std::uint32_t>(age));
}

// Number of 0 bits in n bytes: the checksum of root and directory-header pages and of
// the confirmations.
std::uint32_t ZeroBitCount(const std::uint8_t* data, std::size_t n);
// True when the 8 bytes after data[0 .. n) hold {ZBC, ZBC ^ 0xFFFFFFFF} of those n bytes.
bool ConfirmationHolds(const std::uint8_t* data, std::size_t n);
// Writes that confirmation after data[0 .. n).
void PutConfirmation(std::uint8_t* data, std::size_t n);
// CRC-32, reflected 0xEDB88320, initial value and final inversion all ones.
std::uint32_t StlCrc32(const std::uint8_t* data, std::size_t n);

// The page-type field (PTF) in SData3, stored as (PTF << 16) | (~PTF & 0xFFFF).
inline constexpr std::uint16_t kPtfRoot = 0x0140;
inline constexpr std::uint16_t kPtfDirHeader = 0x0240;
inline constexpr std::uint16_t kPtfBmtCtx = 0x0440;
inline constexpr std::uint16_t kPtfCtxPmt = 0x0840;
inline constexpr std::uint16_t kPtfRct = 0x1040;
inline constexpr std::uint16_t kPtfLogMid = 0x0110;
inline constexpr std::uint16_t kPtfLogEnd = 0x0210;
inline constexpr std::uint16_t kPtfLogBit = 0x0010;
constexpr std::uint32_t PtfWord(std::uint16_t ptf) { return std::uint32_t{ptf} << 16 | (~ptf & 0xFFFFu); }
// SData1 of meta pages: the page's type and its complement.
inline constexpr std::uint32_t kTypeBmtCtx = 0x0004FFFB;
inline constexpr std::uint32_t kTypeCtxPmt = 0x0008FFF7;
inline constexpr std::uint32_t kTypeRct = 0x0010FFEF;
// SData1 of log and data pages: the logical page offset in its block and its complement.
constexpr std::uint32_t LpoWord(std::uint32_t lpo) { return lpo << 16 | (~lpo & 0xFFFFu); }
// True when a 32-bit word holds a 16-bit value in its high half and the complement below.
constexpr bool HalvesComplement(std::uint32_t w) { return (w >> 16) == (~w & 0xFFFFu); }

inline constexpr std::uint16_t kNone16 = 0xFFFF;
inline constexpr std::uint32_t kStlRootBlocks = 2;   // R of the volumes read here
inline constexpr std::uint32_t kStlFreeBlocks = 10;  // 8 active logs + 2
inline constexpr std::uint32_t kStlMaxMetaBlocks = 96;
inline constexpr std::uint32_t kStlBlocksPerLa = 512;
inline constexpr std::uint32_t kStlMaxActiveLogs = 8;
inline constexpr std::uint32_t kStlLogsPerGroup = 8;
inline constexpr std::uint32_t kStlMaxPmtDir = 2048;
inline constexpr std::uint32_t kStlSectorsPerBlock = 512;
inline constexpr std::uint64_t kStlAgeStart = ~std::uint64_t{0};

// Root info: sectors 0-3 of a root page.
inline constexpr char kStlSignature[8] = {'F', 'S', 'R', '_', 'S', 'T', 'L', '\0'};
inline constexpr std::uint32_t kRootVersion = 8;         // u32 STL version
inline constexpr std::uint32_t kRootAge = 12;            // u32 high, u32 low
inline constexpr std::uint32_t kRootMetaVersion = 20;    // u32, 0x12000400
inline constexpr std::uint32_t kRootStartVbn = 24;       // u16
inline constexpr std::uint32_t kRootPageOffset = 26;     // u16 next root page over R x 64
inline constexpr std::uint32_t kRootZones = 28;          // u16, 1
inline constexpr std::uint32_t kRootBlockCount = 30;     // u16 R
inline constexpr std::uint32_t kRootN = 32;              // u16 data blocks per group (1)
inline constexpr std::uint32_t kRootK = 34;              // u16 logs per group (8)
inline constexpr std::uint32_t kRootLog2N = 36;          // u16 0
inline constexpr std::uint32_t kRootLog2K = 38;          // u16 3
inline constexpr std::uint32_t kRootEraseCounts = 40;    // u32 x R
inline constexpr std::uint32_t kRootInfoBuffer = 2048;
inline constexpr std::uint32_t kZoneInfoBytes = 224;
inline constexpr std::uint32_t kZoneCount = 8;
inline constexpr std::uint32_t kStlMetaFormat = 0x12000400;
// Where zone 0 starts and how many root-info bytes the page checksum covers.
constexpr std::uint32_t ZoneInfoOffset(std::uint32_t rootBlocks) { return kRootEraseCounts + 4 * rootBlocks; }
constexpr std::uint32_t RootInfoChecked(std::uint32_t rootBlocks) {
  return ZoneInfoOffset(rootBlocks) + kZoneCount * kZoneInfoBytes;
}

// Zone info (224 bytes).
inline constexpr std::uint32_t kZoneStartVbn = 0;     // u16 R
inline constexpr std::uint32_t kZoneBlocks = 2;       // u16 T
inline constexpr std::uint32_t kZoneMetaBlocks = 4;   // u16 M
inline constexpr std::uint32_t kZoneDhPages = 6;      // u8 P
inline constexpr std::uint32_t kZoneRctPages = 7;     // u8
inline constexpr std::uint32_t kZoneMaxPmtDir = 8;    // u16 min(2048, D)
inline constexpr std::uint32_t kZoneGroupsPerPmt = 10;  // u16 8
inline constexpr std::uint32_t kZoneFreeBlocks = 12;  // u16 10
inline constexpr std::uint32_t kZoneUserBlocks = 14;  // u16 D
inline constexpr std::uint32_t kZoneUserSectors = 16;  // u32 D x 512
inline constexpr std::uint32_t kZoneUserPages = 20;   // u32 D x 64
inline constexpr std::uint32_t kZoneLaCount = 24;     // u16 L
inline constexpr std::uint32_t kZoneBlocksPerLa = 26;  // u16 512
inline constexpr std::uint32_t kZoneLog2BlocksPerLa = 28;  // u32 9
inline constexpr std::uint32_t kZoneMetaList = 32;    // u16 x 96 meta block VBNs

// Meta pages. BMT+CTX: the BMT in bytes 0-3583, the context from 3584. CTX+PMT: the
// context in bytes 0-511, eight log-group slots from 512.
inline constexpr std::uint32_t kBmtCtxContext = 3584;
inline constexpr std::uint32_t kPmtSlots = 512;
inline constexpr std::uint32_t kPmtSlotBytes = 360;
inline constexpr std::uint32_t kContextBytes = 512;

// Block mapping table of one LA.
inline constexpr std::uint32_t kBmtLan = 0;         // u16, then ~LAN at 2
inline constexpr std::uint32_t kBmtVbns = 4;        // u16 x 512 data-block VBN per LBN
inline constexpr std::uint32_t kBmtEraseCounts = 1028;  // u32 x 512
inline constexpr std::uint32_t kBmtGarbage = 3076;  // 64 bytes: bit set = no valid data
inline constexpr std::uint32_t kBmtChecked = 3140;  // confirmation over bytes 0-3139

// Context.
inline constexpr std::uint32_t kCtxAge = 0;             // u32 high, u32 low
inline constexpr std::uint32_t kCtxMergedDgn = 8;       // u16
inline constexpr std::uint32_t kCtxMergedVbn = 10;      // u16
inline constexpr std::uint32_t kCtxMergeVictim = 14;    // u16 DGN, u16 flag at 16
inline constexpr std::uint32_t kCtxModifiedDgn = 18;    // u16 DGN, u16 cost at 20
inline constexpr std::uint32_t kCtxActiveCount = 22;    // u16
inline constexpr std::uint32_t kCtxFreeCount = 24;      // u16
inline constexpr std::uint32_t kCtxFreeHead = 26;       // u16
inline constexpr std::uint32_t kCtxIdleBlocks = 28;     // u32
inline constexpr std::uint32_t kCtxMinEcLan = 32;       // u16
inline constexpr std::uint32_t kCtxZoneWl = 34;         // 34-42 u16 x 5, then u32 EC at 44, 48
inline constexpr std::uint32_t kCtxMinEcPmt = 52;       // u16, u16 at 54, 8 bytes at 56
inline constexpr std::uint32_t kCtxActiveList = 64;     // 8 x {u16 DGN, u16 VBN}
inline constexpr std::uint32_t kCtxFreeList = 96;       // u16 x 32 ring
inline constexpr std::uint32_t kCtxFreeSlots = 32;
inline constexpr std::uint32_t kCtxFreeEc = 160;        // u32 x 32
inline constexpr std::uint32_t kCtxLaArrays = 288;      // u32 x L min EC, then u16 x L index
// Where the context's confirmation lies for L local areas.
constexpr std::uint32_t ContextChecked(std::uint32_t las) { return (kCtxLaArrays + 6 * las + 3) / 4 * 4; }

// Log group (one PMT slot).
inline constexpr std::uint32_t kGroupDgn = 0;           // u16, 0xFFFF = empty slot
inline constexpr std::uint32_t kGroupMinValidLog = 2;   // u16
inline constexpr std::uint32_t kGroupState = 4;         // u8 state, logs, head, tail
inline constexpr std::uint32_t kGroupLogCount = 5;
inline constexpr std::uint32_t kGroupMinEcVbn = 8;      // u16 VBN, u16 index at 10, u32 EC at 12
inline constexpr std::uint32_t kGroupLogs = 16;         // 8 x 20-byte log records
inline constexpr std::uint32_t kGroupLogLbns = 176;     // u16 x 8
inline constexpr std::uint32_t kGroupLogDataBlocks = 192;  // u16 x 8
inline constexpr std::uint32_t kGroupLogValid = 208;    // u16 x 8
inline constexpr std::uint32_t kGroupPageMap = 224;     // u16 x 64: (log << 6) | page
inline constexpr std::uint32_t kGroupChecked = 352;     // confirmation over bytes 0-351
inline constexpr std::uint32_t kLogRecordBytes = 20;
inline constexpr std::uint32_t kLogState = 0;           // u8: low 4 bits 0 free .. 4 garbage
inline constexpr std::uint32_t kLogSelf = 1;            // u8, prev at 2, next at 3
inline constexpr std::uint32_t kLogVbn = 4;             // u16
inline constexpr std::uint32_t kLogLastLpo = 6;         // u16
inline constexpr std::uint32_t kLogCleanPage = 8;       // u16 first page not recorded
inline constexpr std::uint32_t kLogLsbOffset = 10;      // u16
inline constexpr std::uint32_t kLogNop = 12;            // u16, clean sector offset at 14
inline constexpr std::uint32_t kLogEraseCount = 16;     // u32

// Directory header: fixed members (28 bytes) after the arrays.
inline constexpr std::uint32_t kDhAge = 0;              // u32 high, u32 low
inline constexpr std::uint32_t kDhVictim = 8;           // u32 compaction victim index
inline constexpr std::uint32_t kDhHeaderIndex = 12;     // u16 (stale)
inline constexpr std::uint32_t kDhCleanPage = 14;       // u16 (stale)
inline constexpr std::uint32_t kDhLatestBlock = 16;     // u16 (stale)
inline constexpr std::uint32_t kDhLatestPage = 18;      // u16 (stale)
inline constexpr std::uint32_t kDhIdleHead = 20;        // u16
inline constexpr std::uint32_t kDhIdleCount = 22;       // u16
inline constexpr std::uint32_t kDhMinEcPmt = 24;        // u16
inline constexpr std::uint32_t kDhPmtEntries = 26;      // u16
inline constexpr std::uint32_t kDhFixedBytes = 28;

// The partition's division, from its unit count, as a format makes it.
struct StlGeometry {
  std::uint32_t Units = 0;
  std::uint32_t RootBlocks = kStlRootBlocks;
  std::uint32_t ZoneBlocks = 0;   // T
  std::uint32_t MetaBlocks = 0;   // M
  std::uint32_t FreeBlocks = kStlFreeBlocks;
  std::uint32_t UserBlocks = 0;   // D
  std::uint32_t LocalAreas = 0;   // L
  std::uint32_t PmtDir = 0;       // min(2048, D)
  // L rounded up to even: the BMT directory's length in the directory header.
  std::uint32_t LocalAreasEven() const { return (LocalAreas + 1) / 2 * 2; }
  std::uint32_t FirstFreeVbn() const { return RootBlocks + MetaBlocks; }
  std::uint32_t FirstDataVbn() const { return RootBlocks + MetaBlocks + FreeBlocks; }
  std::uint64_t VolumeBytes() const { return std::uint64_t{UserBlocks} * kStlSectorsPerBlock * 512; }
};
// The geometry a format gives `units` units; false with `error` when they hold no data block.
bool StlGeometryForUnits(std::uint32_t units, StlGeometry& g, std::string& error);

// Where the directory header's arrays and fixed members lie.
struct StlHeaderOffsets {
  std::uint32_t IdleList = 0, ValidCounts = 0, EraseCounts = 0, BmtDir = 0, RctDir = 0,
                MergeFlags = 0, PmtDir = 0, WlGroups = 0, Fixed = 0, End = 0;
};

// One directory-header layout: the older fixed one, or a newer one with a PMT directory
// of E entries, an RCT directory of r entries, P pages and, optionally, the PMT directory
// aligned to 4 bytes.
struct StlHeaderLayout {
  bool Old = true;
  std::uint32_t PmtEntries = kStlMaxPmtDir;  // E
  std::uint32_t RctEntries = 0;              // r
  std::uint32_t Pages = 3;                   // P
  bool Aligned = false;

  // "old", or "new:E,r,P" with ",a" when aligned.
  std::string Name() const;
  StlHeaderOffsets Offsets(std::uint32_t metaBlocks, std::uint32_t localAreasEven) const;
  bool operator==(const StlHeaderLayout&) const = default;
};
// Reads "old" or "new:E,r,P[,a]"; false with `error` naming what is wrong.
bool ParseStlHeaderLayout(std::string_view text, StlHeaderLayout& layout, std::string& error);

}  // namespace orvella::phone
