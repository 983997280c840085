#include "phone/BmlView.h"

#include <algorithm>
#include <cstring>

namespace orvella::phone {

namespace {

std::string Num(std::uint64_t v) { return std::to_string(v); }

constexpr std::uint32_t kDriverSpareBytes = 6;  // of each sector's 16

// The length of the run of blocks from `at` on that lie side by side on the chip.
std::uint32_t RunFrom(const std::vector<std::uint32_t>& physical, std::uint32_t at, std::uint32_t end) {
  std::uint32_t n = 1;
  while (at + n < end && physical[at + n] == physical[at] + n) ++n;
  return n;
}

}  // namespace

std::vector<std::uint32_t> PhysicalBlocks(const BmlResult& bml, std::uint32_t first, std::uint32_t blocks) {
  std::vector<std::uint32_t> physical(blocks);
  for (std::uint32_t u = 0; u < blocks; ++u) physical[u] = bml.Map(first + u);
  return physical;
}

bool BmlView::ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                       std::string& error) {
  if (block >= physical_.size()) {
    error = "block " + Num(block) + " is not in a partition of " + Num(physical_.size()) + " blocks";
    return false;
  }
  if (chip_.ReadPage(physical_[block], page, main, spare, error)) return true;
  error = "block " + Num(block) + " of the partition (chip block " + Num(physical_[block]) + "): " + error;
  return false;
}

bool BmlView::ReadMainPages(std::uint32_t block, std::uint32_t page, std::uint32_t count, std::uint8_t* main,
                            std::string& error) {
  if (block >= physical_.size()) {
    error = "block " + Num(block) + " is not in a partition of " + Num(physical_.size()) + " blocks";
    return false;
  }
  if (chip_.ReadMainPages(physical_[block], page, count, main, error)) return true;
  error = "block " + Num(block) + " of the partition (chip block " + Num(physical_[block]) + "): " + error;
  return false;
}

bool BmlView::ReadMainBlocks(std::uint32_t block, std::uint32_t count, std::uint8_t* main, std::string& error) {
  if (block > physical_.size() || count > physical_.size() - block) {
    error = "blocks " + Num(block) + " to " + Num(std::uint64_t{block} + count - 1) + " are not all in a partition of " +
            Num(physical_.size()) + " blocks";
    return false;
  }
  const std::uint32_t end = block + count;
  for (std::uint32_t at = block; at < end;) {
    const std::uint32_t n = RunFrom(physical_, at, end);
    if (!chip_.ReadMainBlocks(physical_[at], n, main + std::size_t{at - block} * kBlockMainBytes, error)) {
      error = "blocks " + Num(at) + " to " + Num(at + n - 1) + " of the partition (chip blocks " + Num(physical_[at]) +
              " to " + Num(std::uint64_t{physical_[at]} + n - 1) + "): " + error;
      return false;
    }
    at += n;
  }
  return true;
}

bool CopyViewMain(ImagePageSource& chip, const BmlView& view, File& out, ChunkBuffer& buffer, std::string& error,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                  const std::function<bool()>& stop) {
  const std::vector<std::uint32_t>& physical = view.Physical();
  const auto end = static_cast<std::uint32_t>(physical.size());
  if (buffer.size() < kBlockMainBytes && !buffer.Resize(kBlockMainBytes)) {
    error = "Out of memory: cannot allocate the copy buffer";
    return false;
  }
  const auto chunkBlocks = static_cast<std::uint32_t>(buffer.size() / kBlockMainBytes);
  const std::uint64_t total = std::uint64_t{end} * kBlockMainBytes;
  for (std::uint32_t at = 0; at < end;) {
    const std::uint32_t n = std::min(RunFrom(physical, at, end), chunkBlocks);
    if (stop && stop()) {
      error = "Stopped by User.";
      return false;
    }
    if (!chip.CopyMainBlocks(physical[at], n, out, buffer, error)) {
      error = "block " + Num(at) + " of the partition (chip block " + Num(physical[at]) + "): " + error;
      return false;
    }
    at += n;
    if (progress) progress(std::uint64_t{at} * kBlockMainBytes, total);
  }
  return true;
}

bool ViewBytes::Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) {
  if (offset > Size() || n > Size() - offset) {
    error = "bytes " + Num(offset) + " to " + Num(offset + n) + " lie past the partition's " + Num(Size()) + " bytes";
    return false;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (n > 0) {
    // Whole blocks go straight into the caller's buffer, runs of them at once.
    if (offset % kBlockMainBytes == 0 && n >= kBlockMainBytes) {
      const auto blocks = static_cast<std::uint32_t>(n / kBlockMainBytes);
      if (!view_.ReadMainBlocks(static_cast<std::uint32_t>(offset / kBlockMainBytes), blocks, out, error)) return false;
      const std::size_t done = std::size_t{blocks} * kBlockMainBytes;
      out += done;
      offset += done;
      n -= done;
      continue;
    }
    const std::uint64_t g = offset / kPageMainBytes;
    if (g != held_) {
      held_ = ~std::uint64_t{0};
      if (!view_.ReadPage(static_cast<std::uint32_t>(g / kPagesPerBlock), static_cast<std::uint32_t>(g % kPagesPerBlock),
                          page_.data(), nullptr, error))
        return false;
      held_ = g;
    }
    const std::size_t in = static_cast<std::size_t>(offset % kPageMainBytes);
    const std::size_t take = std::min<std::size_t>(n, kPageMainBytes - in);
    std::memcpy(out, page_.data() + in, take);
    out += take;
    offset += take;
    n -= take;
  }
  return true;
}

bool CodesClearOfDriverBytes(const nand::SpareLayout& layout) {
  for (std::uint32_t c = 0; c < layout.Codes && c < layout.Slots.size(); ++c)
    for (const std::uint8_t at : layout.Slots[c].SpareAt)
      if (at < kDriverSpareBytes) return false;
  return true;
}

void ProgramSpare(const std::uint8_t* main, const std::uint8_t* spare, const nand::SpareLayout* layout,
                  std::uint8_t* out) {
  std::memset(out, 0xFF, kPageSpareBytes);
  for (std::uint32_t s = 0; s < kSectorsPerPage; ++s) {
    if (spare) std::memcpy(out + s * nand::kSpareBytes, spare + s * nand::kSpareBytes, kDriverSpareBytes);
    if (layout) nand::WriteSectorCodes(*layout, main + s * nand::kSectorBytes, out + s * nand::kSpareBytes);
  }
}

bool BmlPartitionSink::WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                                 const std::uint8_t* spare, std::string& error) {
  if (block >= physical_.size()) {
    error = "block " + Num(block) + " is not in a partition of " + Num(physical_.size()) + " blocks";
    return false;
  }
  if (layout_ && !CodesClearOfDriverBytes(*layout_)) {
    error = "the spare layout " + std::string(layout_->Name) +
            " keeps codes in spare bytes 0-5, where the phone's driver keeps its marks";
    return false;
  }
  std::uint8_t programmed[kPageSpareBytes];
  ProgramSpare(main, spare, layout_, programmed);
  if (chip_.WritePage(physical_[block], page, main, programmed, error)) return true;
  error = "block " + Num(block) + " of the partition (chip block " + Num(physical_[block]) + "): " + error;
  return false;
}

}  // namespace orvella::phone
