#include "evidence/ErasedBlocks.h"

#include "evidence/EvidenceImage.h"
#include "image/BlankCheck.h"

namespace orvella {

ErasedBlocks::ErasedBlocks(std::uint32_t blocks) : main_(blocks, false), spare_(blocks, false) {}

void ErasedBlocks::Take(const ScanChunk& chunk) {
  if (chunk.Area == ScanArea::Trailing) return;
  const bool main = chunk.Area == ScanArea::Main;
  const std::size_t perBlock = main ? kBlockSize : kSparePerBlock;
  std::vector<bool>& into = main ? main_ : spare_;
  for (std::uint32_t i = 0; i < chunk.Blocks; ++i) {
    const std::uint64_t block = std::uint64_t{chunk.FirstBlock} + i;
    if (block >= into.size()) return;
    const std::uint8_t* data = chunk.A + std::size_t{i} * perBlock;
    into[block] = main ? IsErased(data, perBlock) : IsSpareErased(data, perBlock);
  }
}

std::vector<bool> ErasedBlocks::Erased() const {
  std::vector<bool> erased(main_.size());
  for (std::size_t b = 0; b < erased.size(); ++b) erased[b] = main_[b] && spare_[b];
  return erased;
}

}  // namespace orvella
