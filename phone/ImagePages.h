#pragma once
// A full image file as the chip's pages (main data of page g of the chip at g * 4096,
// its 128 spare bytes at the main area's size + g * 128), and a chip held in memory.
// A file that is not a whole number of blocks with their spare data is taken for a
// cut-off dump of the smallest power-of-two chip larger than it; pages it does not hold
// are reported missing, never made up.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"
#include "phone/PageSource.h"

namespace orvella::phone {

inline constexpr std::uint32_t kBlockSpareBytes = kPageSpareBytes * kPagesPerBlock;        // 8 KiB
inline constexpr std::uint64_t kBlockFileBytes = kBlockMainBytes + kBlockSpareBytes;       // 264 KiB

// Blocks of the chip a file of `size` bytes is a dump of.
std::uint32_t ChipBlocksOfFile(std::uint64_t size);

class ImagePageSource : public PageSource {
 public:
  // Opens the image for reading. Refuses an empty file and one of 4 GiB or more (the
  // largest image the tool takes).
  bool Open(const std::string& path, std::string& error);

  std::uint32_t Blocks() const override { return blocks_; }
  bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                std::string& error) override;
  bool ReadMainBlocks(std::uint32_t block, std::uint32_t count, std::uint8_t* main,
                      std::string& error) override;
  bool ReadMainPages(std::uint32_t block, std::uint32_t page, std::uint32_t count, std::uint8_t* main,
                     std::string& error) override;
  // Copies the main data of `count` blocks from `block` on to `out`'s position, in
  // chunks of buffer.size() bytes (a whole number of pages), through the kernel where the
  // file system takes it.
  bool CopyMainBlocks(std::uint32_t block, std::uint32_t count, File& out, ChunkBuffer& buffer,
                      std::string& error);

  const std::string& Path() const { return file_.Path(); }
  std::uint64_t FileSize() const { return size_; }
  std::uint64_t MainBytes() const { return std::uint64_t{blocks_} * kBlockMainBytes; }
  // Pages of the chip, counted from page 0 of block 0, whose main (spare) data the file
  // holds: the file holds exactly the first PagesWithMain() (PagesWithSpare()) pages.
  std::uint64_t PagesWithMain() const { return mainPages_; }
  std::uint64_t PagesWithSpare() const { return sparePages_; }
  bool Complete() const;
  // What a cut-off file lacks, in blocks and pages; empty when it is complete.
  std::string Missing() const;

 private:
  bool CheckRange(std::uint32_t block, std::uint32_t count, bool spare, std::string& error) const;
  std::string EndText() const;

  File file_;
  std::uint64_t size_ = 0;
  std::uint32_t blocks_ = 0;
  std::uint64_t mainPages_ = 0;
  std::uint64_t sparePages_ = 0;
};

// The page source a file opened for writing is, for building dumps: every page written
// lands where ImagePageSource reads it. Used on files the tool is making, never on the
// user's image.
class ImagePageSink : public PageSink {
 public:
  // Opens an existing image file of a whole chip for reading and writing.
  bool Open(const std::string& path, std::string& error);
  std::uint32_t Blocks() const override { return blocks_; }
  // A null `spare` writes 0xFF, as a page programmed without spare data reads.
  bool WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                 const std::uint8_t* spare, std::string& error) override;
  bool Close(std::string& error) { return file_.Close(error); }

 private:
  File file_;
  std::uint32_t blocks_ = 0;
};

// Pages written into a full image file of `blocks` blocks that the caller has open and
// owns (a part file being made); the file must outlive the sink.
class FilePageSink : public PageSink {
 public:
  FilePageSink(File& file, std::uint32_t blocks) : file_(file), blocks_(blocks) {}
  std::uint32_t Blocks() const override { return blocks_; }
  // A null `spare` writes 0xFF, as a page programmed without spare data reads.
  bool WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                 const std::uint8_t* spare, std::string& error) override;

 private:
  File& file_;
  std::uint32_t blocks_;
};

// A chip held in memory. Blocks read erased (0xFF) until something is written into them;
// only those are kept.
class MemoryChip : public PageSource, public PageSink {
 public:
  explicit MemoryChip(std::uint32_t blocks) : blocks_(blocks) {}
  std::uint32_t Blocks() const override { return blocks_; }
  bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                std::string& error) override;
  bool WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main,
                 const std::uint8_t* spare, std::string& error) override;
  // The page's bytes, for editing in place (the block is kept from then on); block and
  // page must be on the chip.
  std::uint8_t* Main(std::uint32_t block, std::uint32_t page);
  std::uint8_t* Spare(std::uint32_t block, std::uint32_t page);
  void EraseBlock(std::uint32_t block) { held_.erase(block); }
  std::size_t HeldBlocks() const { return held_.size(); }

 private:
  std::vector<std::uint8_t>& Held(std::uint32_t block);
  bool OnChip(std::uint32_t block, std::uint32_t page, std::string& error) const;

  std::uint32_t blocks_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> held_;  // main data, then spare data
};

}  // namespace orvella::phone
