#pragma once
// A partition as the phone's block device (bmlN) reads it: its blocks in order, each
// remapped block taken from its replacement. As pages (for the layers above), as bytes
// of main data (for the file-system reader), and copied whole into a file in large runs.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fat/ByteSource.h"
#include "image/ChunkBuffer.h"
#include "files/FileIO.h"
#include "nand/SpareLayout.h"
#include "phone/Bml.h"
#include "phone/ImagePages.h"
#include "phone/PageSource.h"

namespace orvella::phone {

// The chip blocks the phone reads for blocks first .. first + blocks - 1.
std::vector<std::uint32_t> PhysicalBlocks(const BmlResult& bml, std::uint32_t first, std::uint32_t blocks);

class BmlView : public PageSource {
 public:
  // Reads `chip`, which must outlive the view.
  BmlView(PageSource& chip, std::vector<std::uint32_t> physical) : chip_(chip), physical_(std::move(physical)) {}
  std::uint32_t Blocks() const override { return static_cast<std::uint32_t>(physical_.size()); }
  bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                std::string& error) override;
  bool ReadMainPages(std::uint32_t block, std::uint32_t page, std::uint32_t count, std::uint8_t* main,
                     std::string& error) override;
  // Reads each run of blocks that lie side by side on the chip at once.
  bool ReadMainBlocks(std::uint32_t block, std::uint32_t count, std::uint8_t* main,
                      std::string& error) override;
  const std::vector<std::uint32_t>& Physical() const { return physical_; }

 private:
  PageSource& chip_;
  std::vector<std::uint32_t> physical_;
};

// Copies the view's main data (Blocks() * 256 KiB) to `out`'s position, each run of
// blocks that lie side by side on `chip` at once, through the kernel where the file system
// takes it. `progress(done, total)` after each chunk; `stop` polled between chunks (true
// ends the copy with "Stopped by User."). Either may be empty.
bool CopyViewMain(ImagePageSource& chip, const BmlView& view, File& out, ChunkBuffer& buffer, std::string& error,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress = {},
                  const std::function<bool()>& stop = {});

// The view's main data as bytes, for the file-system reader. Keeps one page.
class ViewBytes : public fat::ByteSource {
 public:
  explicit ViewBytes(PageSource& view) : view_(view), page_(kPageMainBytes) {}
  std::uint64_t Size() const override { return std::uint64_t{view_.Blocks()} * kBlockMainBytes; }
  bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) override;

 private:
  PageSource& view_;
  std::vector<std::uint8_t> page_;
  std::uint64_t held_ = ~std::uint64_t{0};  // index of the page in page_
};

// Writes a partition's blocks through the remap, as the phone's driver programs them:
// spare bytes 0-5 of each sector as given (the driver's marks and words), bytes 6-15 the
// chip's: 0xFF, or the codes of `layout` when one is given.
class BmlPartitionSink : public PageSink {
 public:
  BmlPartitionSink(PageSink& chip, std::vector<std::uint32_t> physical, const nand::SpareLayout* layout = nullptr)
      : chip_(chip), physical_(std::move(physical)), layout_(layout) {}
  std::uint32_t Blocks() const override { return static_cast<std::uint32_t>(physical_.size()); }
  bool WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main, const std::uint8_t* spare,
                 std::string& error) override;

 private:
  PageSink& chip_;
  std::vector<std::uint32_t> physical_;
  const nand::SpareLayout* layout_;
};

// True when the layout's codes leave spare bytes 0-5 of each sector to the driver.
bool CodesClearOfDriverBytes(const nand::SpareLayout& layout);

// Fills a page's 128 spare bytes as the driver and the chip do: bytes 0-5 of each sector
// from `spare` (0xFF when null), 6-15 0xFF, then the codes of `layout` over `main`.
void ProgramSpare(const std::uint8_t* main, const std::uint8_t* spare, const nand::SpareLayout* layout,
                  std::uint8_t* out);

}  // namespace orvella::phone
