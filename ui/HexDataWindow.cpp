#include "ui/HexDataWindow.h"

#include <algorithm>

#include "files/FileIO.h"

namespace orvella {

void HexDataWindow::clear() {
  desc_ = THexDataBlockDesc{};
  data_.clear();
  data_.shrink_to_fit();
  scratch_.clear();
  scratch_.shrink_to_fit();
}

bool HexDataWindow::attach(const std::string& fileName, std::int64_t startingOffset,
                           std::int64_t chunkLength) {
  clear();
  lastError_.clear();
  if (fileName.empty() || !FileExists(fileName)) return false;
  if (startingOffset < 0 || chunkLength < 0) return false;

  File file;
  std::uint64_t size = 0;
  if (!file.OpenRead(fileName, lastError_) || !file.Size(size, lastError_)) return false;
  // Compared without forming offset + length, which could overflow.
  const auto offset = static_cast<std::uint64_t>(startingOffset);
  const auto length = static_cast<std::uint64_t>(chunkLength);
  if (offset > size || length > size - offset) return false;

  desc_.FileName = fileName;
  desc_.StartingOffset = startingOffset;
  desc_.ChunkLength = chunkLength;
  // A position at the chunk's end holds no chunk byte, so the first paint loads.
  desc_.CurrentDataPosition = chunkLength;
  data_.assign(static_cast<std::size_t>(std::min(chunkLength, kCapacity)), 0);
  return true;
}

bool HexDataWindow::contains(std::int64_t addr, std::int64_t n) const {
  // Lines past the chunk's end have nothing to hold; without this clamp the last
  // screen of a chunk would reload on every paint.
  const std::int64_t end = std::min(addr + std::max<std::int64_t>(n, 0), desc_.ChunkLength);
  if (end <= addr) return true;
  return addr >= desc_.CurrentDataPosition &&
         end <= desc_.CurrentDataPosition + length();
}

std::int64_t HexDataWindow::recentre(std::int64_t addr) const {
  std::int64_t start = std::max<std::int64_t>(addr - kLeadIn, 0);
  return std::min(start, desc_.ChunkLength - length());
}

HexDataWindow::LoadResult HexDataWindow::load(std::int64_t addr, std::int64_t n) {
  if (empty() || data_.empty()) return LoadResult::Held;
  // Held lines need no file, so the existence test only guards actual reads.
  if (contains(addr, n)) return LoadResult::Held;
  if (!FileExists(desc_.FileName)) return LoadResult::FileGone;

  const std::int64_t start = recentre(addr);
  ++reloads_;
  lastError_.clear();
  scratch_.resize(data_.size());
  File file;
  if (!file.OpenRead(desc_.FileName, lastError_) ||
      !file.Seek(static_cast<std::uint64_t>(desc_.StartingOffset + start), lastError_) ||
      !file.ReadExact(scratch_.data(), scratch_.size(), lastError_)) {
    return LoadResult::ReadFailed;
  }
  data_.swap(scratch_);
  desc_.CurrentDataPosition = start;
  return LoadResult::Reloaded;
}

bool HexDataWindow::byteAt(std::int64_t addr, std::uint8_t& value) const {
  if (addr < 0 || addr >= desc_.ChunkLength) return false;
  const std::int64_t i = addr - desc_.CurrentDataPosition;
  if (i < 0 || i >= length()) return false;
  value = data_[static_cast<std::size_t>(i)];
  return true;
}

}  // namespace orvella
