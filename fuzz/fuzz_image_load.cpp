// Any bytes as a full image file, loaded as the window loads one.
//
// Input format (so that a small input can describe a large image, and the seeds stay
// small although the table lies at 0x40000):
//
//   byte 0       size mode, low two bits
//   bytes 1..4   P, 32-bit little-endian
//   bytes 5..    T, the bytes stored at file offset 0x40000 (the partition table)
//
//   mode 0: file size = 0x40000 + |T| + P mod 8 MiB   (the table is whole)
//   mode 1: file size = P                              (any size below 4 GiB)
//   mode 2: file size = 4 GiB + P mod 1 GiB            (too large for the 32-bit layout)
//   mode 3: file size = 0x40000 + P mod (|T| + 1)      (the table is cut short)
//
// The file is made sparse: zeros everywhere, T written at 0x40000 as far as the file
// reaches, so even a 5 GiB image costs no disk space and no time to make. Every input
// is loaded into a model that already holds a good image, so a failed load also has
// to drop the earlier list.
//
// Checked after each load: the result matches what the bytes call for; on success the
// rows, entries and items agree with the table and each other, row texts are 64 and 32
// upper-case hex digits, Blocks is the effective size; on failure there are no rows, no
// current image, and exactly one report (an "ERROR: " log line or an error box). A load
// never reads more than the header and the entries, and a table never runs past block 1
// (so a count from the file can never make the load allocate more than one block).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"

namespace {

namespace fs = std::filesystem;
using namespace orvella;

constexpr std::uint64_t kTableOffset = std::uint64_t{kPitBlock} * kBlockSize;
constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;

fs::path g_dir;
std::string g_good;   // a small well-formed image loaded before every input
std::string g_image;  // the fuzzed image

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "image load invariant broken: %s\n", what);
    std::abort();
  }
}

void RemoveDir() {
  std::error_code ignored;
  fs::remove_all(g_dir, ignored);
}

std::uint32_t LE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

