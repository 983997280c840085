// Any bytes in the partition table and in the reservoir's pages: the table decoder, the
// bad-block layer's reader, the partitions' views through its remaps, and the judging of
// what a partition holds, on a 2048-block chip held in memory.
//
// Input format:
//
//   byte 0       bit 0: start from a dump the writer made (table, pool blocks, five
//                remaps); clear: from an erased chip. Bit 1: the table bytes below replace
//                the start of block 1.
//   bytes 1..2   T, 16-bit little-endian: the length of the table bytes
//   T bytes      the table bytes (at most 4096 are used)
//   records      until the input ends: u8 block (2004 + b mod 44), u8 page (mod 64),
//                u16 offset (mod 4224: 4096 main bytes, then the page's 128 spare bytes),
//                u8 n, then n bytes written there (cut at the page's end)
//
// Checked: the reader never fails; a chip without the structure lists no remap, no pool
// block and no finding, and says why; every finding has a text; a mountable result is a
// complete one; every entry in the dump lies within the blocks partitions can use; the
// map sends a block to the replacement of its last applied pair; every view's page either
// reads or fails with a message; the table decoder agrees with the reader.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/Content.h"
#include "phone/ImagePages.h"
#include "phone/PageSource.h"
#include "phone/PhoneDump.h"

namespace {

using namespace orvella::phone;

constexpr std::uint32_t kPageBytes = kPageMainBytes + kPageSpareBytes;

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_phone_bml: %s\n", what);
  std::abort();
}

MemoryChip& WrittenDump() {
  static MemoryChip chip = [] {
    BmlDumpSpec spec;
    spec.Table = SampleBmlTable();
    spec.Fill = orvella::ImageFill::Erased;
    spec.Remaps = {5, 41, 72, 101, 2003};
    BmlDumpPlan plan;
    MemoryChip c(kBmlChipBlocks);
    std::string error;
    Require(PlanBmlDump(spec, plan, error) && WriteBmlDump(c, plan, error), "the base dump cannot be written");
    return c;
  }();
  return chip;
}

// A chip whose pages read from a base chip unless the input overwrote them; the base is
// never written, so one copy serves every run.
class OverlayChip : public PageSource {
 public:
  OverlayChip(PageSource* base, std::uint32_t blocks) : base_(base), blocks_(blocks) {}
  std::uint32_t Blocks() const override { return blocks_; }
  bool ReadPage(std::uint32_t block, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare,
                std::string& error) override {
    if (block >= blocks_ || page >= kPagesPerBlock) {
      error = "not on the chip";
      return false;
    }
    const auto it = pages_.find(block * kPagesPerBlock + page);
    if (it == pages_.end()) {
      if (base_) return base_->ReadPage(block, page, main, spare, error);
      if (main) std::memset(main, 0xFF, kPageMainBytes);
      if (spare) std::memset(spare, 0xFF, kPageSpareBytes);
      return true;
    }
    if (main) std::memcpy(main, it->second.data(), kPageMainBytes);
    if (spare) std::memcpy(spare, it->second.data() + kPageMainBytes, kPageSpareBytes);
    return true;
  }
  void Overwrite(std::uint32_t block, std::uint32_t page, std::uint32_t offset, const std::uint8_t* data,
                 std::size_t n) {
    auto it = pages_.find(block * kPagesPerBlock + page);
    if (it == pages_.end()) {
      std::vector<std::uint8_t> bytes(kPageBytes);
      std::string error;
      Require(ReadPage(block, page, bytes.data(), bytes.data() + kPageMainBytes, error), "a page of the chip");
      it = pages_.emplace(block * kPagesPerBlock + page, std::move(bytes)).first;
    }
    n = std::min<std::size_t>(n, kPageBytes - offset);
    std::memcpy(it->second.data() + offset, data, n);
  }

