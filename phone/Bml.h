#pragma once
// The phone's bad-block layer as a dump keeps it: a reservoir at the end of the chip,
// pool control blocks (LPCB, UPCB, and their temporary copy, the TPCB) holding meta sets
// of three pages and a confirm page, the partition info, and block maps that send each
// bad block to its replacement in the reservoir. The reader trusts a structure only once
// it has proved itself (marks, signatures, ages, confirm pages); whatever disagrees is a
// finding, and where the phone would refuse to mount the chip the finding says so.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "phone/PageSource.h"

namespace orvella::phone {

// The one chip whose reservoir is known: 2048 blocks, the last 44 reserved (40
// replacement blocks and the LPCB, UPCB, TPCB and REF blocks).
inline constexpr std::uint32_t kBmlChipBlocks = 2048;
inline constexpr std::uint32_t kBmlReservoirFirst = 2004;
inline constexpr std::uint32_t kBmlReservoirLast = 2047;
inline constexpr std::uint32_t kBmlReplacementBlocks = 40;
// The phone refuses to mount once more pairs than this are listed.
inline constexpr std::uint32_t kBmlMountablePairs = 41;
inline constexpr std::uint32_t kNoBlock = 0xFFFFFFFF;
inline constexpr std::uint32_t kAgeInvalid = 0xFFFFFFFF;

inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint32_t kMetaSetPages = 4;  // three meta pages, then the confirm page

// Pool control header: sector 0 of every meta set.
inline constexpr std::uint32_t kPchSignature = 0;        // 4 bytes, "LPCH" or "UPCH"
inline constexpr std::uint32_t kPchRefBlock = 4;         // u16
inline constexpr std::uint32_t kPchTpcbBlock = 6;        // u16
inline constexpr std::uint32_t kPchMlcBlocks = 8;        // u16
inline constexpr std::uint32_t kPchReserved = 10;        // u16
inline constexpr std::uint32_t kPchAge = 12;             // u32, bigger is newer
inline constexpr std::uint32_t kPchGlobalAge = 16;       // u32, names the latest TPCB
inline constexpr std::uint32_t kPchPlanes = 20;          // u32
inline constexpr std::uint32_t kPchDies = 24;            // u32
inline constexpr std::uint32_t kPchBlocksPerDie = 28;    // u32
inline constexpr std::uint32_t kPchBlocksPerDevice = 32; // u32

// Sectors of a meta set (3 pages of 8 sectors).
inline constexpr std::uint32_t kSetSectorPch = 0;
inline constexpr std::uint32_t kSetSectorPartInfo = 1;   // LPCB: partition info; UPCB: its extension
inline constexpr std::uint32_t kSetSectorErl = 2;
inline constexpr std::uint32_t kSetSectorBab = 3;        // UPCB: block allocation bitmap
inline constexpr std::uint32_t kSetSectorFirstBms = 8;
inline constexpr std::uint32_t kBmsPerSet = 10;
inline constexpr std::uint32_t kBabBytes = 106;

// Partition info (512 bytes).
inline constexpr std::uint32_t kPiSignature = 0;    // 8 bytes
inline constexpr std::uint32_t kPiVersion = 8;      // u32
inline constexpr std::uint32_t kPiCount = 12;       // u32, at most kPiMaxEntries
inline constexpr std::uint32_t kPiEntries = 16;     // kPiEntryBytes each
inline constexpr std::uint32_t kPiEntryBytes = 16;
inline constexpr std::uint32_t kPiMaxEntries = 30;
inline constexpr std::uint32_t kPiEntId = 0;        // u16
inline constexpr std::uint32_t kPiEntAttributes = 2; // u16
inline constexpr std::uint32_t kPiEntFirstUnit = 4; // u16
inline constexpr std::uint32_t kPiEntUnits = 6;     // u16
inline constexpr std::uint32_t kPiEntLoadAddress = 8;  // u32
inline constexpr std::uint32_t kPiAttrStl = 0x0100;

// Block map sector: u16 info, u16 reserved, then 127 pairs {u16 original, u16 replacement}
// up to a pair of 0xFFFF, 0xFFFF.
inline constexpr std::uint32_t kBmsInfo = 0;
inline constexpr std::uint32_t kBmsReserved = 2;
inline constexpr std::uint32_t kBmsPairsAt = 4;
inline constexpr std::uint32_t kBmsPairs = 127;

enum class FindingKind : std::uint8_t {
  UnreadablePage,               // a reservoir page the dump does not hold
  AgeInvalid,                   // a pool control header of age 0xFFFFFFFF
  AgeZero,                      // age 0: the phone never picks it
  PoolBlockMissing,             // no LPCB or no UPCB
  MetaBlockOutsideReservoir,    // the TPCB or REF a header names lies outside the reservoir
  MetaSetMissing,               // a pool block without a confirmed meta set
  MetaSetSignature,             // a confirmed set whose header is not of its block's kind
  TpcbUsed,                     // the TPCB's set stands in for a pool block's
  DeviceInfo,                   // the header's geometry is not this chip's
  PartitionInfoUnreadable,      // more rows than the partition info can have
  PartitionInfoRange,           // a row outside the blocks partitions can use, or overlapping another
  PartitionInfoMismatch,        // the partition info and the table disagree
  TooManyRemaps,
  OriginalOutsidePartitions,    // a remapped block in the reservoir or past the chip
  ReplacementOutsideReservoir,
  ReplacementIsMetaBlock,       // a replacement that is the LPCB, UPCB, TPCB or REF block
  ReplacementBad,               // a replacement the driver's rule calls bad
  ReplacementShared,            // one replacement for two blocks
  DuplicateOriginal,            // two pairs for one block
  OriginalNotMarkedBad,         // a remapped block the driver's rule calls good
};
// The kind as a JSON word: "unreadable_page", "age_invalid", ...
const char* FindingWord(FindingKind kind);

struct BmlFinding {
  FindingKind Kind = FindingKind::UnreadablePage;   // kind
  std::optional<std::uint32_t> Block;               // block, where one applies
  std::string Text;                                 // text
  bool RefusesMount = false;  // the phone would not mount the chip because of it
};

struct PoolBlock {
  std::uint32_t Block = 0;
  std::string Signature;              // "LPCH" or "UPCH"
  std::uint32_t Age = 0;              // of its page-0 header
  std::uint32_t GlobalAge = 0;
  std::uint32_t RefBlock = 0;
  std::uint32_t TpcbBlock = 0;
  std::string Role;                   // "LPCB", "UPCB", "TPCB", "older", "invalid age", "never picked"
  std::optional<std::uint32_t> MetaSetPage;  // first page of the set in use; none when not loaded
  std::uint32_t MetaSetAge = 0;
};

struct PartitionInfoRow {
  std::uint32_t Index = 0;            // 0-based; the phone's bmlN is Index + 1
  std::uint32_t Identifier = 0;       // identifier
  std::uint32_t Attributes = 0;       // attributes
  std::uint32_t FirstBlock = 0;       // first_block
  std::uint32_t Blocks = 0;           // blocks
  std::uint32_t LoadAddress = 0;
  bool Usable = false;  // inside the blocks partitions can use and clear of the rows before it
};

struct PartitionInfo {
  bool Read = false;                  // a confirmed LPCB set gave a partition info of sane size
  std::string Signature;              // the 8 signature bytes up to a NUL, as text
  std::uint32_t Version = 0;
  std::uint32_t Count = 0;
  std::vector<PartitionInfoRow> Rows;
};

struct BmlRemap {
  std::uint32_t Block = 0;            // block: the original
  std::uint32_t Replacement = 0;      // replacement
  std::string Partition;              // partition: the table's name of the entry that holds Block
  std::string Pool;                   // "LPCB" or "UPCB"
  std::uint32_t MapSector = 0;        // 1..10: which of the set's block map sectors
  std::uint16_t Info = 0;             // the map sector's info word (why it was made)
  std::uint16_t Reserved = 0;
  bool Applied = true;                // false when a later pair for the same block wins
  std::string Reason() const;         // reason: "UPCB block map 1, info 0x0000"
};

enum class BmlStructure : std::uint8_t {
  None,      // no reservoir structure: every block is read where it lies
  Partial,   // pool blocks found, but not both with a confirmed set: the phone would not mount
  Complete,
};

struct BmlResult {
  std::uint32_t ChipBlocks = 0;
  bool ReservoirKnown = false;        // reservoir: first, last
  std::uint32_t ReservoirFirst = 0;
  std::uint32_t ReservoirLast = 0;
  BmlStructure Structure = BmlStructure::None;
  std::string NoStructure;            // why there is none; empty otherwise
  std::uint32_t Lpcb = kNoBlock, Upcb = kNoBlock, Tpcb = kNoBlock, Ref = kNoBlock;
  std::vector<PoolBlock> PoolBlocks;  // pool_blocks
  PartitionInfo Info;                 // partition_info
  std::vector<BmlRemap> Remaps;       // remaps, LPCB pairs first, in the order stored
  std::vector<std::uint32_t> Allocated;  // reservoir blocks the UPCB's allocation bitmap marks
  std::vector<BmlFinding> Findings;   // findings

