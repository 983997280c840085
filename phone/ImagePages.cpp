#include "phone/ImagePages.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "image/FullImage.h"

namespace orvella::phone {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string PageText(std::uint64_t g) {
  return "block " + std::to_string(g / kPagesPerBlock) + " page " + std::to_string(g % kPagesPerBlock);
}

std::string NotOnChip(std::uint32_t block, std::uint32_t page, std::uint32_t blocks) {
  return "page " + std::to_string(page) + " of block " + std::to_string(block) +
         " is not on a chip of " + std::to_string(blocks) + " blocks with " +
         std::to_string(kPagesPerBlock) + " pages each";
}

}  // namespace

std::uint32_t ChipBlocksOfFile(std::uint64_t size) {
  std::uint64_t blocks = size / kBlockFileBytes;
  // Chips come in powers of two: a file between two sizes is a cut-off dump of the larger.
  if (size % kBlockFileBytes != 0) blocks = std::bit_ceil(blocks + 1);
  return static_cast<std::uint32_t>(blocks);
}

bool ImagePageSource::Open(const std::string& path, std::string& error) {
  std::uint64_t size = 0;
  File file;
  if (!file.OpenRead(path, error) || !file.Size(size, error)) return false;
  if (size == 0) {
    error = "cannot read " + Quoted(path) + ": the file is empty";
    return false;
  }
  if (size > kMaxImageFileSize) {
    error = "cannot read " + Quoted(path) + ": the image is 4 GiB or larger (" + std::to_string(size) +
            " bytes); only images smaller than 4 GiB can be read";
    return false;
  }
  file_ = std::move(file);
  size_ = size;
  blocks_ = ChipBlocksOfFile(size);
  const std::uint64_t pages = std::uint64_t{blocks_} * kPagesPerBlock;
  mainPages_ = std::min(pages, size / kPageMainBytes);
  sparePages_ = size > MainBytes() ? std::min(pages, (size - MainBytes()) / kPageSpareBytes) : 0;
  return true;
}

bool ImagePageSource::Complete() const {
  const std::uint64_t pages = std::uint64_t{blocks_} * kPagesPerBlock;
  return mainPages_ == pages && sparePages_ == pages;
}

std::string ImagePageSource::EndText() const {
  return "the file ends at byte " + std::to_string(size_) + "; a whole image of " + std::to_string(blocks_) +
         " blocks has " + std::to_string(std::uint64_t{blocks_} * kBlockFileBytes) + " bytes";
}

std::string ImagePageSource::Missing() const {
  if (Complete()) return {};
  const std::uint64_t last = std::uint64_t{blocks_} * kPagesPerBlock - 1;
  std::string text;
  if (mainPages_ <= last) text = "main data from " + PageText(mainPages_) + " to " + PageText(last);
  if (sparePages_ <= last) {
    if (!text.empty()) text += ", ";
    text += "spare data from " + PageText(sparePages_) + " to " + PageText(last);
  }
  return text + " (" + EndText() + ")";
}

bool ImagePageSource::CheckRange(std::uint32_t block, std::uint32_t count, bool spare,
                                 std::string& error) const {
  if (block >= blocks_ || count > blocks_ - block) {
    error = "blocks " + std::to_string(block) + " to " + std::to_string(std::uint64_t{block} + count - 1) +
            " are not all on a chip of " + std::to_string(blocks_) + " blocks";
    return false;
  }
  const std::uint64_t end = (std::uint64_t{block} + count) * kPagesPerBlock;
  const std::uint64_t held = spare ? sparePages_ : mainPages_;
  if (end > held) {
    const std::uint64_t first = std::max<std::uint64_t>(held, std::uint64_t{block} * kPagesPerBlock);
    error = std::string(spare ? "spare" : "main") + " data of " + PageText(first) + " is not in " +
            Quoted(file_.Path()) + ": " + EndText();
    return false;
  }
  return true;
}

bool ImagePageSource::ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main,
                               std::uint8_t* spare, std::string& error) {
  if (block >= blocks_ || page >= kPagesPerBlock) {
    error = NotOnChip(block, page, blocks_);
    return false;
  }
  const std::uint64_t g = std::uint64_t{block} * kPagesPerBlock + page;
  for (const bool isSpare : {false, true}) {
    std::uint8_t* into = isSpare ? spare : main;
    if (!into) continue;
    if (g >= (isSpare ? sparePages_ : mainPages_)) {
      error = std::string(isSpare ? "spare" : "main") + " data of " + PageText(g) + " is not in " +
              Quoted(file_.Path()) + ": " + EndText();
      return false;
    }
    const std::uint64_t at = isSpare ? MainBytes() + g * kPageSpareBytes : g * kPageMainBytes;
    if (!file_.Seek(at, error) ||
        !file_.ReadExact(into, isSpare ? kPageSpareBytes : kPageMainBytes, error))
      return false;
  }
  return true;
}

bool ImagePageSource::ReadMainBlocks(std::uint32_t block, std::uint32_t count, std::uint8_t* main,
                                     std::string& error) {
  if (count == 0) return true;
  if (!CheckRange(block, count, false, error)) return false;
  return file_.Seek(std::uint64_t{block} * kBlockMainBytes, error) &&
         file_.ReadExact(main, std::size_t{count} * kBlockMainBytes, error);
}

