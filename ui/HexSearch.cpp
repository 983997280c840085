#include "ui/HexSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include "files/FileIO.h"

namespace orvella {

namespace {

using Bytes = std::vector<std::uint8_t>;

// One open chunk, read through one buffer.
class ChunkScanner {
 public:
  ChunkScanner(const THexDataBlockDesc& desc, const Bytes& pattern, std::int64_t blockSize,
               const FindProgress& progress, std::int64_t total)
      : desc_(desc),
        pattern_(pattern),
        reversed_(pattern.rbegin(), pattern.rend()),
        block_(std::max<std::int64_t>(blockSize, 1)),
        progress_(progress),
        total_(total),
        backwardSearch_(reversed_.begin(), reversed_.end()) {}

  bool Open(std::string& error) {
    buffer_.resize(static_cast<std::size_t>(block_) + pattern_.size() - 1);
    return file_.OpenRead(desc_.FileName, error);
  }

  // First (forward) or last match starting in [lo, hi); -1 when none. Stops early
  // (stopped_ set) when the progress callback says so.
  std::int64_t Scan(std::int64_t lo, std::int64_t hi, bool forward, std::string& error) {
    const auto p = static_cast<std::int64_t>(pattern_.size());
    std::int64_t pos = forward ? lo : hi;
    while (forward ? pos < hi : pos > lo) {
      const std::int64_t n = std::min(block_, forward ? hi - pos : pos - lo);
      const std::int64_t start = forward ? pos : pos - n;
      // Starts in [start, start + n) need their pattern's length of bytes each; every one
      // of them lies inside the chunk because hi <= ChunkLength - p + 1.
      const auto len = static_cast<std::size_t>(n + p - 1);
      if (!file_.Seek(static_cast<std::uint64_t>(desc_.StartingOffset + start), error) ||
          !file_.ReadExact(buffer_.data(), len, error)) {
        failed_ = true;
        return -1;
      }
      const auto first = buffer_.begin();
      const auto last = first + static_cast<std::ptrdiff_t>(len);
      if (forward) {
        const std::int64_t hit = FindFirst({buffer_.data(), len}, pattern_);
        if (hit >= 0) return start + hit;
      } else {
        const auto rfirst = std::make_reverse_iterator(last);
        const auto rlast = std::make_reverse_iterator(first);
        const auto hit = backwardSearch_(rfirst, rlast).first;
        if (hit != rlast)
          return start + static_cast<std::int64_t>(len) - (hit - rfirst) - p;
      }
      pos = forward ? pos + n : pos - n;
      done_ += n;
      if (progress_ && !progress_(done_, total_)) {
        stopped_ = true;
        stoppedAt_ = pos;
        return -1;
      }
    }
    return -1;
  }

  bool Failed() const { return failed_; }
  bool Stopped() const { return stopped_; }
  std::int64_t StoppedAt() const { return stoppedAt_; }