 private:
  PageSource* base_;
  std::uint32_t blocks_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  OverlayChip chip((data[0] & 1) ? &WrittenDump() : nullptr, kBmlChipBlocks);
  const std::size_t tableBytes = std::min<std::size_t>(static_cast<std::size_t>(data[1] | data[2] << 8), size - 3);
  const std::uint8_t* table = data + 3;
  if (data[0] & 2) chip.Overwrite(1, 0, 0, table, std::min<std::size_t>(tableBytes, kPageMainBytes));
  for (std::size_t at = 3 + tableBytes; at + 5 <= size;) {
    const std::uint32_t block = kBmlReservoirFirst + data[at] % (kBmlReservoirLast - kBmlReservoirFirst + 1);
    const std::uint32_t page = data[at + 1] % kPagesPerBlock;
    const std::uint32_t offset = static_cast<std::uint32_t>(data[at + 2] | data[at + 3] << 8) % kPageBytes;
    const std::size_t n = std::min<std::size_t>(data[at + 4], size - at - 5);
    chip.Overwrite(block, page, offset, data + at + 5, n);
    at += 5 + n;
  }

  const PhoneDump d = ReadPhoneDump(chip, false);
  const BmlResult& bml = d.Bml;
  Require(bml.ChipBlocks == kBmlChipBlocks && bml.ReservoirKnown, "the reservoir of a 2048-block chip");
  Require((bml.Structure == BmlStructure::None) == !bml.NoStructure.empty(), "no structure without saying why");
  if (bml.Structure == BmlStructure::None)
    Require(bml.Remaps.empty() && bml.PoolBlocks.empty() && bml.Findings.empty() && !bml.Info.Read,
            "something invented without a structure");
  Require(!bml.Mountable() || bml.Structure == BmlStructure::Complete, "mountable but incomplete");
  Require(bml.Remaps.size() <= 2 * kBmsPerSet * kBmsPairs, "more pairs than the sets hold");
  for (const BmlFinding& f : bml.Findings) Require(!f.Text.empty(), "a finding without text");
  for (const BmlRemap& m : bml.Remaps) {
    std::uint32_t expect = m.Block;
    for (const BmlRemap& o : bml.Remaps)
      if (o.Applied && o.Block == m.Block) expect = o.Replacement;
    Require(bml.Map(m.Block) == expect, "the map and the applied pairs disagree");
  }

  if (d.TableFound) {
    orvella::phone::PitTable again;
    std::string error;
    Require(ReadPit(chip, bml.UsableBlocks(), again, error), "the table read twice gives two answers");
    Require(again.Entries.size() == d.Table.Entries.size(), "the table read twice gives two sizes");
  } else {
    Require(!d.TableProblem.empty(), "no table without saying why");
  }
  std::vector<std::uint8_t> main(kPageMainBytes);
  for (std::size_t k = 0; k < d.Table.Entries.size(); ++k) {
    const PitEntry& e = d.Table.Entries[k];
    Require(e.InDump == e.NotInDump.empty(), "an entry out of the dump without a reason");
    if (!e.InDump) continue;
    Require(std::uint64_t{e.FirstBlock} + e.Blocks <= bml.UsableBlocks(), "an entry past the usable blocks");
    BmlView view(chip, EntryBlocks(d, k));
    Require(view.Blocks() == e.Blocks, "a view of another size");
    std::string error;
    for (std::uint32_t u = 0; u < view.Blocks(); u += 1 + view.Blocks() / 8)
      Require(view.ReadPage(u, 0, main.data(), nullptr, error) || !error.empty(), "a failed read without a message");
  }

  // The table bytes as the first page of a small volume: what it holds.
  OverlayChip volume(nullptr, 2);
  volume.Overwrite(0, 0, 0, table, std::min<std::size_t>(tableBytes, kPageBytes));
  const PartitionContent c = JudgeContent(volume);
  Require(c.Kind != Holds::Absent && c.Kind != Holds::Unreadable, "a readable volume judged absent or unreadable");
  Require(c.Label.empty() || c.Kind == Holds::Fat12 || c.Kind == Holds::Fat16 || c.Kind == Holds::Fat32,
          "a label on something that is no FAT");
  return 0;
}
