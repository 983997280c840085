// Any main and spare bytes under any layout: the sector check in memory, and the check
// and repair of a whole image file made from the same bytes.
//
// Input format:
//
//   byte 0       layout: 0..5 a known layout by its place in the table, anything else "auto"
//   byte 1       bit 0: also repair into a new file
//   bytes 2..3   D, 16-bit little-endian: the file is two blocks with their spare data,
//                plus D - 32768 bytes (so it may be cut short, or longer than two blocks)
//   bytes 4..    records of 528 bytes: 512 bytes of main data, then their 16 spare bytes
//                (a last, shorter record is padded with 0xFF)
//
// In memory every record is checked under every layout (with and without rewriting the
// codes) and fed to the detector; the file holds record i at sector i of the main data
// and of the spare data of a two-block chip, 0xFF everywhere else.
//
// Checked: a sector's state agrees with its findings (corrections only when corrected,
// at most one per code, bits inside the sector); a repaired sector checks clean or
// erased afterwards; the file check either fails with a message or gives counts that add
// up, lists as long as the counts, a block state per block read, and never writes the
// image; a repair leaves no part file behind and, when made, a file as long as the image.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/NandHealth.h"
#include "nand/SectorCheck.h"

namespace {

using namespace orvella;

constexpr std::size_t kRecord = 528;
constexpr std::uint64_t kBlockFile = 0x40000 + 0x40000 / 32;

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_nand_check: %s\n", what);
  std::abort();
}

void CheckInMemory(const std::vector<std::uint8_t>& records) {
  nand::LayoutDetector detector;
  for (std::size_t at = 0; at < records.size(); at += kRecord) {
    detector.Add(records.data() + at, records.data() + at + 512, (at / kRecord) & 1, (at / kRecord) & 2);
    for (const nand::SpareLayout& layout : nand::KnownLayouts()) {
      for (const bool rewrite : {false, true}) {
        std::vector<std::uint8_t> sector(records.begin() + static_cast<std::ptrdiff_t>(at),
                                         records.begin() + static_cast<std::ptrdiff_t>(at + 512));
        std::vector<std::uint8_t> spare(records.begin() + static_cast<std::ptrdiff_t>(at + 512),
                                        records.begin() + static_cast<std::ptrdiff_t>(at + kRecord));
        const nand::SectorFinding f = nand::CheckSector(layout, sector.data(), spare.data(), rewrite);
        Require(f.Corrections <= layout.Codes, "more corrections than codes");
        Require((f.Corrections > 0) == (f.State == nand::SectorState::Corrected) ||
                    f.State == nand::SectorState::Uncorrectable,
                "corrections without the corrected state");
        for (unsigned k = 0; k < f.Corrections; ++k) Require(f.Bits[k] < 4096, "bit outside the sector");
        if (rewrite && f.State != nand::SectorState::Uncorrectable) {
          const nand::SectorFinding again = nand::CheckSector(layout, sector.data(), spare.data(), false);
          Require(again.State == nand::SectorState::Clean || again.State == nand::SectorState::Erased,
                  "a repaired sector does not check clean");
        }
      }
    }
  }
  double share = 0;
  const nand::SpareLayout* best = detector.Best(share);
  Require(share >= 0 && share <= 1, "share outside 0..1");
  Require(!best || share >= nand::LayoutDetector::kMinCleanShare, "a layout below the threshold");
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void CheckFile(const std::uint8_t* data, std::size_t size, const std::vector<std::uint8_t>& records) {
  static const std::string dir = [] {
    const auto d = std::filesystem::temp_directory_path() / ("fuzz-nand-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d.string();
  }();
  const std::string image = dir + "/image.bin", out = dir + "/fixed.bin";
  const int d = size >= 4 ? (data[2] | (data[3] << 8)) - 32768 : 0;
  const std::uint64_t fileSize = static_cast<std::uint64_t>(static_cast<std::int64_t>(2 * kBlockFile) + d);
  std::string bytes(fileSize, '\xFF');
  for (std::size_t i = 0; i * kRecord < records.size(); ++i) {
    const std::uint64_t main = i * 512, spare = 2 * 0x40000 + i * 16;
    for (std::size_t j = 0; j < 512 && main + j < fileSize; ++j)
      bytes[main + j] = static_cast<char>(records[i * kRecord + j]);
    for (std::size_t j = 0; j < 16 && spare + j < fileSize; ++j)
      bytes[spare + j] = static_cast<char>(records[i * kRecord + 512 + j]);
  }
  std::ofstream(image, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::filesystem::remove(out);

  NandCheckOptions options;
  const auto layouts = nand::KnownLayouts();
  options.Layout = size >= 1 && data[0] < layouts.size() ? std::string(layouts[data[0]].Name) : "auto";
  if (size >= 2 && (data[1] & 1)) options.RepairTo = out;
  NandHealthReport r;
  std::string error;
  const bool ok = CheckNandHealth(image, options, r, error);
  Require(ok || !error.empty(), "a failure without a message");
  Require(Slurp(image) == bytes, "the image was written");
  Require(!std::filesystem::exists(out + ".part"), "a part file was left behind");
  if (!ok) return;
  const NandCounts& t = r.Total;
  Require(t.Erased + t.Clean + t.Corrected + t.CodeErrors + t.Uncorrectable + t.Unchecked == t.Sectors,
          "the counts do not add up");
  Require(r.Uncorrectable.size() == t.Uncorrectable, "uncorrectable list and count differ");
  Require(r.Corrections.size() >= t.Corrected, "fewer corrections than corrected sectors");
  Require(r.Blocks.size() * 512 == t.Sectors, "a block state per block read");
  Require(r.Complete == r.NotRead.empty(), "a partial report must say what was not read");
  if (!r.RepairedTo.empty()) Require(std::filesystem::file_size(out) == fileSize, "the repair is not whole");
  else Require(!std::filesystem::exists(out), "an output without a repair");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> records(data + std::min<std::size_t>(size, 4), data + size);
  // At most 16 records: enough for every state, small enough to stay fast.
  records.resize(std::min<std::size_t>((records.size() + kRecord - 1) / kRecord, 16) * kRecord, 0xFF);
  CheckInMemory(records);
  CheckFile(data, size, records);
  return 0;
}