 private:
  using Searcher = std::boyer_moore_horspool_searcher<Bytes::const_iterator>;
  const THexDataBlockDesc& desc_;
  const Bytes& pattern_;
  const Bytes reversed_;
  const std::int64_t block_;
  const FindProgress& progress_;
  const std::int64_t total_;
  Searcher backwardSearch_;
  Bytes buffer_;
  File file_;
  std::int64_t done_ = 0;
  std::int64_t stoppedAt_ = -1;
  bool failed_ = false;
  bool stopped_ = false;
};

}  // namespace

std::int64_t FindFirst(std::span<const std::uint8_t> hay, std::span<const std::uint8_t> needle) {
  const std::size_t n = hay.size();
  const std::size_t m = needle.size();
  if (m == 0) return 0;
  if (m > n) return -1;
  const std::uint8_t* const base = hay.data();
  const std::uint8_t* const stop = base + (n - m + 1);  // one past the last start
  const std::uint8_t first = needle.front();
  const std::uint8_t last = needle.back();
  // The C library's memchr runs through the bytes a word or a vector at a time, which
  // beats any searcher that looks at them one by one while starts are rare. Bytes that
  // start the needle often (erased flash and a needle of 0xFF) would make that slow: once
  // the starts checked cost more than a quarter of the bytes passed, Boyer-Moore, linear
  // for the first match, searches the rest.
  std::size_t work = 0;
  for (const std::uint8_t* p = base; p < stop; ++p) {
    p = static_cast<const std::uint8_t*>(std::memchr(p, first, static_cast<std::size_t>(stop - p)));
    if (p == nullptr) return -1;
    if (m == 1) return p - base;
    if (p[m - 1] == last) {
      const auto differs = std::mismatch(p + 1, p + m - 1, needle.data() + 1).first;
      if (differs == p + m - 1) return p - base;
      work += static_cast<std::size_t>(differs - p);
    }
    ++work;
    if (work > 64 + static_cast<std::size_t>(p - base) / 4) {
      const std::boyer_moore_searcher searcher(needle.begin(), needle.end());
      const auto rest = hay.begin() + (p + 1 - base);
      const auto hit = std::search(rest, hay.end(), searcher);
      return hit == hay.end() ? -1 : hit - hay.begin();
    }
  }
  return -1;
}

FindResult FindInChunk(const THexDataBlockDesc& desc, const Bytes& pattern, std::int64_t from,
                       bool forward, const FindProgress& progress, std::int64_t blockSize) {
  FindResult result;
  const auto p = static_cast<std::int64_t>(pattern.size());
  if (pattern.empty() || pattern.size() > kMaxFindPattern || p > desc.ChunkLength) return result;
  // Every address where a match can start.
  const std::int64_t starts = desc.ChunkLength - p + 1;
  from = std::clamp<std::int64_t>(from, 0, starts);

  ChunkScanner scanner(desc, pattern, blockSize, progress, starts);
  if (!scanner.Open(result.Error)) {
    result.What = FindResult::Kind::ReadFailed;
    return result;
  }
  // The part before the wrap, then the rest.
  const std::int64_t ranges[2][2] = {{forward ? from : 0, forward ? starts : from},
                                     {forward ? 0 : from, forward ? from : starts}};
  for (int i = 0; i < 2; ++i) {
    const std::int64_t hit = scanner.Scan(ranges[i][0], ranges[i][1], forward, result.Error);
    if (scanner.Failed()) {
      result.What = FindResult::Kind::ReadFailed;
      return result;
    }
    if (scanner.Stopped()) {
      result.What = FindResult::Kind::Stopped;
      result.StoppedAt = scanner.StoppedAt();
      return result;
    }
    if (hit >= 0) {
      result.What = FindResult::Kind::Found;
      result.Address = hit;
      result.Wrapped = i == 1;
      return result;
    }
  }
  return result;
}

bool ReadChunkBytes(const THexDataBlockDesc& desc, std::int64_t from, std::int64_t n,
                    Bytes& out, std::string& error) {
  out.clear();
  if (from < 0 || n < 0 || from > desc.ChunkLength || n > desc.ChunkLength - from) {
    error = "the bytes lie outside the partition";
    return false;
  }
  File file;
  out.resize(static_cast<std::size_t>(n));
  if (!file.OpenRead(desc.FileName, error) ||
      !file.Seek(static_cast<std::uint64_t>(desc.StartingOffset + from), error) ||
      !file.ReadExact(out.data(), out.size(), error)) {
    out.clear();
    return false;
  }
  return true;
}

bool SaveChunkBytes(const THexDataBlockDesc& desc, std::int64_t from, std::int64_t n,
                    const std::string& path, std::string& error) {
  if (from < 0 || n < 0 || from > desc.ChunkLength || n > desc.ChunkLength - from) {
    error = "the bytes lie outside the partition";
    return false;
  }
  if (path.empty()) {
    error = "no file name was given";
    return false;
  }
  if (SameFile(path, desc.FileName)) {
    error = "\"" + path + "\" is the image file itself, which is never written";
    return false;
  }
  const std::string temporary = PartFile::PartName(path);
  if (FileExists(temporary) && SameFile(temporary, desc.FileName)) {
    error = "\"" + temporary + "\" is the image file itself, which is never written";
    return false;
  }
  File source;
  PartFile target;
  Bytes buffer(static_cast<std::size_t>(std::min<std::int64_t>(kFindBlock, std::max<std::int64_t>(n, 1))));
  bool ok = source.OpenRead(desc.FileName, error) &&
            source.Seek(static_cast<std::uint64_t>(desc.StartingOffset + from), error) &&
            target.Create(path, error);
  for (std::int64_t left = n; ok && left > 0;) {
    const auto step = static_cast<std::size_t>(std::min<std::int64_t>(left, kFindBlock));
    ok = source.ReadExact(buffer.data(), step, error) && target.Out().WriteAll(buffer.data(), step, error);
    left -= static_cast<std::int64_t>(step);
  }
  return ok && target.Commit(error);
}

}  // namespace orvella
