// The temporary-image builder of the get-table command fed with any flash-info and any
// table bytes, as a device could report them.
//
// Input format:
//
//   bytes 0..3    N, chip size in MiB            (32-bit little-endian, as reported)
//   bytes 4..7    E, erase-block size in bytes
//   bytes 8..11   P, page size in bytes
//   bytes 12..15  i, the block the table was found in
//   byte 16       bit 0 set: the table is read as the command reads it (L from the count
//                 in the header below, rounded up to pages; the bytes after byte 16 are
//                 padded with 0xA5 or cut to L + L / 32); clear: the bytes are handed over
//                 as they are
//   bytes 17..    the table: main bytes, then their spare bytes
//
// The output goes to a sink that checks it byte by byte against the layout (0xFF, the
// table's main bytes at i × E, its spare bytes at M + i × E / 32) without storing it. A
// chip of up to 4095 MiB would take gigabytes, so the sink takes at most kSinkCapacity
// bytes and then fails: that also exercises the builder's failure path.
//
// Checked: the builder refuses exactly the geometries and tables its header rules out,
// before writing a byte, with an "ERROR: " text; what it accepts satisfies every
// precondition of the layout (table inside one erase block, chip larger than i + 1
// blocks, N below 4096); the output is the layout, in chunks of at most one erase block,
// and exactly M + M / 32 bytes long; progress never passes the total and reaches it
// only with the last chunk; a failing sink stops the build at once with its own error.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "device/TempImage.h"

namespace {

using namespace orvella;

constexpr std::uint64_t kSinkCapacity = std::uint64_t{6} << 20;
constexpr std::uint32_t kHeader = 48;
constexpr std::uint32_t kEntry = 132;
const std::vector<std::uint8_t> kBlank(std::size_t{1} << 16, 0xFF);

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "temporary image invariant broken: %s\n", what);
    std::abort();
  }
}

