#pragma once
// One pass over an image (and, for a comparison, over a second one in step with it):
// the main area in runs of whole erase blocks, then the spare area in runs of whole
// blocks' spare data, then any bytes after it. Every consumer sees every chunk once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "evidence/EvidenceImage.h"
#include "image/WindowPort.h"

namespace orvella {

enum class ScanArea { Main, Spare, Trailing };

struct ScanChunk {
  ScanArea Area = ScanArea::Main;
  std::uint64_t Offset = 0;         // file offset in image A
  const std::uint8_t* A = nullptr;
  std::size_t Size = 0;
  std::uint32_t FirstBlock = 0;     // main and spare: the first of the whole blocks held
  std::uint32_t Blocks = 0;
  const std::uint8_t* B = nullptr;  // image B's bytes of the same blocks, when it holds them
  std::uint64_t OffsetB = 0;
};

class ChunkSink {
 public:
  virtual ~ChunkSink() = default;
  virtual void Take(const ScanChunk& chunk) = 0;
};

// Runs the two lanes of one chunk. Sinks of different lanes share nothing, so a caller
// with a second thread may run lane 0 there; this default runs them one after the other.
class LaneRunner {
 public:
  virtual ~LaneRunner() = default;
  virtual void Run(const std::function<void()>& lane0, const std::function<void()>& lane1) {
    lane0();
    lane1();
  }
};

struct ScanPlan {
  const EvidenceImage* A = nullptr;
  const EvidenceImage* B = nullptr;  // null: A alone
  bool MainOnly = false;             // stop after the main area
  std::vector<ChunkSink*> Lane0;
  std::vector<ChunkSink*> Lane1;
};

// Main chunks hold up to this many blocks; spare chunks the spare data of 32 times as many.
// One block keeps the four buffers of a comparison (two images, read ahead) at 1 MiB.
inline constexpr std::uint32_t kScanBlocks = 1;

// Reads both files read-only, in order, with the next chunk read while the sinks take the
// present one; the gauge counts A's bytes. False with `error` on a read failure or a file
// that ends early (it changed since it was opened).
bool ScanImages(const ScanPlan& plan, LaneRunner& runner, WindowPort& port, std::string& error);

}  // namespace orvella
