#include "image/FullImage.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "files/FileIO.h"
#include "files/Utf8Text.h"
#include "image/DumpFormat.h"

namespace orvella {

namespace {

std::string HexDigits(std::uint32_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

// Text colours of the partition list's cells.
constexpr TColorRef kCursorNormal = 0xFFFFFF;    // white
constexpr TColorRef kCursorSelected = 0x00FFFF;  // yellow
constexpr TColorRef kNormalNormal = 0x606060;    // dark grey
constexpr TColorRef kNormalSelected = 0xFF0000;  // blue
constexpr TColorRef kMarkColumnSelected = 0x0000FF;  // red, in the "Selected" column

constexpr std::uint32_t kColumnTypes[kPartitionColumns] = {
    ctDecimal, ctText, ctText, ctAddressRange, ctSizeField};

}  // namespace

std::uint32_t ReadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

static void WriteLE32(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

TGalaxyRawPartitionEntry UnpackRawEntry(const std::uint8_t* p) {
  TGalaxyRawPartitionEntry e;
  e.Unknown1 = ReadLE32(p + 0);
  e.SizeInBlocks = ReadLE32(p + 4);
  e.Unknown2 = ReadLE32(p + 8);
  e.Unknown3 = ReadLE32(p + 12);
  for (std::size_t i = 0; i < e.EntryName.size(); ++i) e.EntryName[i] = p[16 + i];
  for (std::size_t i = 0; i < e.FileName.size(); ++i) e.FileName[i] = p[48 + i];
  return e;
}

void PackRawEntry(const TGalaxyRawPartitionEntry& e, std::uint8_t* p) {
  WriteLE32(e.Unknown1, p + 0);
  WriteLE32(e.SizeInBlocks, p + 4);
  WriteLE32(e.Unknown2, p + 8);
  WriteLE32(e.Unknown3, p + 12);
  for (std::size_t i = 0; i < e.EntryName.size(); ++i) p[16 + i] = e.EntryName[i];
  for (std::size_t i = 0; i < e.FileName.size(); ++i) p[48 + i] = e.FileName[i];
}

std::string EntryNameText(const std::array<std::uint8_t, kEntryNameSize>& raw) {
  const auto end = std::find(raw.begin(), raw.end(), std::uint8_t{0});
  return Utf8FromLatin1({reinterpret_cast<const char*>(raw.data()),
                         static_cast<std::size_t>(end - raw.begin())});
}

std::string Hex16(std::uint32_t v) { return HexDigits(v, 16); }
std::string Hex12(std::uint32_t v) { return HexDigits(v, 12); }

std::string AddressRangeText(std::uint32_t begBlock, std::uint32_t blocks) {
  return Hex16(begBlock * kBlockSize) + Hex16((begBlock + blocks) * kBlockSize - 1) +
         Hex16(begBlock) + Hex16(begBlock + blocks - 1);
}

std::string PartitionSizeText(std::uint32_t blocks) {
  return Hex16(blocks * kBlockSize) + Hex16(blocks);
}

ImageModel::ImageModel() { ClearRows(); }

void ImageModel::ClearRows() {
  PartitionRows.clear();
  PartitionItems.Items.clear();
  PartitionItems.Types.assign(std::begin(kColumnTypes), std::end(kColumnTypes));
  PartitionItems.Count = 0;
}

std::uint32_t ImageModel::EffectiveSize(std::size_t k) const {
  const auto& e = GalaxyPartitions.Entries.at(k);
  return e.EntrySize == 0xFFFFFFFFu ? TotalBlocks - e.EntryBase : e.EntrySize;
}

PartitionRange ImageModel::RangeOf(std::size_t k) const {
  PartitionRange r;
  r.MainOffset = GalaxyPartitions.Entries.at(k).EntryBase * BlockSize;
  r.MainLength = EffectiveSize(k) * BlockSize;
  r.SpareOffset = r.MainOffset / kSpareDivisor + TotalBlocks * BlockSize;
  r.SpareLength = r.MainLength / kSpareDivisor;
  return r;
}

std::int64_t ImageModel::TotalEffectiveBlocks() const {
  std::int64_t sum = 0;
  for (std::size_t k = 0; k < EntryCount(); ++k) sum += EffectiveSize(k);
  return sum;
}

void ImageModel::SetMarked(std::size_t k, bool marked) {
  PartitionItems.Items.at(k).Selected = marked;
  // assign/clear rather than operator= on a literal: GCC 12 at -O3 warns falsely there.
  std::string& mark = PartitionRows.at(k).CheckedType;
  if (marked) mark.assign(1, '+'); else mark.clear();
}

bool ImageModel::IsMarked(std::size_t k) const { return PartitionItems.Items.at(k).Selected; }

bool ImageModel::AnyMarked() const {
  const auto n = static_cast<std::size_t>(PartitionItems.Count);
  for (std::size_t k = 0; k < n && k < PartitionItems.Items.size(); ++k)
    if (PartitionItems.Items[k].Selected) return true;
  return false;
}

bool ImageModel::LoadImageFileAndProcessIt(std::string fName, WindowPort& port) {
  CurrentImageFile.clear();
  // A failed load never leaves an earlier list, or entries without rows, behind.
  ClearRows();
  GalaxyPartitions.RawEntries.clear();
  GalaxyPartitions.Entries.clear();

  if (!FileExists(fName)) {
    port.LogAdd("ERROR: Specified file does not exist!!!");
    return false;
  }

  std::string error;
  File file;
  std::uint64_t size = 0;
  if (!file.OpenRead(fName, error) || !file.Size(size, error)) {
    port.ErrorBox(error);
    return false;
  }
  const auto read = [&file](std::uint64_t at, void* buffer, std::size_t n, std::string& e) {
    return file.Seek(at, e) && file.ReadExact(buffer, n, e);
  };
  if (!ProcessTable(fName, size, read, port)) return false;
  CurrentImageFile = fName;
  return true;
}

bool ImageModel::LoadDumpAndProcessIt(const std::string& fName, DumpReader& reader, WindowPort& port) {
  CurrentImageFile.clear();
  ClearRows();
  GalaxyPartitions.RawEntries.clear();
  GalaxyPartitions.Entries.clear();
  const auto read = [&reader](std::uint64_t at, void* buffer, std::size_t n, std::string& e) {
    return reader.ReadMain(at, buffer, n, e);
  };
  return ProcessTable(fName, std::uint64_t{reader.Blocks()} * kDumpBlockBytes, read, port);
}

bool ImageModel::ProcessTable(const std::string& fName, std::uint64_t size, const TableRead& read,
                              WindowPort& port) {
  PageSize = kPageSize;
  BlockSize = kBlockSize;
  std::string error;
  // Every offset of the layout is 32-bit; a larger file would wrap silently.
  if (size > kMaxImageFileSize) {
    port.LogAdd("ERROR: Image file is 4 GiB or larger (" + std::to_string(size) +
                " bytes); only images smaller than 4 GiB can be processed.");
    return false;
  }
  ImageFileSize = static_cast<std::uint32_t>(size);
  MainDataSize = (ImageFileSize / kUnitBytes) * kUnitMainBytes;

  std::uint8_t header[kPitHeaderSize];
  if (!read(std::uint64_t{kPitBlock} * BlockSize, header, sizeof header, error)) {
    port.ErrorBox(error);
    return false;
  }
  GalaxyPartitions.MagicWord = ReadLE32(header + 0);
  GalaxyPartitions.EntriesCount = ReadLE32(header + 4);
  for (std::size_t i = 0; i < GalaxyPartitions.SomeReserved.size(); ++i)
    GalaxyPartitions.SomeReserved[i] = header[8 + i];
  if (GalaxyPartitions.MagicWord != kPitMagic) {
    port.ErrorBox("ERROR: Cannot find PIT Partition Table.");
    return false;
  }

  port.LogAdd("Detected NAND Page = 0x" + HexDigits(PageSize, 4) + " bytes");
  port.LogAdd("Detected NAND Block = 0x" + HexDigits(BlockSize, 8) + " bytes");
  port.LogAdd("");
  port.LogAdd("Partition Table is found in block: 0x" + HexDigits(kPitBlock, 4));

  TotalBlocks = MainDataSize / BlockSize;

  // The count comes from the file: check it against the file before allocating.
  const std::uint32_t count = GalaxyPartitions.EntriesCount;
  const std::uint64_t tableEnd = std::uint64_t{kPitBlock} * BlockSize + kPitHeaderSize +
                                 std::uint64_t{count} * kPitEntrySize;
  if (tableEnd > size) {
    port.ErrorBox("I/O error: read beyond end of file \"" + fName + "\" (the partition table lists " +
                  std::to_string(count) + " entries, which end at byte " +
                  std::to_string(tableEnd) + " of a " + std::to_string(size) + "-byte file)");
    return false;
  }
  // The table is the start of block 1: a count that runs it into block 2 is not a
  // table, and trusting it would let a crafted file claim gigabytes of entries.
  if (std::uint64_t{kPitHeaderSize} + std::uint64_t{count} * kPitEntrySize > BlockSize) {
    port.ErrorBox("ERROR: The partition table lists " + std::to_string(count) +
                  " entries; block 1 holds at most " +
                  std::to_string((BlockSize - kPitHeaderSize) / kPitEntrySize) + ".");
    return false;
  }
  std::vector<std::uint8_t> rawBytes;
  try {
    rawBytes.resize(std::size_t{count} * kPitEntrySize);
    GalaxyPartitions.RawEntries.resize(count);
    GalaxyPartitions.Entries.resize(count);
  } catch (const std::bad_alloc&) {
    GalaxyPartitions.RawEntries.clear();
    GalaxyPartitions.Entries.clear();
    port.ErrorBox("Out of memory while reading the partition table");
    return false;
  }
  if (count > 0 &&
      !read(std::uint64_t{kPitBlock} * BlockSize + kPitHeaderSize, rawBytes.data(), rawBytes.size(), error)) {
    GalaxyPartitions.RawEntries.clear();
    GalaxyPartitions.Entries.clear();
    port.ErrorBox(error);
    return false;
  }
  for (std::uint32_t k = 0; k < count; ++k)
    GalaxyPartitions.RawEntries[k] = UnpackRawEntry(rawBytes.data() + std::size_t{k} * kPitEntrySize);

  port.GaugeSetPos(0);
  port.GaugeSetMax(static_cast<std::int32_t>(ImageFileSize / BlockSize - 1));

  try {
    PartitionRows.assign(count, TPartitionDescriptor{});
    PartitionItems.Items.assign(count, TCoolViewItem{});
  } catch (const std::bad_alloc&) {
    ClearRows();
    GalaxyPartitions.RawEntries.clear();
    GalaxyPartitions.Entries.clear();
    port.ErrorBox("Out of memory while building the partition list");
    return false;
  }
  PartitionItems.Count = static_cast<std::int32_t>(count);
  PartitionItems.ColorNormalProgressBackground = 0xF8F8F8;
  PartitionItems.ColorNormalProgressForeground = 0xC8C8C8;
  PartitionItems.ColorCursorProgressBackground = 0x808080;
  PartitionItems.ColorCursorProgressForeground = 0x404040;

  bool cellsAllocated = count > 0;
  try {
    for (auto& item : PartitionItems.Items) {
      item.Values.assign(kPartitionSlots, TCellRef{});
      item.Colors.assign(kPartitionSlots, TCoolColoredItem{});
    }
  } catch (const std::bad_alloc&) {
    cellsAllocated = false;
  }
  if (!cellsAllocated) {
    port.LogAdd("ERROR: Access Violation when setting Length for Dinamic Array.");
    PartitionItems.Count = 0;
    return false;
  }

  port.LogAdd("Total quantity of listed partitions: 0x" + HexDigits(count, 4));

  std::uint32_t base = 0;
  for (std::uint32_t k = 0; k < count; ++k) {
    auto& item = PartitionItems.Items[k];
    item.Enabled = true;
    item.Selected = false;
    item.IsProgress = false;

    const auto& raw = GalaxyPartitions.RawEntries[k];
    auto& entry = GalaxyPartitions.Entries[k];
    entry.EntryName = EntryNameText(raw.EntryName);
    entry.EntryBase = base;
    entry.EntrySize = raw.SizeInBlocks;
    base += raw.SizeInBlocks;
    if (entry.EntrySize == 0) entry.EntrySize = TotalBlocks - entry.EntryBase;

    auto& row = PartitionRows[k];
    row.Position = k + 1;
    row.IsBlank = false;
    row.PartitionName = entry.EntryName;
    row.BegBlock = entry.EntryBase;
    row.Blocks = entry.EntrySize == 0xFFFFFFFFu ? TotalBlocks - entry.EntryBase : entry.EntrySize;
    row.AddressRange = AddressRangeText(row.BegBlock, row.Blocks);
    row.PartitionSize = PartitionSizeText(row.Blocks);
    row.CheckedType.clear();  // no row is marked right after a load

    item.Values[0] = &row.Position;
    item.Values[1] = &row.CheckedType;
    item.Values[2] = &row.PartitionName;
    item.Values[3] = &row.AddressRange;
    item.Values[4] = &row.PartitionSize;
    for (std::size_t c = 0; c < kPartitionSlots; ++c) {
      auto& colors = item.Colors[c];
      colors.ColorCursorNormal = kCursorNormal;
      colors.ColorCursorSelected = kCursorSelected;
      colors.ColorNormalNormal = kNormalNormal;
      colors.ColorNormalSelected = c == 1 ? kMarkColumnSelected : kNormalSelected;
    }
  }
  return true;
}

}  // namespace orvella
