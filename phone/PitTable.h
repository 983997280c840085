#pragma once
// The partition table at block 1 as the phone and its download tools read it: a 28-byte
// header and 132-byte entries (the list reads the same bytes with a 48-byte header, so its
// entries are these read 20 bytes on). Every field is kept as stored; garbage in the
// header's unknown words and in the obsolete file fields is normal and accepted.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "phone/Content.h"
#include "phone/PageSource.h"

namespace orvella::phone {

inline constexpr std::uint32_t kPitMagicWord = 0x12349876;
inline constexpr std::uint32_t kPitTableBlock = 1;
inline constexpr std::uint32_t kPitPhoneHeaderBytes = 28;
inline constexpr std::uint32_t kPitPhoneEntryBytes = 132;
inline constexpr std::uint32_t kPitTextBytes = 32;
// Entries block 1 can hold after the header.
inline constexpr std::uint32_t kPitMaxEntries = (kBlockMainBytes - kPitPhoneHeaderBytes) / kPitPhoneEntryBytes;

// Header offsets.
inline constexpr std::uint32_t kPitHdrMagic = 0;      // u32
inline constexpr std::uint32_t kPitHdrCount = 4;      // u32
inline constexpr std::uint32_t kPitHdrUnknown1 = 8;   // u32
inline constexpr std::uint32_t kPitHdrUnknown2 = 12;  // u32
inline constexpr std::uint32_t kPitHdrUnknown3 = 16;  // u16 x 6 (unknown3 .. unknown8)

// Entry offsets.
inline constexpr std::uint32_t kPitEntBinaryType = 0;         // u32: 0 AP, 1 CP
inline constexpr std::uint32_t kPitEntDeviceType = 4;         // u32, PitDevice
inline constexpr std::uint32_t kPitEntIdentifier = 8;         // u32, the bad-block layer's partition id
inline constexpr std::uint32_t kPitEntAttributes = 12;        // u32, kPitAttr*
inline constexpr std::uint32_t kPitEntUpdateAttributes = 16;  // u32, kPitUpdate*
inline constexpr std::uint32_t kPitEntBlockSizeOrOffset = 20; // u32, meaning varies; 256 on OneNAND rows
inline constexpr std::uint32_t kPitEntBlockCount = 24;        // u32, 256 KiB blocks
inline constexpr std::uint32_t kPitEntFileOffset = 28;        // u32, obsolete
inline constexpr std::uint32_t kPitEntFileSize = 32;          // u32, obsolete
inline constexpr std::uint32_t kPitEntName = 36;              // 32 bytes, NUL-ended
inline constexpr std::uint32_t kPitEntFlashFile = 68;         // 32 bytes
inline constexpr std::uint32_t kPitEntFotaFile = 100;         // 32 bytes

enum class PitDevice : std::uint32_t { OneNand = 0, FileFat = 1, Mmc = 2, All = 3 };

// Attribute bits. Bit 0 set means read-write, but STL partitions carry 2 (STL, bit 0
// clear) and are written all the same: never call a partition read-only from it.
inline constexpr std::uint32_t kPitAttrWrite = 0x1;
inline constexpr std::uint32_t kPitAttrStl = 0x2;
inline constexpr std::uint32_t kPitUpdateFota = 0x1;
inline constexpr std::uint32_t kPitUpdateSecure = 0x2;

// "OneNAND", "File/FAT", "MMC", "All", or "unknown (N)".
std::string PitDeviceName(std::uint32_t deviceType);
// "AP", "CP" or "unknown (N)".
std::string PitBinaryName(std::uint32_t binaryType);
// The attribute bits as words: "write", "STL", and "bit N" for the others; "none" for 0.
std::string PitAttributeWords(std::uint32_t attributes);

struct PitHeader {
  std::uint32_t Magic = 0;
  std::uint32_t Count = 0;
  std::uint32_t Unknown1 = 0;
  std::uint32_t Unknown2 = 0;
  std::array<std::uint16_t, 6> Unknown3To8{};
};

// Where an entry's first block was taken from.
enum class FirstBlockFrom : std::uint8_t {
  None,           // not in this dump
  RunningSum,     // the sum of the earlier OneNAND entries' block counts
  PartitionInfo,  // the bad-block layer's partition info (its first unit)
};

struct PitEntry {
  std::uint32_t Position = 0;           // position: 1-based, as the list counts rows
  std::uint32_t BinaryType = 0;         // binary_type
  std::uint32_t DeviceType = 0;         // device_type
  std::uint32_t Identifier = 0;         // identifier
  std::uint32_t Attributes = 0;         // attributes
  std::uint32_t UpdateAttributes = 0;   // update_attributes
  std::uint32_t BlockSizeOrOffset = 0;  // block_size_or_offset, as stored
  std::uint32_t BlockCount = 0;         // blocks, as stored
  std::uint32_t FileOffset = 0;         // obsolete, may be garbage
  std::uint32_t FileSize = 0;           // obsolete, may be garbage
  std::string Name;                     // name: up to the first NUL, Latin-1 as UTF-8
  std::string FlashFile;                // flash_file
  std::string FotaFile;                 // fota_file

  bool Stl() const { return (Attributes & kPitAttrStl) != 0; }   // stl
  bool Write() const { return (Attributes & kPitAttrWrite) != 0; }
  bool Fota() const { return (UpdateAttributes & kPitUpdateFota) != 0; }
  bool Secure() const { return (UpdateAttributes & kPitUpdateSecure) != 0; }
  // The download tools do not flash an entry without a name.
  bool Flashable() const { return !Name.empty(); }

  // Set by ReadPhoneDump (PhoneDump.h); DecodePit sets the running sum.
  bool InDump = false;                  // in_dump
  std::string NotInDump;                // why not, when InDump is false
  FirstBlockFrom From = FirstBlockFrom::None;
  std::uint32_t FirstBlock = 0;         // first_block
  std::uint32_t Blocks = 0;             // blocks the phone's block device has (partition info, else BlockCount)
  std::uint32_t BmlNumber = 0;          // N of the phone's bmlN; 0 when the partition info has no row
  PartitionContent Content;             // holds
};

struct PitTable {
  PitHeader Header;
  std::vector<PitEntry> Entries;
};

// Decodes the table from the main data of block 1 (`block1`, at least the header).
// False, with `error` saying why, when the magic is not there or the count runs the
// entries past the bytes given or past block 1. Entries of another device or with block
// count 0 are kept and marked not in this dump; the others get the running sum of the
// earlier OneNAND entries as their first block, up to `usableBlocks` (the blocks before
// the bad-block layer's reservoir, or the whole chip).
bool DecodePit(std::span<const std::uint8_t> block1, std::uint32_t usableBlocks, PitTable& table,
               std::string& error);

// Reads block 1's main data from the chip and decodes it.
bool ReadPit(PageSource& chip, std::uint32_t usableBlocks, PitTable& table, std::string& error);

}  // namespace orvella::phone
