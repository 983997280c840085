#pragma once
// The full image file (all main data of the chip, then all spare data, 16 spare bytes
// per 512), its PIT partition table at block 1, and the program-wide model built from it.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/WindowPort.h"
#include "rows/CoolListItems.h"

namespace orvella {

class DumpReader;

// NAND geometry.
inline constexpr std::uint32_t kBlockSize = 0x40000;  // erase block, main data only
inline constexpr std::uint32_t kPageSize = 0x1000;    // page, main data only (log only)
// 528 bytes of file per 512 bytes of main data; spare data is a 32nd of main data.
inline constexpr std::uint32_t kUnitBytes = 528;
inline constexpr std::uint32_t kUnitMainBytes = 512;
inline constexpr std::uint32_t kSpareDivisor = 32;

// PIT partition table.
inline constexpr std::uint32_t kPitMagic = 0x12349876;
inline constexpr std::uint32_t kPitBlock = 1;
inline constexpr std::uint32_t kPitHeaderSize = 48;
inline constexpr std::uint32_t kPitEntrySize = 132;
inline constexpr std::uint32_t kEntryNameSize = 32;

// Raw entry, 132 bytes, little-endian.
struct TGalaxyRawPartitionEntry {
  std::uint32_t Unknown1 = 0;                      // +0
  std::uint32_t SizeInBlocks = 0;                  // +4: 0 and 0xFFFFFFFF: to the end
  std::uint32_t Unknown2 = 0;                      // +8
  std::uint32_t Unknown3 = 0;                      // +12
  std::array<std::uint8_t, kEntryNameSize> EntryName{};  // +16: zero-ended unless full
  std::array<std::uint8_t, 84> FileName{};         // +48
};

struct TGalaxyPartitionEntry {
  std::string EntryName;
  std::uint32_t EntryBase = 0;  // first block
  std::uint32_t EntrySize = 0;  // blocks; a stored 0 becomes TotalBlocks - EntryBase
};

// Header (48 bytes: magic +0, count +4, reserved +8) and the entries that follow it.
struct TGalaxyPartitions {
  std::uint32_t MagicWord = 0;
  std::uint32_t EntriesCount = 0;
  std::array<std::uint8_t, 40> SomeReserved{};
  std::vector<TGalaxyRawPartitionEntry> RawEntries;
  std::vector<TGalaxyPartitionEntry> Entries;
};

struct TPartitionDescriptor {
  std::uint32_t Position = 0;  // 1-based row number
  bool IsBlank = false;        // set by the blank check
  std::string PartitionName;
  std::string AddressRange;    // four 16-digit hex numbers run together
  std::string PartitionSize;   // two 16-digit hex numbers run together
  std::string CheckedType;     // "+" when the row is marked
  std::uint32_t BegBlock = 0;
  std::uint32_t Blocks = 0;    // effective size
};

// Byte ranges of one partition in the file, all modulo 2^32.
struct PartitionRange {
  std::uint32_t MainOffset = 0;
  std::uint32_t MainLength = 0;
  std::uint32_t SpareOffset = 0;
  std::uint32_t SpareLength = 0;
};

// Little-endian unpacking of the table records.
std::uint32_t ReadLE32(const std::uint8_t* p);
TGalaxyRawPartitionEntry UnpackRawEntry(const std::uint8_t* p);  // 132 bytes
void PackRawEntry(const TGalaxyRawPartitionEntry& e, std::uint8_t* p);

// The name of a raw entry: up to the first zero byte or 32 bytes, Latin-1 to UTF-8.
std::string EntryNameText(const std::array<std::uint8_t, kEntryNameSize>& raw);

// H16(v): 16 upper-case hex digits. H12: 12 digits.
std::string Hex16(std::uint32_t v);
std::string Hex12(std::uint32_t v);

// Row texts of a partition starting at begBlock, `blocks` long (products modulo 2^32).
std::string AddressRangeText(std::uint32_t begBlock, std::uint32_t blocks);
std::string PartitionSizeText(std::uint32_t blocks);

// Column types and colours of the partition list.
inline constexpr std::uint32_t kPartitionColumns = 5;
inline constexpr std::uint32_t kPartitionSlots = 6;

// Largest image the 32-bit layout can address.
inline constexpr std::uint64_t kMaxImageFileSize = 0xFFFFFFFFull;

// The program-wide model the main window owns: current image, table, rows, row model.
class ImageModel {
 public:
  ImageModel();
  ImageModel(const ImageModel&) = delete;
  ImageModel& operator=(const ImageModel&) = delete;

  std::string CurrentImageFile;
  TGalaxyPartitions GalaxyPartitions;
  std::vector<TPartitionDescriptor> PartitionRows;
  TCoolItemsList PartitionItems;

  std::uint32_t BlockSize = kBlockSize;
  std::uint32_t PageSize = kPageSize;
  std::uint32_t ImageFileSize = 0;
  std::uint32_t MainDataSize = 0;
  std::uint32_t TotalBlocks = 0;

  // Loads the full image at fName and fills everything above. Log lines, the gauge and
  // error boxes go through `port`. Returns false after any failure it reported.
  // fName is taken by value: callers pass CurrentImageFile itself, which is cleared first.
  bool LoadImageFileAndProcessIt(std::string fName, WindowPort& port);
  // Loads the table of a dump in another format as the full image it stands for holds
  // it: the same log, rows and sizes. CurrentImageFile stays empty, so that nothing that
  // reads the current image as a full one reads this dump.
  bool LoadDumpAndProcessIt(const std::string& fName, DumpReader& reader, WindowPort& port);

  // Empties rows and row model as the window does before a load (types set again).
  void ClearRows();

  std::uint32_t SpareAreaStart() const { return TotalBlocks * BlockSize; }
  // Effective size in blocks of entry k.
  std::uint32_t EffectiveSize(std::size_t k) const;
  PartitionRange RangeOf(std::size_t k) const;
  // Sum of the effective sizes of all entries (64-bit, so it never wraps).
  std::int64_t TotalEffectiveBlocks() const;
  std::size_t EntryCount() const { return GalaxyPartitions.Entries.size(); }

  // Marks or unmarks row k: the item's Selected flag and the row's CheckedType together.
  void SetMarked(std::size_t k, bool marked);
  bool IsMarked(std::size_t k) const;
  bool AnyMarked() const;

 private:
  using TableRead = std::function<bool(std::uint64_t at, void* buffer, std::size_t n, std::string& error)>;
  // The load after the file is open: `size` bytes of full image, read through `read`.
  bool ProcessTable(const std::string& fName, std::uint64_t size, const TableRead& read, WindowPort& port);
};

}  // namespace orvella