bool UpperHex(std::string_view s, std::size_t digits) {
  if (s.size() != digits) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// The byte the made file holds at file offset o (T at the table offset, else zero).
std::uint8_t ByteAt(std::string_view t, std::uint64_t size, std::uint64_t o) {
  if (o >= size || o < kTableOffset || o - kTableOffset >= t.size()) return 0;
  return static_cast<std::uint8_t>(t[o - kTableOffset]);
}

std::uint32_t LE32At(std::string_view t, std::uint64_t size, std::uint64_t o) {
  const std::uint8_t b[4] = {ByteAt(t, size, o), ByteAt(t, size, o + 1), ByteAt(t, size, o + 2),
                             ByteAt(t, size, o + 3)};
  return LE32(b);
}

bool MakeFile(std::uint64_t size, std::string_view t) {
  // Cutting back to the table offset, never to 0, drops the last input's bytes without
  // making the file system flush the file on every close (as it does after O_TRUNC).
  const int fd = ::open(g_image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(std::min(size, kTableOffset))) == 0 &&
            ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  if (ok && size > kTableOffset && !t.empty()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(t.size(), size - kTableOffset));
    ok = ::pwrite(fd, t.data(), n, static_cast<off_t>(kTableOffset)) == static_cast<ssize_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

void CheckLoaded(const ImageModel& m, const RecordingPort& port, std::uint64_t size,
                 std::string_view t) {
  const std::uint32_t count = LE32At(t, size, kTableOffset + 4);
  Check(m.CurrentImageFile == g_image, "a good load names the image");
  Check(port.ErrorBoxes.empty(), "a good load shows no error box");
  Check(port.Log.size() == 5, "four detection lines and the count line");
  for (const auto& line : port.Log) Check(line.rfind("ERROR", 0) != 0, "no error line");
  Check(m.ImageFileSize == size, "file size taken");
  Check(m.MainDataSize == size / kUnitBytes * kUnitMainBytes, "main data size");
  Check(m.TotalBlocks == m.MainDataSize / kBlockSize, "total blocks");
  Check(m.GalaxyPartitions.EntriesCount == count && count > 0, "count as stored");
  Check(m.GalaxyPartitions.RawEntries.size() == count, "raw entries == count");
  Check(m.GalaxyPartitions.Entries.size() == count, "entries == count");
  Check(m.PartitionRows.size() == count, "rows == count");
  Check(m.PartitionItems.Items.size() == count, "items == count");
  Check(m.PartitionItems.Count == static_cast<std::int32_t>(count), "item Count == count");

  std::uint32_t base = 0;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint64_t at = kTableOffset + kPitHeaderSize + std::uint64_t{k} * kPitEntrySize;
    const std::uint32_t stored = LE32At(t, size, at + 4);
    const auto& raw = m.GalaxyPartitions.RawEntries[k];
    const auto& e = m.GalaxyPartitions.Entries[k];
    const auto& row = m.PartitionRows[k];
    const auto& item = m.PartitionItems.Items[k];
    Check(raw.SizeInBlocks == stored, "raw size read from its place");
    Check(raw.EntryName[0] == ByteAt(t, size, at + 16), "raw name read from its place");
    Check(e.EntryBase == base, "partitions lie back to back");
    Check(e.EntrySize == (stored == 0 ? m.TotalBlocks - base : stored), "stored 0 replaced");
    base += stored;

    const std::uint32_t effective = m.EffectiveSize(k);
    Check(row.Blocks == effective, "Blocks is the effective size");
    Check(row.BegBlock == e.EntryBase, "BegBlock is the base");
    Check(row.Position == k + 1, "1-based position");
    Check(!row.IsBlank && row.CheckedType.empty() && !item.Selected, "nothing marked");
    Check(item.Enabled && !item.IsProgress, "item flags");
    Check(UpperHex(row.AddressRange, 64), "AddressRange is 64 hex digits");
    Check(UpperHex(row.PartitionSize, 32), "PartitionSize is 32 hex digits");
    Check(row.AddressRange.compare(32, 16, Hex16(row.BegBlock)) == 0, "first block shown");
    Check(row.PartitionSize.compare(16, 16, Hex16(row.Blocks)) == 0, "blocks shown");
    Check(row.PartitionName == e.EntryName, "row name is the entry name");
    Check(row.PartitionName.size() <= 2 * kEntryNameSize, "name from at most 32 bytes");
    Check(row.PartitionName.find('\0') == std::string::npos, "name ends at a zero byte");

    Check(item.Values.size() == kPartitionSlots && item.Colors.size() == kPartitionSlots, "six cells");
    Check(std::get<const std::uint32_t*>(item.Values[0]) == &row.Position, "slot 0 refers to Position");
    Check(std::get<const std::string*>(item.Values[3]) == &row.AddressRange, "slot 3 refers to AddressRange");

    const PartitionRange r = m.RangeOf(k);
    Check(r.MainLength == effective * kBlockSize, "range length");
    Check(r.SpareLength == r.MainLength / kSpareDivisor, "spare length");
  }
}

void CheckRefused(const ImageModel& m, const RecordingPort& port, std::uint64_t size,
                  std::string_view t) {
  Check(m.CurrentImageFile.empty(), "a failed load leaves no current image");
  Check(m.PartitionRows.empty(), "a failed load leaves no rows");
  Check(m.PartitionItems.Count == 0, "a failed load leaves item Count 0");
  Check(m.PartitionItems.Items.empty(), "a failed load leaves no items");

  std::size_t errorLines = 0;
  for (const auto& line : port.Log) errorLines += line.rfind("ERROR: ", 0) == 0 ? 1 : 0;
  Check(errorLines + port.ErrorBoxes.size() == 1, "exactly one report");
  for (const auto& box : port.ErrorBoxes) Check(!box.empty(), "an error box says something");

  const bool haveHeader = size < kFourGiB && size >= kTableOffset + kPitHeaderSize;
  if (size >= kFourGiB) {
    Check(errorLines == 1 && port.Log.size() == 1, "an image of 4 GiB or more is refused by a log line");
  } else if (!haveHeader) {
    Check(port.ErrorBoxes.size() == 1 && port.Log.empty(), "no header: an I/O error box");
  } else if (LE32At(t, size, kTableOffset) != kPitMagic) {
    Check(port.ErrorBoxes.size() == 1 && port.ErrorBoxes[0] == "ERROR: Cannot find PIT Partition Table.",
          "no magic: the missing-table box");
    Check(port.Log.empty(), "no magic: no log line");
  } else if (LE32At(t, size, kTableOffset + 4) == 0) {
    Check(port.Log.size() == 5 &&
              port.Log.back() == "ERROR: Access Violation when setting Length for Dinamic Array.",
          "zero entries: the detection lines and the array error");
  } else {
    Check(port.ErrorBoxes.size() == 1 && port.Log.size() == 4,
          "a table past the end of the file or of block 1: an error box");
  }
}

// What the bytes call for: the load succeeds exactly when the file is below 4 GiB, has
// the magic at 0x40000, lists at least one entry, and its entries fit in block 1 and
// in the file.
bool ShouldLoad(std::uint64_t size, std::string_view t) {
  if (size >= kFourGiB || size < kTableOffset + kPitHeaderSize) return false;
  if (LE32At(t, size, kTableOffset) != kPitMagic) return false;
  const std::uint64_t count = LE32At(t, size, kTableOffset + 4);
  const std::uint64_t tableBytes = kPitHeaderSize + count * kPitEntrySize;
  return count > 0 && tableBytes <= kBlockSize && kTableOffset + tableBytes <= size;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "orvella-fuzz-image-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_dir = pattern;
  std::atexit(RemoveDir);
  g_good = (g_dir / "good.bin").string();
  g_image = (g_dir / "fuzzed.bin").string();
  std::string error;
  if (!WriteFullImage(g_good, ImageSpec{2, {{"BOOT", 1}, {"PIT", 1}, {"REST", 0}}, ImageFill::Zero},
                      error)) {
    std::fprintf(stderr, "cannot make the good image: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return -1;
  const unsigned mode = data[0] & 3u;
  const std::uint32_t p = LE32(data + 1);
  const std::string_view t(reinterpret_cast<const char*>(data + 5), size - 5);
  std::uint64_t fileSize = 0;
  switch (mode) {
    case 0: fileSize = kTableOffset + t.size() + p % (std::uint64_t{8} << 20); break;
    case 1: fileSize = p; break;
    case 2: fileSize = kFourGiB + p % (std::uint64_t{1} << 30); break;
    default: fileSize = kTableOffset + p % (t.size() + 1); break;
  }
  Check(MakeFile(fileSize, t), "the fuzzed image file can be made");

  ImageModel model;
  {
    RecordingPort first;
    Check(model.LoadImageFileAndProcessIt(g_good, first), "the good image loads");
  }

  RecordingPort port;
  FileFaults::Disarm();
  const bool loaded = model.LoadImageFileAndProcessIt(g_image, port);
  Check(FileFaults::Reads() <= 2, "a load reads the header and the entries only");
  Check(FileFaults::Writes() == 0, "a load writes nothing");

  Check(loaded == ShouldLoad(fileSize, t), "the load succeeds exactly when the bytes allow");
  if (loaded)
    CheckLoaded(model, port, fileSize, t);
  else
    CheckRefused(model, port, fileSize, t);
  return 0;
}
