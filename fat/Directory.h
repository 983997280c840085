#pragma once
// The 32-byte records of a FAT folder: the short (8.3) entry, the long-name entries
// before it, and the phone file system's extended entry after it; their dates and times.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace orvella::fat {

inline constexpr std::uint32_t kDirEntryBytes = 32;
// A folder holds at most this many entries (its offsets are 16-bit entry numbers).
inline constexpr std::uint32_t kMaxFolderEntries = 65536;

// Short entry.
inline constexpr std::uint32_t kEntName = 0;          // 8 bytes, space-padded
inline constexpr std::uint32_t kEntExt = 8;           // 3 bytes, space-padded
inline constexpr std::uint32_t kEntAttr = 11;         // u8
inline constexpr std::uint32_t kEntFlags = 12;        // u8, case and extension flags
inline constexpr std::uint32_t kEntCreateCentis = 13; // u8, 0-199; special-file kind
inline constexpr std::uint32_t kEntCreateTime = 14;   // u16
inline constexpr std::uint32_t kEntCreateDate = 16;   // u16
inline constexpr std::uint32_t kEntAccessDate = 18;   // u16
inline constexpr std::uint32_t kEntClusterHigh = 20;  // u16, FAT32 only
inline constexpr std::uint32_t kEntWriteTime = 22;    // u16
inline constexpr std::uint32_t kEntWriteDate = 24;    // u16
inline constexpr std::uint32_t kEntClusterLow = 26;   // u16
inline constexpr std::uint32_t kEntSize = 28;         // u32

// Long-name entry: 13 UTF-16 units in three runs, last part first on disk.
inline constexpr std::uint32_t kLfnOrder = 0;      // u8, part number 1-20, 0x40 on the last
inline constexpr std::uint32_t kLfnUnits1 = 1;     // 5 units
inline constexpr std::uint32_t kLfnChecksum = 13;  // u8, of the short name
inline constexpr std::uint32_t kLfnUnits2 = 14;    // 6 units
inline constexpr std::uint32_t kLfnUnits3 = 28;    // 2 units
inline constexpr std::uint32_t kLfnUnitsPerEntry = 13;
inline constexpr std::uint8_t kLfnLastPart = 0x40;
inline constexpr std::uint32_t kLfnMaxUnits = 255;

// Extended entry of the phone's file system, right after its short entry.
inline constexpr std::uint32_t kXdeSignature = 0;    // 10 bytes
inline constexpr std::uint32_t kXdeSfnChecksum = 10; // u8, of the short name
inline constexpr std::uint32_t kXdeType = 12;        // u8, 0
inline constexpr std::uint32_t kXdeMode = 14;        // u16
inline constexpr std::uint32_t kXdeUid = 16;         // u32
inline constexpr std::uint32_t kXdeGid = 20;         // u32
inline constexpr char kXdeSignatureText[] = ".btfs?xde*";

// Attributes.
inline constexpr std::uint8_t kAttrReadOnly = 0x01;
inline constexpr std::uint8_t kAttrHidden = 0x02;
inline constexpr std::uint8_t kAttrSystem = 0x04;
inline constexpr std::uint8_t kAttrLabel = 0x08;
inline constexpr std::uint8_t kAttrFolder = 0x10;
inline constexpr std::uint8_t kAttrArchive = 0x20;
inline constexpr std::uint8_t kAttrLongName = 0x0F;  // under the mask 0x3F
inline constexpr std::uint8_t kAttrExtended = 0xCF;  // the whole byte

// Flags byte of a short entry.
inline constexpr std::uint8_t kFlagLowerBase = 0x08;
inline constexpr std::uint8_t kFlagLowerExt = 0x10;
inline constexpr std::uint8_t kFlagExtendedEntry = 0x40;  // an extended entry follows
inline constexpr std::uint8_t kFlagXattr = 0x80;  // creation date:time name the xattr cluster

// Special-file kinds in the creation hundredths byte (never 0-199 there).
inline constexpr std::uint8_t kKindSymlink = 0xD7;
inline constexpr std::uint8_t kKindFifo = 0xE8;
inline constexpr std::uint8_t kKindSocket = 0xF9;

inline constexpr std::uint8_t kEntryEnd = 0x00;      // first name byte: no entries follow
inline constexpr std::uint8_t kEntryDeleted = 0xE5;  // first name byte: a deleted entry
inline constexpr std::uint8_t kEntryE5 = 0x05;       // first name byte standing for 0xE5

// A date and time as FAT stores them: date bits 15-9 year since 1980, 8-5 month, 4-0
// day; time bits 15-11 hour, 10-5 minute, 4-0 seconds / 2.
struct DosTimestamp {
  std::uint16_t Date = 0;
  std::uint16_t Time = 0;
  std::uint8_t Centis = 0;  // creation only: 0-199 hundredths added to the seconds

  bool Present() const { return Date != 0 || Time != 0; }
  // A real calendar date (month 1-12, a day of that month) and time of day.
  bool Valid() const;
  unsigned Year() const { return 1980u + (Date >> 9); }
  unsigned Month() const { return (Date >> 5) & 0x0F; }
  unsigned Day() const { return Date & 0x1F; }
  unsigned Hour() const { return Time >> 11; }
  unsigned Minute() const { return (Time >> 5) & 0x3F; }
  unsigned Second() const { return (Time & 0x1F) * 2u + Centis / 100u; }
  // "2024-03-01 13:45:08", or "" when not Valid().
  std::string Text() const;
};

// The checksum long-name and extended entries carry of their 11-byte short name.
std::uint8_t ShortNameChecksum(const std::uint8_t* entry);

// The short name "NAME.EXT" of an entry: code page 437, spaces cut, the case flags
// applied, a leading 0x05 read as 0xE5.
std::string ShortNameText(const std::uint8_t* entry);

// True for the "." and ".." entries of a subfolder.
bool IsDotEntry(const std::uint8_t* entry);

// Gathers long-name entries in disk order and gives the name once the short entry that
// ends them arrives. A part out of order, a checksum that differs, or a name longer than
// 255 units spoils the name.
class LongNameAssembler {
 public:
  void Add(const std::uint8_t* entry);
  // The name when a whole, consistent run precedes a short entry with this checksum;
  // nothing otherwise. `hadParts` tells whether any part was pending. Resets.
  std::optional<std::u16string> Take(std::uint8_t shortChecksum, bool& hadParts);
  void Reset();
  bool Pending() const { return parts_ != 0 || broken_; }

 private:
  std::array<char16_t, 20 * kLfnUnitsPerEntry> units_{};
  std::uint8_t parts_ = 0;     // parts announced by the first (last-numbered) entry
  std::uint8_t expected_ = 0;  // number of the next part, counting down to 1
  std::uint8_t checksum_ = 0;
  bool broken_ = false;
};

struct ExtendedEntry {
  std::uint16_t Mode = 0;
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
};

// Reads an extended entry belonging to the short entry of this checksum; nothing when it
// is not one (wrong attribute or signature) or belongs to another name.
std::optional<ExtendedEntry> ParseExtendedEntry(const std::uint8_t* entry, std::uint8_t shortChecksum);

}  // namespace orvella::fat