std::uint32_t LE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// The geometry rules of the header, stated on their own.
bool GeometryUsable(const FlashGeometry& g) {
  return g.ChipSizeMiB >= 1 && g.ChipSizeMiB <= kMaxChipSizeMiB && g.PageSize != 0 &&
         g.PageSize % kPageGranule == 0 && g.EraseBlockSize != 0 &&
         g.EraseBlockSize % g.PageSize == 0 && g.EraseBlockSize <= kMaxEraseBlockSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 17) return -1;
  const FlashGeometry g{LE32(data), LE32(data + 4), LE32(data + 8)};
  const std::uint32_t block = LE32(data + 12);
  const bool asCommand = (data[16] & 1) != 0;
  std::vector<std::uint8_t> table(data + 17, data + size);

  const bool geometryOk = GeometryUsable(g);
  Check(CheckFlashGeometry(g).empty() == geometryOk, "geometry check follows its rules");
  if (asCommand) {
    // As the command does: L from the header's count, rounded up to pages.
    const std::uint32_t count = table.size() >= 8 ? LE32(table.data() + 4) : 0;
    const std::uint64_t L = TableLengthInPages(count, g.PageSize);
    const std::uint64_t raw = kHeader + std::uint64_t{kEntry} * count;
    if (g.PageSize != 0)
      Check(L >= raw && L % g.PageSize == 0 && L - raw < g.PageSize, "L is raw rounded up to pages");
    if (!geometryOk) return 0;  // the command stops before it reads the table
    const std::string placement = CheckTablePlacement(g, block, L);
    const bool placeable = L <= g.EraseBlockSize &&
                           (std::uint64_t{block} + 1) * g.EraseBlockSize < (std::uint64_t{g.ChipSizeMiB} << 20);
    Check(placement.empty() == placeable, "placement check: L within a block, table inside the chip");
    if (!placeable) return 0;  // the command stops before it reads the table
    table.resize(static_cast<std::size_t>(L + L / 32), 0xA5);
  }

  const std::uint64_t M = std::uint64_t{g.ChipSizeMiB} << 20;
  const std::uint64_t total = M + M / 32;
  const std::uint64_t tableMain = table.size() / 33 * 32;
  const std::uint64_t tableAt = std::uint64_t{block} * g.EraseBlockSize;
  const std::uint64_t spareAt = M + tableAt / 32;
  const bool shouldBuild = geometryOk && !table.empty() && table.size() % 33 == 0 &&
                           tableMain <= g.EraseBlockSize &&
                           (std::uint64_t{block} + 1) * g.EraseBlockSize < M;
  if (shouldBuild)
    Check(tableMain > 0 && g.ChipSizeMiB < 4096 && tableAt + g.EraseBlockSize < M, "layout preconditions");

  std::uint64_t written = 0;
  std::uint64_t lastProgress = 0;
  bool progressPending = false;
  bool sinkFailed = false;
  int callsAfterFailure = 0;
  const std::string sinkError = "sink full";

  // Output bytes [from, from + n) against the layout: the two table windows compared
  // with the table, everything else with 0xFF.
  const auto matches = [&](const std::uint8_t* bytes, std::uint64_t from, std::uint64_t n) {
    struct Window { std::uint64_t at, length; const std::uint8_t* source; };
    const Window windows[2] = {{tableAt, tableMain, table.data()},
                               {spareAt, tableMain / 32, table.data() + tableMain}};
    std::uint64_t o = from;
    const std::uint64_t end = from + n;
    while (o < end) {
      std::uint64_t next = end;
      bool inTable = false;
      for (const Window& w : windows) {
        if (o >= w.at && o < w.at + w.length) {
          const std::uint64_t k = std::min(end, w.at + w.length) - o;
          if (std::memcmp(bytes + (o - from), w.source + (o - w.at), k) != 0) return false;
          o += k;
          inTable = true;
          break;
        }
        if (w.at > o) next = std::min(next, w.at);
      }
      if (inTable) continue;
      for (std::uint64_t k = o; k < next; k += kBlank.size()) {
        const std::size_t m = static_cast<std::size_t>(std::min<std::uint64_t>(kBlank.size(), next - k));
        if (std::memcmp(bytes + (k - from), kBlank.data(), m) != 0) return false;
      }
      o = next;
    }
    return true;
  };
  const ImageSink sink = [&](const std::uint8_t* bytes, std::size_t n, std::string& error) {
    if (sinkFailed) ++callsAfterFailure;
    Check(shouldBuild, "a refused build writes nothing");
    Check(n > 0 && n <= g.EraseBlockSize, "chunks are at most one erase block");
    Check(written + n <= total, "never more than M + M / 32 bytes");
    if (progressPending) Check(written + n == lastProgress, "progress names the end of the chunk");
    progressPending = false;
    const std::uint64_t take = std::min<std::uint64_t>(n, kSinkCapacity - written);
    Check(matches(bytes, written, take), "every byte where the layout puts it");
    if (take < n) {
      written += take;
      sinkFailed = true;
      error = sinkError;
      return false;
    }
    written += n;
    return true;
  };
  const FillProgress progress = [&](std::uint64_t p, std::uint64_t t) {
    Check(!sinkFailed, "no progress after a failed write");
    Check(t == total && p > lastProgress && p <= t, "progress rises to the total");
    Check(lastProgress < total, "the total is reached only once");
    lastProgress = p;
    progressPending = true;
  };

  std::string error;
  const bool built = BuildTemporaryImage(g, block, std::span<const std::uint8_t>(table), sink,
                                         progress, error);
  Check(callsAfterFailure == 0, "a failed write ends the build");
  if (!shouldBuild) {
    Check(!built && written == 0, "a refused build writes nothing");
    Check(error.rfind("ERROR: ", 0) == 0, "a refusal says why");
    return 0;
  }
  if (sinkFailed) {
    Check(!built && error == sinkError, "the sink's failure is the build's failure");
    return 0;
  }
  Check(built && error.empty(), "an accepted build succeeds");
  Check(written == total, "the image is exactly M + M / 32 bytes");
  Check(lastProgress == total, "progress ends at 100 per cent");
  return 0;
}