  // Blocks partitions can use: up to the reservoir, or the whole chip without the structure.
  std::uint32_t UsableBlocks() const { return Structure == BmlStructure::None ? ChipBlocks : ReservoirFirst; }
  bool Mountable() const;
  // The chip block the phone reads for its block `block`.
  std::uint32_t Map(std::uint32_t block) const;
  bool IsMetaBlock(std::uint32_t block) const;
};

// Reads the bad-block layer of the chip. Never fails: what cannot be read or trusted is a
// finding, and a chip without the structure gives Structure None and says why.
BmlResult ReadBml(PageSource& chip);

// The driver's bad-block rule: a mark word is bad when it has fewer 1 bits than 0 bits,
// and a block is bad only when the words of page 0 and page 1 (spare bytes 0-1 of their
// first sector) are both bad.
constexpr bool DriverWordBad(std::uint16_t word) {
  int ones = 0;
  for (int i = 0; i < 16; ++i) ones += word >> i & 1;
  return ones < 8;
}
constexpr bool DriverBlockBad(std::uint16_t page0Word, std::uint16_t page1Word) {
  return DriverWordBad(page0Word) && DriverWordBad(page1Word);
}
// Reads the two words of `block` and applies the rule.
bool ReadDriverBadBlock(PageSource& chip, std::uint32_t block, bool& bad, std::string& error);

// The marks the driver writes into spare bytes 0-1 of a bad block's pages 0 and 1.
inline constexpr std::uint16_t kDriverMarkEraseError = 0x2222;
inline constexpr std::uint16_t kDriverMarkWriteError = 0x4444;
inline constexpr std::uint16_t kDriverMarkLockError = 0x8888;

}  // namespace orvella::phone
