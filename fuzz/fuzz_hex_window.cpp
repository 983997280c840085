// The hex view's data window driven by arbitrary chunk parameters and addresses over a
// real (small) full image file that may shrink, vanish or fail to read under it.
//
// The file is a 1 MiB-chip image with the pattern fill and a table at block 1, made once
// by the image builder; every input starts from it whole. An input is a list of
// operations of 17 bytes each (a short last one is padded with zeros):
//
//   byte 0       code
//   bytes 1..8   a, signed 64-bit little-endian
//   bytes 9..16  b, signed 64-bit little-endian
//
//   code % 8   operation
//   0          attach(image, a, b): as given when code & 0x80, else both taken near the
//              file (value mod (file size + 64) - 32), where most chunks lie
//   1          load(A(a), N(b))
//   2          contains(A(a), N(b))
//   3          recentre(A(a))
//   4          byteAt(a)
//   5          cut the file to a mod (image size + 1) bytes (it shrank under the view)
//   6          delete the file when a is odd, else write it whole again
//   7          make the next file read fail when a is even, else clear() the window
//
//   A(a) = a mod 2^41 - 2^40: every top address a view can ask for (scroll position
//   times 16), and negative ones. N(b) = b mod 2^22 - 1024: line counts and nonsense.
//
// Checked after each operation: the window never holds more than 16 KiB nor anything
// outside its chunk, its chunk lies inside the file it was attached to, every held byte
// is the file's byte at its place, a load reads at most once and only when the lines are
// not held, a failed or impossible load keeps what was held, and contains, recentre and
// byteAt agree with what is held.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/FileIO.h"
#include "image/ImageBuilder.h"
#include "ui/HexDataWindow.h"

namespace {

namespace fs = std::filesystem;
using orvella::FileFaults;
using orvella::HexDataWindow;
using Result = HexDataWindow::LoadResult;

constexpr std::int64_t kCapacity = HexDataWindow::kCapacity;
constexpr std::int64_t kLeadIn = HexDataWindow::kLeadIn;
constexpr std::size_t kOpSize = 17;

fs::path g_dir;
std::string g_file;
std::vector<std::uint8_t> g_image;  // the whole image as made
std::int64_t g_size = -1;           // the file's size now; -1 when it is missing

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "hex data window invariant broken: %s\n", what);
    std::abort();
  }
}

void RemoveDir() {
  std::error_code ignored;
  fs::remove_all(g_dir, ignored);
}

std::int64_t LE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return static_cast<std::int64_t>(v);
}

// v mod m (m > 0), never negative.
std::int64_t Mod(std::int64_t v, std::int64_t m) {
  const std::int64_t r = v % m;
  return r < 0 ? r + m : r;
}

void WriteWhole() {
  FILE* f = std::fopen(g_file.c_str(), "wb");
  Check(f != nullptr, "the image can be written");
  const bool ok = std::fwrite(g_image.data(), 1, g_image.size(), f) == g_image.size();
  Check(std::fclose(f) == 0 && ok, "the image is written whole");
  g_size = static_cast<std::int64_t>(g_image.size());
}

void Cut(std::int64_t size) {
  // Growing a cut file would add zeros where the image has data: write it whole first.
  if (g_size < size) WriteWhole();
  Check(::truncate(g_file.c_str(), size) == 0, "the image can be cut");
  g_size = size;
}

void Delete() {
  std::error_code ignored;
  fs::remove(g_file, ignored);
  g_size = -1;
}

// What the window must be after any operation.
void CheckState(const HexDataWindow& w, std::int64_t attachedSize) {
  const auto& d = w.desc();
  Check(d.ChunkLength >= 0 && d.StartingOffset >= 0, "chunk parameters not negative");
  Check(w.length() == std::min(d.ChunkLength, kCapacity), "holds min(chunk, 16 KiB)");
  Check(static_cast<std::int64_t>(w.bytes().size()) == w.length(), "bytes() is length() long");
  if (d.FileName.empty()) {
    Check(d.ChunkLength == 0, "no file, no chunk");
    return;
  }
  Check(d.StartingOffset + d.ChunkLength <= attachedSize, "the chunk lies inside the file");
  if (d.CurrentDataPosition == d.ChunkLength) return;  // nothing loaded yet
  Check(d.CurrentDataPosition >= 0 && d.CurrentDataPosition + w.length() <= d.ChunkLength,
        "the held bytes lie inside the chunk");
  const std::size_t at = static_cast<std::size_t>(d.StartingOffset + d.CurrentDataPosition);
  Check(std::memcmp(w.bytes().data(), g_image.data() + at, w.bytes().size()) == 0,
        "every held byte is the file's byte at its place");
}

