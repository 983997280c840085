#pragma once
// A partition's units held in memory, readable as a PageSource and writable as a
// PageSink. Programming a page that is not erased fails, as it would on the chip.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "phone/PageSource.h"
#include "phone/StlReader.h"

namespace orvella::test {

class MemoryUnits : public phone::PageSource, public phone::PageSink {
 public:
  explicit MemoryUnits(std::uint32_t units)
      : units_(units),
        main_(std::size_t{units} * phone::kPagesPerBlock * phone::kPageMainBytes, 0xFF),
        spare_(std::size_t{units} * phone::kPagesPerBlock * phone::kPageSpareBytes, 0xFF) {}

  std::uint32_t Blocks() const override { return units_; }
  bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                std::string& error) override {
    if (block >= units_ || page >= phone::kPagesPerBlock) {
      error = "page outside the partition";
      return false;
    }
    ++reads;
    if (main) std::memcpy(main, Main(block, page), phone::kPageMainBytes);
    if (spare) std::memcpy(spare, Spare(block, page), phone::kPageSpareBytes);
    return true;
  }
  bool WritePage(std::uint32_t block, std::uint32_t page, const std::uint8_t* main, const std::uint8_t* spare,
                 std::string& error) override {
    if (block >= units_ || page >= phone::kPagesPerBlock) {
      error = "page outside the partition";
      return false;
    }
    for (std::uint32_t i = 0; i < phone::kPageMainBytes; ++i)
      if (Main(block, page)[i] != 0xFF) {
        error = "VBN " + std::to_string(block) + " page " + std::to_string(page) + " programmed twice";
        return false;
      }
    std::memcpy(Main(block, page), main, phone::kPageMainBytes);
    std::memcpy(Spare(block, page), spare, phone::kPageSpareBytes);
    return true;
  }

  std::uint8_t* Main(std::uint32_t block, std::uint32_t page) {
    return &main_[(std::size_t{block} * phone::kPagesPerBlock + page) * phone::kPageMainBytes];
  }
  std::uint8_t* Spare(std::uint32_t block, std::uint32_t page) {
    return &spare_[(std::size_t{block} * phone::kPagesPerBlock + page) * phone::kPageSpareBytes];
  }

  std::uint64_t reads = 0;

 private:
  std::uint32_t units_;
  std::vector<std::uint8_t> main_, spare_;
};

// A view of the first `blocks` units of another source.
class FirstUnits : public phone::PageSource {
 public:
  FirstUnits(phone::PageSource& inner, std::uint32_t blocks) : inner_(inner), blocks_(blocks) {}
  std::uint32_t Blocks() const override { return blocks_; }
  bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                std::string& error) override {
    return inner_.ReadPage(block, page, main, spare, error);
  }

 private:
  phone::PageSource& inner_;
  std::uint32_t blocks_;
};

// Rebuilds the volume; on success `bytes` holds all of it.
inline bool RebuildVolume(phone::PageSource& source, phone::StlReport& report, std::vector<std::uint8_t>& bytes,
                          std::string& error) {
  phone::StlVolume v(source);
  const bool ok = v.Open();
  report = v.Report();
  bytes.clear();
  if (!ok) return false;
  return v.Emit(
      [&](const std::uint8_t* data, std::size_t n, std::string&) {
        bytes.insert(bytes.end(), data, data + n);
        return true;
      },
      error);
}

}  // namespace orvella::test
