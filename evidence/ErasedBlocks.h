#pragma once
// Which erase blocks of an image are erased: main data all 0xFF and spare data erased by
// the blank check's rule (bytes 0 to 13 of every 16-byte group 0xFF), so a partition the
// blank check calls blank shows as erased throughout.

#include <cstdint>
#include <vector>

#include "evidence/ImageScan.h"

namespace orvella {

class ErasedBlocks : public ChunkSink {
 public:
  explicit ErasedBlocks(std::uint32_t blocks);
  void Take(const ScanChunk& chunk) override;
  // One per block; true when both its main and its spare data were seen erased.
  std::vector<bool> Erased() const;

 private:
  std::vector<bool> main_, spare_;
};

}  // namespace orvella
