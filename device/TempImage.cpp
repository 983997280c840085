#include "device/TempImage.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace orvella {

namespace {

std::string Hex8(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
  return buf;
}

constexpr std::uint32_t kTableHeaderBytes = 48;
constexpr std::uint32_t kTableEntryBytes = 132;
constexpr std::uint32_t kSpareShare = 32;

}  // namespace

std::string CheckFlashGeometry(const FlashGeometry& g) {
  if (g.ChipSizeMiB == 0 || g.ChipSizeMiB > kMaxChipSizeMiB)
    return "ERROR: The device reports a chip size of " + std::to_string(g.ChipSizeMiB) +
           " MiB; only 1 to " + std::to_string(kMaxChipSizeMiB) +
           " MiB can be processed. Terminating.";
  // Spare data are 16 bytes per 512, so every length of the layout must divide evenly.
  if (g.PageSize == 0 || g.PageSize % kPageGranule != 0)
    return "ERROR: The device reports a page size of " + Hex8(g.PageSize) +
           " bytes; it must be a non-zero multiple of " + Hex8(kPageGranule) +
           " bytes. Terminating.";
  if (g.EraseBlockSize == 0 || g.EraseBlockSize % g.PageSize != 0 ||
      g.EraseBlockSize > kMaxEraseBlockSize)
    return "ERROR: The device reports an erase block of " + Hex8(g.EraseBlockSize) +
           " bytes; it must be a non-zero multiple of the page size (" + Hex8(g.PageSize) +
           " bytes) and at most " + Hex8(kMaxEraseBlockSize) + " bytes. Terminating.";
  return {};
}

std::uint64_t TableLengthInPages(std::uint32_t entriesCount, std::uint32_t pageSize) {
  const std::uint64_t raw = kTableHeaderBytes + std::uint64_t{kTableEntryBytes} * entriesCount;
  if (pageSize == 0) return raw;
  return (raw + pageSize - 1) / pageSize * pageSize;
}

std::string CheckTablePlacement(const FlashGeometry& g, std::uint32_t block,
                                std::uint64_t tableLength) {
  if (tableLength == 0 || tableLength > g.EraseBlockSize)
    return "ERROR: The partition table read from the device (" + std::to_string(tableLength) +
           " bytes) does not fit in one erase block of " + Hex8(g.EraseBlockSize) +
           " bytes. Terminating.";
  const std::uint64_t chip = std::uint64_t{g.ChipSizeMiB} << 20;
  if (chip <= (std::uint64_t{block} + 1) * g.EraseBlockSize)
    return "ERROR: The chip of " + std::to_string(g.ChipSizeMiB) +
           " MiB is too small for a partition table in block " + Hex8(block) +
           " with erase blocks of " + Hex8(g.EraseBlockSize) + " bytes. Terminating.";
  return {};
}

std::uint64_t TempImageSize(const FlashGeometry& g) {
  const std::uint64_t chip = std::uint64_t{g.ChipSizeMiB} << 20;
  return chip + chip / kSpareShare;
}

bool BuildTemporaryImage(const FlashGeometry& g, std::uint32_t block,
                         std::span<const std::uint8_t> table, const ImageSink& sink,
                         const FillProgress& progress, std::string& error) {
  error = CheckFlashGeometry(g);
  if (!error.empty()) return false;
  if (table.empty() || table.size() % (kSpareShare + 1) != 0) {
    error = "ERROR: The partition table read from the device has " +
            std::to_string(table.size()) + " bytes, which is no whole number of main and spare pieces.";
    return false;
  }
  const std::uint64_t tableMain = table.size() / (kSpareShare + 1) * kSpareShare;
  error = CheckTablePlacement(g, block, tableMain);
  if (!error.empty()) return false;

  const std::uint64_t blockSize = g.EraseBlockSize;
  const std::uint64_t chip = std::uint64_t{g.ChipSizeMiB} << 20;
  const std::uint64_t total = TempImageSize(g);
  const std::uint64_t tableAt = std::uint64_t{block} * blockSize;
  const std::vector<std::uint8_t> blank(static_cast<std::size_t>(blockSize), 0xFF);

  std::uint64_t p = 0;
  const auto put = [&](const std::uint8_t* data, std::uint64_t n) {
    return n == 0 || sink(data, static_cast<std::size_t>(n), error);
  };
  const auto fillTo = [&](std::uint64_t target) {
    while (p < target) {
      const std::uint64_t n = std::min(blockSize, target - p);
      p += n;
      if (progress) progress(p, total);
      if (!put(blank.data(), n)) return false;
    }
    return true;
  };

  if (!fillTo(tableAt)) return false;
  if (!put(table.data(), tableMain) || !put(blank.data(), blockSize - tableMain)) return false;
  p += blockSize;
  if (!fillTo(chip) || !fillTo(chip + tableAt / kSpareShare)) return false;
  const std::uint64_t tableSpare = tableMain / kSpareShare;
  if (!put(table.data() + tableMain, tableSpare) ||
      !put(blank.data(), (blockSize - tableMain) / kSpareShare))
    return false;
  p += blockSize / kSpareShare;
  return fillTo(total);
}

}  // namespace orvella
