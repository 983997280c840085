#pragma once
// Pages of a OneNAND chip as the phone's driver handles them: 4096 main bytes and the
// 128 spare bytes of the page's eight sectors (sector 0 first, 16 each). The chip in a
// full image, a partition as the bad-block layer shows it, and a volume being written
// all speak this interface, so each layer reads the one below without knowing its kind.

#include <cstdint>
#include <string>

namespace orvella::phone {

inline constexpr std::uint32_t kPageMainBytes = 4096;
inline constexpr std::uint32_t kPageSpareBytes = 128;
inline constexpr std::uint32_t kSectorsPerPage = 8;
inline constexpr std::uint32_t kPagesPerBlock = 64;
inline constexpr std::uint32_t kBlockMainBytes = kPageMainBytes * kPagesPerBlock;  // 256 KiB

class PageSource {
 public:
  virtual ~PageSource() = default;
  // Number of blocks this source holds; blocks 0 .. Blocks()-1 may be read.
  virtual std::uint32_t Blocks() const = 0;
  // Reads page `page` (< kPagesPerBlock) of block `block` (< Blocks()): kPageMainBytes
  // into `main` and kPageSpareBytes into `spare`; either may be null when not wanted.
  // False with `error` filled when the page cannot be read.
  virtual bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main,
                        std::uint8_t* spare, std::string& error) = 0;
  // Reads the main data of `count` pages of one block from page `page` on into `main`
  // (count * kPageMainBytes bytes). Page by page here; a source that holds them side by
  // side reads them at once.
  virtual bool ReadMainPages(std::uint32_t block, std::uint32_t page, std::uint32_t count, std::uint8_t* main,
                             std::string& error) {
    if (page > kPagesPerBlock || count > kPagesPerBlock - page) {
      error = "pages " + std::to_string(page) + " to " + std::to_string(std::uint64_t{page} + count - 1) +
              " are not all in a block of " + std::to_string(kPagesPerBlock) + " pages";
      return false;
    }
    for (std::uint32_t k = 0; k < count; ++k)
      if (!ReadPage(block, page + k, main + std::size_t{k} * kPageMainBytes, nullptr, error)) return false;
    return true;
  }
  // Reads the main data of `count` whole blocks from `block` on into `main`
  // (count * kBlockMainBytes bytes). Page by page here; a source that holds those blocks
  // side by side reads them at once.
  virtual bool ReadMainBlocks(std::uint32_t block, std::uint32_t count, std::uint8_t* main,
                              std::string& error) {
    if (block > Blocks() || count > Blocks() - block) {
      error = "blocks " + std::to_string(block) + " to " + std::to_string(std::uint64_t{block} + count - 1) +
              " are not all on a chip of " + std::to_string(Blocks()) + " blocks";
      return false;
    }
    for (std::uint32_t b = 0; b < count; ++b)
      for (std::uint32_t p = 0; p < kPagesPerBlock; ++p)
        if (!ReadPage(block + b, p, main + (std::size_t{b} * kPagesPerBlock + p) * kPageMainBytes, nullptr, error))
          return false;
    return true;
  }
};

class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual std::uint32_t Blocks() const = 0;
  // Programs one page, main and spare; false with `error` filled on failure.
  virtual bool WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                         const std::uint8_t* spare, std::string& error) = 0;
};

}  // namespace orvella::phone
