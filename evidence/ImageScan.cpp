#include "evidence/ImageScan.h"

#include <algorithm>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"

namespace orvella {

namespace {

struct Piece {
  ScanChunk chunk;  // without its data pointers
  bool withB = false;
};

// Splits A's areas into chunks of whole blocks, cut where B's blocks end so that every
// chunk is either held by B entirely or not at all.
std::vector<Piece> PlanPieces(const ScanPlan& plan) {
  const ImageLayout& a = plan.A->Layout;
  const ImageLayout* b = plan.B ? &plan.B->Layout : nullptr;
  const std::uint32_t blocksB = b ? b->TotalBlocks : 0;
  std::vector<Piece> pieces;
  const auto blockRuns = [&](ScanArea area, std::uint32_t perChunk) {
    for (std::uint32_t first = 0; first < a.TotalBlocks;) {
      std::uint32_t n = std::min(perChunk, a.TotalBlocks - first);
      if (first < blocksB) n = std::min(n, blocksB - first);
      Piece p;
      p.chunk.Area = area;
      p.chunk.FirstBlock = first;
      p.chunk.Blocks = n;
      p.withB = first < blocksB;
      if (area == ScanArea::Main) {
        p.chunk.Offset = std::uint64_t{first} * kBlockSize;
        p.chunk.Size = std::size_t{n} * kBlockSize;
        p.chunk.OffsetB = p.chunk.Offset;
      } else {
        p.chunk.Offset = a.SpareOfBlock(first);
        p.chunk.Size = std::size_t{n} * kSparePerBlock;
        p.chunk.OffsetB = p.withB ? b->SpareOfBlock(first) : 0;
      }
      pieces.push_back(p);
      first += n;
    }
  };
  blockRuns(ScanArea::Main, kScanBlocks);
  if (plan.MainOnly) return pieces;
  blockRuns(ScanArea::Spare, kScanBlocks * kSpareDivisor);
  // Bytes after the spare area are compared only when both files have as many.
  const bool trailingB = b && b->FileSize == a.FileSize;
  for (std::uint64_t at = a.SpareEnd; at < a.FileSize;) {
    Piece p;
    p.chunk.Area = ScanArea::Trailing;
    p.chunk.Offset = at;
    p.chunk.Size = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::uint64_t{kScanBlocks} * kBlockSize, a.FileSize - at));
    p.chunk.OffsetB = at;
    p.withB = trailingB;
    pieces.push_back(p);
    at += p.chunk.Size;
  }
  return pieces;
}

struct Buffers {
  ChunkBuffer a, b;
};

bool ReadPiece(const Piece& p, File& fa, File* fb, Buffers& into, ScanChunk& chunk,
               std::string& error) {
  chunk = p.chunk;
  if (!into.a.Resize(p.chunk.Size) || (p.withB && !into.b.Resize(p.chunk.Size))) {
    error = "Out of memory: cannot allocate the read buffers";
    return false;
  }
  if (!fa.Seek(p.chunk.Offset, error) || !fa.ReadExact(into.a.data(), p.chunk.Size, error))
    return false;
  chunk.A = into.a.data();
  if (p.withB) {
    if (!fb->Seek(p.chunk.OffsetB, error) || !fb->ReadExact(into.b.data(), p.chunk.Size, error))
      return false;
    chunk.B = into.b.data();
  }
  return true;
}

}  // namespace

bool ScanImages(const ScanPlan& plan, LaneRunner& runner, WindowPort& port, std::string& error) {
  const std::vector<Piece> pieces = PlanPieces(plan);
  File fa, fb;
  if (!fa.OpenRead(plan.A->Path, error)) return false;
  if (plan.B && !fb.OpenRead(plan.B->Path, error)) return false;
  File* b = plan.B ? &fb : nullptr;

  std::int64_t total = 0;
  for (const Piece& p : pieces) total += static_cast<std::int64_t>(p.chunk.Size);
  port.GaugeSetPos(0);
  port.GaugeSetMax(total);
  port.ProcessMessages();

  Buffers buffers[2];
  ScanChunk chunks[2];
  if (!pieces.empty() && !ReadPiece(pieces[0], fa, b, buffers[0], chunks[0], error))
    return false;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const ScanChunk& now = chunks[i % 2];
    bool readOk = true;
    std::string readError;
    runner.Run(
        [&] {
          for (ChunkSink* sink : plan.Lane0) sink->Take(now);
        },
        [&] {
          for (ChunkSink* sink : plan.Lane1) sink->Take(now);
          if (i + 1 < pieces.size())
            readOk = ReadPiece(pieces[i + 1], fa, b, buffers[(i + 1) % 2], chunks[(i + 1) % 2],
                               readError);
        });
    if (!readOk) {
      error = readError;
      return false;
    }
    port.GaugeSetPos(port.GaugePos() + static_cast<std::int64_t>(now.Size));
    port.ProcessMessages();
  }
  std::string ignored;
  fa.Close(ignored);  // read-only: nothing can be lost at close
  fb.Close(ignored);
  return true;
}

}  // namespace orvella