bool ImagePageSource::ReadMainPages(std::uint32_t block, std::uint32_t page, std::uint32_t count,
                                    std::uint8_t* main, std::string& error) {
  if (count == 0) return true;
  if (block >= blocks_ || page >= kPagesPerBlock) {
    error = NotOnChip(block, page, blocks_);
    return false;
  }
  if (count > kPagesPerBlock - page) {
    error = std::to_string(count) + " pages from page " + std::to_string(page) + " run past the end of block " +
            std::to_string(block);
    return false;
  }
  const std::uint64_t g = std::uint64_t{block} * kPagesPerBlock + page;
  if (g + count > mainPages_) {
    error = "main data of " + PageText(std::max(g, mainPages_)) + " is not in " + Quoted(file_.Path()) + ": " + EndText();
    return false;
  }
  return file_.Seek(g * kPageMainBytes, error) && file_.ReadExact(main, std::size_t{count} * kPageMainBytes, error);
}

bool ImagePageSource::CopyMainBlocks(std::uint32_t block, std::uint32_t count, File& out,
                                     ChunkBuffer& buffer, std::string& error) {
  if (count == 0) return true;
  if (!CheckRange(block, count, false, error)) return false;
  const std::size_t chunk = buffer.size() / kPageMainBytes * kPageMainBytes;
  if (chunk == 0) {
    error = "the copy buffer holds less than one page";
    return false;
  }
  if (!file_.Seek(std::uint64_t{block} * kBlockMainBytes, error)) return false;
  const std::uint64_t length = std::uint64_t{count} * kBlockMainBytes;
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, length - done));
    if (!out.CopyFrom(file_, n, buffer.data(), error)) return false;
    done += n;
  }
  return true;
}

bool ImagePageSink::Open(const std::string& path, std::string& error) {
  File file;
  std::uint64_t size = 0;
  if (!file.OpenReadWrite(path, error) || !file.Size(size, error)) return false;
  if (size == 0 || size % kBlockFileBytes != 0 || size > kMaxImageFileSize) {
    error = "cannot write pages into " + Quoted(path) + ": its " + std::to_string(size) +
            " bytes are not a whole image smaller than 4 GiB";
    return false;
  }
  file_ = std::move(file);
  blocks_ = static_cast<std::uint32_t>(size / kBlockFileBytes);
  return true;
}

bool ImagePageSink::WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                              const std::uint8_t* spare, std::string& error) {
  return FilePageSink(file_, blocks_).WritePage(block, page, main, spare, error);
}

bool FilePageSink::WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                             const std::uint8_t* spare, std::string& error) {
  if (block >= blocks_ || page >= kPagesPerBlock) {
    error = NotOnChip(block, page, blocks_);
    return false;
  }
  const std::uint64_t g = std::uint64_t{block} * kPagesPerBlock + page;
  std::uint8_t erased[kPageSpareBytes];
  if (!spare) {
    std::memset(erased, 0xFF, sizeof erased);
    spare = erased;
  }
  const std::uint64_t mainBytes = std::uint64_t{blocks_} * kBlockMainBytes;
  return file_.Seek(g * kPageMainBytes, error) && file_.WriteAll(main, kPageMainBytes, error) &&
         file_.Seek(mainBytes + g * kPageSpareBytes, error) && file_.WriteAll(spare, kPageSpareBytes, error);
}

bool MemoryChip::OnChip(std::uint32_t block, std::uint32_t page, std::string& error) const {
  if (block < blocks_ && page < kPagesPerBlock) return true;
  error = NotOnChip(block, page, blocks_);
  return false;
}

std::vector<std::uint8_t>& MemoryChip::Held(std::uint32_t block) {
  auto it = held_.find(block);
  if (it == held_.end()) it = held_.emplace(block, std::vector<std::uint8_t>(kBlockFileBytes, 0xFF)).first;
  return it->second;
}

std::uint8_t* MemoryChip::Main(std::uint32_t block, std::uint32_t page) {
  return Held(block).data() + std::size_t{page} * kPageMainBytes;
}

std::uint8_t* MemoryChip::Spare(std::uint32_t block, std::uint32_t page) {
  return Held(block).data() + kBlockMainBytes + std::size_t{page} * kPageSpareBytes;
}

bool MemoryChip::ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main,
                          std::uint8_t* spare, std::string& error) {
  if (!OnChip(block, page, error)) return false;
  const auto it = held_.find(block);
  if (it == held_.end()) {
    if (main) std::memset(main, 0xFF, kPageMainBytes);
    if (spare) std::memset(spare, 0xFF, kPageSpareBytes);
    return true;
  }
  const std::uint8_t* at = it->second.data();
  if (main) std::memcpy(main, at + std::size_t{page} * kPageMainBytes, kPageMainBytes);
  if (spare) std::memcpy(spare, at + kBlockMainBytes + std::size_t{page} * kPageSpareBytes, kPageSpareBytes);
  return true;
}

bool MemoryChip::WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                           const std::uint8_t* spare, std::string& error) {
  if (!OnChip(block, page, error)) return false;
  std::memcpy(Main(block, page), main, kPageMainBytes);
  if (spare) std::memcpy(Spare(block, page), spare, kPageSpareBytes);
  else std::memset(Spare(block, page), 0xFF, kPageSpareBytes);
  return true;
}

}  // namespace orvella::phone
