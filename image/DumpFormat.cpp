#include "image/DumpFormat.h"

#include <algorithm>
#include <cstring>

namespace orvella {

namespace {

constexpr std::string_view kNames[] = {"full", "page", "sector", "split", "main"};

constexpr std::uint64_t kPageMain = 4096;
constexpr std::uint64_t kPageSpare = 128;
constexpr std::uint64_t kSectorMain = 512;
constexpr std::uint64_t kSectorSpare = 16;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Bytes of one block in the dump's (main) file.
std::uint64_t BlockFileBytes(DumpFormat format) {
  return format == DumpFormat::Split || format == DumpFormat::Main ? kDumpBlockMain : kDumpBlockBytes;
}

// Copies the part of [from, from + n) that lies in [at, at + want) from `src` (which
// holds `from` on) into `dst` (which holds `at` on).
void CopyOverlap(const std::uint8_t* src, std::uint64_t from, std::uint64_t n, std::uint64_t at,
                 std::size_t want, std::uint8_t* dst) {
  const std::uint64_t lo = std::max(from, at);
  const std::uint64_t hi = std::min(from + n, at + want);
  if (lo < hi) std::memcpy(dst + (lo - at), src + (lo - from), static_cast<std::size_t>(hi - lo));
}

}  // namespace

std::string_view DumpFormatName(DumpFormat format) {
  return kNames[static_cast<std::size_t>(format)];
}

std::optional<DumpFormat> DumpFormatNamed(std::string_view name) {
  for (const DumpFormat f : kDumpFormats)
    if (DumpFormatName(f) == name) return f;
  return std::nullopt;
}

std::string DumpFormatNames() {
  std::string names;
  for (const DumpFormat f : kDumpFormats) names += " " + std::string(DumpFormatName(f));
  return names;
}

std::uint64_t DumpFileBytes(DumpFormat format, std::uint32_t blocks) {
  return std::uint64_t{blocks} * BlockFileBytes(format);
}

std::uint64_t DumpSpareFileBytes(DumpFormat format, std::uint32_t blocks) {
  return format == DumpFormat::Split ? std::uint64_t{blocks} * kDumpBlockSpare : 0;
}

bool DumpReader::Open(const std::string& path, DumpFormat format, const DumpOpenOptions& options,
                      std::string& error) {
  std::string ignored;
  file_.Close(ignored);
  spare_.Close(ignored);
  format_ = format;
  blocks_ = readable_ = 0;
  size_ = 0;
  const bool split = format == DumpFormat::Split;
  if (split == options.SparePath.empty()) {
    error = split ? "a split dump needs the file of its spare data"
                  : "a spare file goes only with a split dump, not with a " +
                        std::string(DumpFormatName(format)) + " dump";
    return false;
  }
  unitMain_ = format == DumpFormat::Page ? kPageMain : format == DumpFormat::Sector ? kSectorMain : 0;
  unitSpare_ = format == DumpFormat::Page ? kPageSpare : format == DumpFormat::Sector ? kSectorSpare : 0;
  std::uint64_t spareSize = 0;
  if (!file_.OpenRead(path, error) || !file_.Size(size_, error)) return false;
  if (split && (!spare_.OpenRead(options.SparePath, error) || !spare_.Size(spareSize, error)))
    return false;

  const std::uint64_t perBlock = BlockFileBytes(format);
  std::uint64_t blocks = options.ChipBlocks;
  if (blocks == 0) {
    if (size_ == 0 || size_ % perBlock != 0) {
      error = Quoted(path) + " holds " + std::to_string(size_) + " bytes, not a whole number of " +
              std::to_string(perBlock) + "-byte erase blocks" +
              (perBlock == kDumpBlockBytes ? " with their spare data" : "") + " (" +
              std::to_string(size_ / perBlock) + " blocks and " + std::to_string(size_ % perBlock) +
              " bytes): not a whole " + std::string(DumpFormatName(format)) + " dump, cut off or of another format";
      return false;
    }
    blocks = size_ / perBlock;
  }
  if (blocks > kMaxDumpBlocks) {
    error = Quoted(path) + " would hold a chip of " + std::to_string(blocks) +
            " erase blocks; only chips of up to " + std::to_string(kMaxDumpBlocks) +
            " blocks (a full image below 4 GiB) can be processed";
    return false;
  }
  if (split && options.ChipBlocks == 0 && spareSize != blocks * kDumpBlockSpare) {
    error = "the spare file " + Quoted(options.SparePath) + " holds " + std::to_string(spareSize) +
            " bytes; the " + std::to_string(blocks) + " erase blocks of the main file " + Quoted(path) +
            " have " + std::to_string(blocks * kDumpBlockSpare) + " bytes of spare data";
    return false;
  }
  blocks_ = static_cast<std::uint32_t>(blocks);

  std::uint64_t readable = std::min(blocks, size_ / perBlock);
  if (format == DumpFormat::Full) {
    const std::uint64_t spareStart = blocks * kDumpBlockMain;
    readable = std::min({blocks, size_ / kDumpBlockMain,
                         size_ > spareStart ? (size_ - spareStart) / kDumpBlockSpare : 0});
  } else if (split) {
    readable = std::min(readable, spareSize / kDumpBlockSpare);
  }
  readable_ = static_cast<std::uint32_t>(readable);
  return true;
}

bool DumpReader::InArea(std::uint64_t at, std::size_t n, std::uint64_t area, const char* what,
                        std::string& error) const {
  if (n <= area && at <= area - n) return true;
  error = "cannot read " + std::to_string(n) + " bytes at " + std::to_string(at) + " of the " +
          what + " of " + Quoted(file_.Path()) + ": it has " + std::to_string(area);
  return false;
}

bool DumpReader::ReadMain(std::uint64_t at, void* buffer, std::size_t n, std::string& error) {
  if (!InArea(at, n, MainSize(), "main data", error)) return false;
  if (unitMain_ != 0) return Gather(at, static_cast<std::uint8_t*>(buffer), n, 0, nullptr, 0, error);
  return file_.Seek(at, error) && file_.ReadExact(buffer, n, error);
}

bool DumpReader::ReadSpare(std::uint64_t at, void* buffer, std::size_t n, std::string& error) {
  if (!InArea(at, n, SpareSize(), "spare data", error)) return false;
  switch (format_) {
    case DumpFormat::Full: return file_.Seek(MainSize() + at, error) && file_.ReadExact(buffer, n, error);
    case DumpFormat::Split: return spare_.Seek(at, error) && spare_.ReadExact(buffer, n, error);
    case DumpFormat::Main: std::memset(buffer, 0xFF, n); return true;
    case DumpFormat::Page:
    case DumpFormat::Sector: break;
  }
  return Gather(0, nullptr, 0, at, static_cast<std::uint8_t*>(buffer), n, error);
}

bool DumpReader::ReadSectors(std::uint64_t first, std::size_t count, std::uint8_t* main,
                             std::uint8_t* spare, std::string& error) {
  const std::uint64_t sectors = MainSize() / kSectorMain;
  if (count > sectors || first > sectors - count) {
    error = "cannot read sectors " + std::to_string(first) + " to " + std::to_string(first + count) +
            " of " + Quoted(file_.Path()) + ": it has " + std::to_string(sectors);
    return false;
  }
  if (unitMain_ != 0)
    return Gather(first * kSectorMain, main, count * kSectorMain, first * kSectorSpare, spare,
                  count * kSectorSpare, error);
  return ReadMain(first * kSectorMain, main, count * kSectorMain, error) &&
         ReadSpare(first * kSectorSpare, spare, count * kSectorSpare, error);
}

bool DumpReader::Gather(std::uint64_t mainAt, std::uint8_t* main, std::size_t mainN,
                        std::uint64_t spareAt, std::uint8_t* spare, std::size_t spareN,
                        std::string& error) {
  const std::uint64_t u = unitMain_, s = unitSpare_, stride = u + s;
  // The units (pages or sectors) holding the bytes asked for, and the file offset just
  // past the last byte asked for: a dump cut off after it still serves the request.
  std::uint64_t first = ~std::uint64_t{0}, end = 0, fileEnd = 0;
  if (mainN > 0) {
    const std::uint64_t last = mainAt + mainN - 1;
    first = mainAt / u;
    end = last / u + 1;
    fileEnd = last / u * stride + last % u + 1;
  }
  if (spareN > 0) {
    const std::uint64_t last = spareAt + spareN - 1;
    first = std::min(first, spareAt / s);
    end = std::max(end, last / s + 1);
    fileEnd = std::max(fileEnd, last / s * stride + u + last % s + 1);
  }
  if (end == 0) return true;
  // One block with its spare data at a time: whole pages and whole sectors alike.
  if (scratch_.size() < kDumpBlockBytes && !scratch_.Resize(kDumpBlockBytes)) {
    error = "out of memory for the read buffer";
    return false;
  }
  const std::uint64_t perRead = kDumpBlockBytes / stride;
  for (std::uint64_t u0 = first; u0 < end; u0 += perRead) {
    const std::uint64_t u1 = std::min(end, u0 + perRead);
    const std::uint64_t from = u0 * stride;
    const std::uint64_t to = std::min(u1 * stride, fileEnd);
    if (!file_.Seek(from, error) ||
        !file_.ReadExact(scratch_.data(), static_cast<std::size_t>(to - from), error))
      return false;
    for (std::uint64_t k = u0; k < u1; ++k) {
      const std::uint8_t* unit = scratch_.data() + (k - u0) * stride;
      if (mainN > 0) CopyOverlap(unit, k * u, u, mainAt, mainN, main);
      if (spareN > 0) CopyOverlap(unit + u, k * s, s, spareAt, spareN, spare);
    }
  }
  return true;
}

File* DumpReader::MainRun() { return unitMain_ == 0 && file_.IsOpen() ? &file_ : nullptr; }

File* DumpReader::SpareRun(std::uint64_t& start) {
  if (format_ == DumpFormat::Full && file_.IsOpen()) {
    start = MainSize();
    return &file_;
  }
  if (format_ == DumpFormat::Split && spare_.IsOpen()) {
    start = 0;
    return &spare_;
  }
  return nullptr;
}

}  // namespace orvella
