// A FAT volume of any bytes: the boot sector, the walk over every folder with its chain
// checks, reads of the files, look-ups by path, and the name checks of extraction.
//
// Input format:
//
//   bytes 0..3   V, 32-bit little-endian: the volume is (V mod 256 Mi) KiB long, or as
//                long as the chunks need when that is more
//   then chunks  u32 offset, u16 length, `length` bytes: placed at `offset`, later
//                chunks over earlier ones; every byte no chunk gives is zero
//
// A seed is the metadata of a real volume (boot sector, FATs, root folder, the first
// clusters) in a few chunks, so the fuzzer mutates the structures and not megabytes of
// file data.
//
// Checked: opening fails with a reason or gives a geometry inside the volume; the walk
// ends; every entry the walk lists has a path that begins with "/" and ends with its
// name, and a look-up by that path finds an entry of that path; a read never delivers
// more than the size, delivers all of it when it says complete, and gives a reason when
// it does not.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fat/Names.h"
#include "fat/Volume.h"

namespace {

using namespace orvella;

constexpr std::uint64_t kMaxVolume = 256ull << 20;
constexpr std::size_t kMaxEntries = 2000;
constexpr std::uint64_t kReadBudget = 16ull << 20;

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_fat: %s\n", what);
  std::abort();
}

// The volume as 4 KiB pages; pages no chunk touched read as zeros.
class ChunkSource : public fat::ByteSource {
 public:
  ChunkSource(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return;
    size_ = (fat::Le32(data) % (kMaxVolume >> 10)) << 10;
    std::size_t at = 4;
    while (at + 6 <= size) {
      const std::uint64_t offset = fat::Le32(data + at) % kMaxVolume;
      const std::size_t length = std::min<std::size_t>(fat::Le16(data + at + 4), size - at - 6);
      at += 6;
      for (std::size_t done = 0; done < length;) {
        const std::uint64_t pos = offset + done;
        const std::size_t take = std::min<std::size_t>(length - done, kPage - pos % kPage);
        std::memcpy(pages_[pos / kPage].data() + pos % kPage, data + at + done, take);
        done += take;
      }
      size_ = std::max(size_, offset + length);
      at += length;
    }
  }
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) override {
    if (offset > size_ || n > size_ - offset) {
      error = "past the end";
      return false;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (n > 0) {
      const std::size_t in = offset % kPage;
      const std::size_t take = std::min(n, kPage - in);
      const auto it = pages_.find(offset / kPage);
      if (it == pages_.end())
        std::memset(out, 0, take);
      else
        std::memcpy(out, it->second.data() + in, take);
      out += take;
      offset += take;
      n -= take;
    }
    return true;
  }

 private:
  static constexpr std::size_t kPage = 4096;
  std::map<std::uint64_t, std::array<std::uint8_t, kPage>> pages_;
  std::uint64_t size_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ChunkSource source(data, size);
  std::string error;
  const auto volume = fat::Volume::Open(source, error);
  if (!volume) {
    Require(!error.empty(), "a refused volume without a reason");
    return 0;
  }
  const fat::Geometry& g = volume->Facts();
  Require(g.Clusters >= 1 && g.DataOffset < g.VolumeBytes, "a geometry without clusters");
  Require(g.FatOffset < source.Size(), "a FAT outside the source");

  std::vector<fat::Entry> entries;
  volume->Walk(
      [&](const fat::Entry& e) {
        Require(!e.Path.empty() && e.Path[0] == '/', "a path not from the root");
        Require(e.Path.size() > e.Name.size() &&
                    e.Path.compare(e.Path.size() - e.Name.size(), e.Name.size(), e.Name) == 0,
                "a path that does not end with its name");
        (void)fat::UnsafeNameReason(e.Name);
        (void)fat::WindowsNameReason(e.Name);
        if (entries.size() < kMaxEntries) entries.push_back(e);
        return fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) { Require(!f.Text.empty() && !f.Path.empty(), "an empty finding"); });

  std::uint64_t budget = kReadBudget;
  for (const fat::Entry& e : entries) {
    if (e.IsFolder() || budget == 0) continue;
    std::uint64_t got = 0;
    const fat::ReadResult r = volume->Read(e, [&](const std::uint8_t*, std::size_t n) {
      got += n;
      if (n >= budget) {
        budget = 0;
        return false;
      }
      budget -= n;
      return true;
    });
    Require(r.Bytes == got && got <= e.Size, "a read that delivered more than the size");
    Require(r.Status != fat::ReadStatus::Complete || got == e.Size, "a complete read that fell short");
    Require(r.Status == fat::ReadStatus::Complete || !r.Problem.empty(), "a short read without a reason");
  }
  for (std::size_t i = 0; i < entries.size() && i < 8; ++i) {
    const auto found = volume->Find(entries[i].Path);
    Require(found.has_value(), "a listed path the look-up does not find");
  }
  return 0;
}