bool Holds(const HexDataWindow& w, std::int64_t x) {
  std::uint8_t ignored = 0;
  return w.byteAt(x, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "orvella-fuzz-hex-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_dir = pattern;
  std::atexit(RemoveDir);
  g_file = (g_dir / "image.bin").string();
  std::string error;
  const orvella::ImageSpec spec{1, {{"BOOT", 1}, {"PIT", 1}, {"DATA", 0xFFFFFFFFu}},
                                orvella::ImageFill::Pattern};
  if (!orvella::WriteFullImage(g_file, spec, error)) {
    std::fprintf(stderr, "cannot make the image: %s\n", error.c_str());
    std::abort();
  }
  FILE* f = std::fopen(g_file.c_str(), "rb");
  Check(f != nullptr, "the image can be read");
  g_image.resize(static_cast<std::size_t>(fs::file_size(g_file)));
  Check(std::fread(g_image.data(), 1, g_image.size(), f) == g_image.size(), "image read");
  std::fclose(f);
  g_size = static_cast<std::int64_t>(g_image.size());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_size != static_cast<std::int64_t>(g_image.size())) WriteWhole();
  FileFaults::Disarm();
  const std::int64_t imageSize = static_cast<std::int64_t>(g_image.size());

  HexDataWindow w;
  std::int64_t attachedSize = 0;
  bool faultArmed = false;
  CheckState(w, attachedSize);

  for (std::size_t at = 0; at < size; at += kOpSize) {
    std::uint8_t op[kOpSize] = {};
    std::memcpy(op, data + at, std::min(kOpSize, size - at));
    const unsigned code = op[0];
    const std::int64_t a = LE64(op + 1);
    const std::int64_t b = LE64(op + 9);
    const std::int64_t addr = Mod(a, std::int64_t{1} << 41) - (std::int64_t{1} << 40);
    const std::int64_t n = Mod(b, std::int64_t{1} << 22) - 1024;
    const auto& d = w.desc();

    switch (code % 8) {
      case 0: {
        const bool raw = (code & 0x80) != 0;
        const std::int64_t offset = raw ? a : Mod(a, imageSize + 64) - 32;
        const std::int64_t length = raw ? b : Mod(b, imageSize + 64) - 32;
        // Whether the chunk fits, without forming offset + length.
        const bool fits = g_size >= 0 && offset >= 0 && length >= 0 && offset <= g_size &&
                          length <= g_size - offset;
        const bool attached = w.attach(g_file, offset, length);
        Check(attached == fits, "attach succeeds exactly when the chunk lies in the file");
        if (attached) {
          attachedSize = g_size;
          Check(d.StartingOffset == offset && d.ChunkLength == length, "attach keeps the chunk");
          Check(d.CurrentDataPosition == length, "a new chunk holds nothing yet");
        } else {
          Check(w.empty() && d.FileName.empty() && w.length() == 0, "a refused chunk empties");
        }
        break;
      }
      case 1: {
        const auto before = d;
        const std::vector<std::uint8_t> held = w.bytes();
        const bool heldAlready = w.contains(addr, n);
        const long reloads = w.reloads();
        FileFaults::Disarm();
        if (faultArmed) FileFaults::ArmRead(1);
        const Result r = w.load(addr, n);
        const long reads = FileFaults::Reads();
        FileFaults::Disarm();
        Check(reads <= 1, "a load reads the file at most once");
        if (w.empty() || held.empty() || heldAlready) {
          Check(r == Result::Held && reads == 0, "held lines are not read again");
        } else if (g_size < 0) {
          Check(r == Result::FileGone, "a missing file is reported as gone");
        } else {
          const std::int64_t start =
              std::clamp<std::int64_t>(addr - kLeadIn, 0, before.ChunkLength - w.length());
          const bool readable = !faultArmed && before.StartingOffset + start + w.length() <= g_size;
          Check(r == (readable ? Result::Reloaded : Result::ReadFailed), "reload or read failure");
          Check(w.reloads() == reloads + 1, "every read attempt counts");
          if (readable) {
            Check(d.CurrentDataPosition == start, "re-centred 8 KiB before the top line");
            if (addr >= 0 && n <= kLeadIn) Check(w.contains(addr, n), "a reload holds the lines");
          } else {
            Check(!w.lastError().empty(), "a read failure is described");
          }
          faultArmed = false;
        }
        if (r != Result::Reloaded) {
          Check(d.CurrentDataPosition == before.CurrentDataPosition &&
                    d.StartingOffset == before.StartingOffset &&
                    d.ChunkLength == before.ChunkLength && w.bytes() == held,
                "a load without a read keeps what was held");
        }
        break;
      }
      case 2: {
        const bool c = w.contains(addr, n);
        const std::int64_t end = std::min(addr + std::max<std::int64_t>(n, 0), d.ChunkLength);
        // Claimed lines are really held; for the addresses a view uses, the converse too.
        // The held bytes are one run, so the first and the last existing byte decide.
        const std::int64_t first = std::max<std::int64_t>(addr, 0);
        const bool all = first >= end || (Holds(w, first) && Holds(w, end - 1));
        if (c) Check(all, "contains claims only held bytes");
        if (addr >= 0) Check(c == all, "contains is true when every existing byte is held");
        break;
      }
      case 3: {
        const std::int64_t r = w.recentre(addr);
        Check(r >= 0 || d.ChunkLength == 0, "recentre never before the chunk");
        Check(r + w.length() <= d.ChunkLength, "recentre never reaches past the chunk");
        Check(r == std::clamp<std::int64_t>(addr - kLeadIn, 0, d.ChunkLength - w.length()),
              "recentre puts the top line 8 KiB in where it can");
        break;
      }
      case 4: {
        std::uint8_t v = 0;
        const bool got = w.byteAt(a, v);
        const bool inside = a >= 0 && a < d.ChunkLength && d.CurrentDataPosition < d.ChunkLength &&
                            a >= d.CurrentDataPosition && a < d.CurrentDataPosition + w.length();
        Check(got == inside, "byteAt answers for held chunk bytes only");
        if (got) Check(v == g_image[static_cast<std::size_t>(d.StartingOffset + a)], "byteAt value");
        break;
      }
      case 5:
        Cut(Mod(a, imageSize + 1));
        break;
      case 6:
        if (a & 1) Delete(); else WriteWhole();
        break;
      default:
        if (a & 1) {
          w.clear();
          attachedSize = 0;
          Check(w.empty() && w.length() == 0 && d.FileName.empty(), "clear forgets everything");
        } else {
          faultArmed = true;
        }
        break;
    }
    CheckState(w, attachedSize);
  }
  FileFaults::Disarm();
  return 0;
}
