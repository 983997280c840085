#include "phone/PitTable.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "image/FullImage.h"

namespace orvella::phone {

namespace {

std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::string Text32(const std::uint8_t* p) {
  std::array<std::uint8_t, kEntryNameSize> raw{};
  std::copy_n(p, raw.size(), raw.begin());
  return EntryNameText(raw);
}

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

}  // namespace

std::string PitDeviceName(std::uint32_t deviceType) {
  switch (deviceType) {
    case 0: return "OneNAND";
    case 1: return "File/FAT";
    case 2: return "MMC";
    case 3: return "All";
    default: return "unknown (" + std::to_string(deviceType) + ")";
  }
}

std::string PitBinaryName(std::uint32_t binaryType) {
  switch (binaryType) {
    case 0: return "AP";
    case 1: return "CP";
    default: return "unknown (" + std::to_string(binaryType) + ")";
  }
}

std::string PitAttributeWords(std::uint32_t attributes) {
  if (attributes == 0) return "none";
  std::string words;
  for (std::uint32_t bit = 0; bit < 32; ++bit) {
    if (!(attributes >> bit & 1)) continue;
    if (!words.empty()) words += ", ";
    words += bit == 0 ? "write" : bit == 1 ? "STL" : "bit " + std::to_string(bit);
  }
  return words;
}

bool DecodePit(std::span<const std::uint8_t> block1, std::uint32_t usableBlocks, PitTable& table,
               std::string& error) {
  table = PitTable{};
  const std::size_t held = std::min<std::size_t>(block1.size(), kBlockMainBytes);
  if (held < kPitPhoneHeaderBytes || ReadLE32(block1.data() + kPitHdrMagic) != kPitMagicWord) {
    error = "block 1 holds no partition table (no magic " + Hex8(kPitMagicWord) + " at its start)";
    return false;
  }
  const std::uint8_t* h = block1.data();
  PitHeader& header = table.Header;
  header.Magic = ReadLE32(h + kPitHdrMagic);
  header.Count = ReadLE32(h + kPitHdrCount);
  header.Unknown1 = ReadLE32(h + kPitHdrUnknown1);
  header.Unknown2 = ReadLE32(h + kPitHdrUnknown2);
  for (std::size_t i = 0; i < header.Unknown3To8.size(); ++i)
    header.Unknown3To8[i] = LE16(h + kPitHdrUnknown3 + 2 * i);
  // The download tools take the count as it is; a reader must not.
  const std::size_t fits = (held - kPitPhoneHeaderBytes) / kPitPhoneEntryBytes;
  if (header.Count > fits) {
    error = "the partition table lists " + std::to_string(header.Count) + " entries; " +
            (held < kBlockMainBytes ? "the " + std::to_string(held) + " bytes read hold"
                                    : std::string("block 1 holds")) +
            " at most " + std::to_string(fits);
    table = PitTable{};
    return false;
  }

  table.Entries.resize(header.Count);
  std::uint64_t sum = 0;
  for (std::uint32_t i = 0; i < header.Count; ++i) {
    const std::uint8_t* p = h + kPitPhoneHeaderBytes + std::size_t{i} * kPitPhoneEntryBytes;
    PitEntry& e = table.Entries[i];
    e.Position = i + 1;
    e.BinaryType = ReadLE32(p + kPitEntBinaryType);
    e.DeviceType = ReadLE32(p + kPitEntDeviceType);
    e.Identifier = ReadLE32(p + kPitEntIdentifier);
    e.Attributes = ReadLE32(p + kPitEntAttributes);
    e.UpdateAttributes = ReadLE32(p + kPitEntUpdateAttributes);
    e.BlockSizeOrOffset = ReadLE32(p + kPitEntBlockSizeOrOffset);
    e.BlockCount = ReadLE32(p + kPitEntBlockCount);
    e.FileOffset = ReadLE32(p + kPitEntFileOffset);
    e.FileSize = ReadLE32(p + kPitEntFileSize);
    e.Name = Text32(p + kPitEntName);
    e.FlashFile = Text32(p + kPitEntFlashFile);
    e.FotaFile = Text32(p + kPitEntFotaFile);

    // The phone sums the block counts of the OneNAND entries that have blocks.
    if (e.DeviceType != static_cast<std::uint32_t>(PitDevice::OneNand)) {
      e.NotInDump = "on device " + PitDeviceName(e.DeviceType) + ", not on this chip";
      continue;
    }
    if (e.BlockCount == 0) {
      e.NotInDump = "block count 0";
      continue;
    }
    const std::uint64_t first = sum;
    sum += e.BlockCount;
    if (sum > usableBlocks) {
      e.NotInDump = "blocks " + std::to_string(first) + " to " + std::to_string(sum - 1) +
                    " run past block " + std::to_string(std::uint64_t{usableBlocks} - 1) +
                    ", the last one partitions can use";
      continue;
    }
    e.InDump = true;
    e.From = FirstBlockFrom::RunningSum;
    e.FirstBlock = static_cast<std::uint32_t>(first);
    e.Blocks = e.BlockCount;
  }
  return true;
}

bool ReadPit(PageSource& chip, std::uint32_t usableBlocks, PitTable& table, std::string& error) {
  table = PitTable{};
  if (chip.Blocks() <= kPitTableBlock) {
    error = "block 1 holds no partition table: the chip has " + std::to_string(chip.Blocks()) +
            " block" + (chip.Blocks() == 1 ? "" : "s");
    return false;
  }
  // Page by page, so that a dump cut off inside block 1 still gives the table it holds.
  std::vector<std::uint8_t> block1(kBlockMainBytes);
  std::size_t held = 0;
  std::string why;
  for (std::uint32_t p = 0; p < kPagesPerBlock; ++p, held += kPageMainBytes)
    if (!chip.ReadPage(kPitTableBlock, p, block1.data() + held, nullptr, why)) break;
  if (held == 0) {
    error = "cannot read the partition table at block 1: " + why;
    return false;
  }
  return DecodePit(std::span<const std::uint8_t>(block1.data(), held), usableBlocks, table, error);
}

}  // namespace orvella::phone
