#include "evidence/ImageDiff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvella {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Counts the `unit`-byte pieces of a and b that differ and notes the file offsets of
// their first differing bytes (at most kFirstOffsets), from offset `at` on.
void CompareUnits(const std::uint8_t* a, const std::uint8_t* b, std::size_t n, std::size_t unit,
                  std::uint64_t at, std::uint64_t& units, std::vector<std::uint64_t>& offsets) {
  for (std::size_t i = 0; i < n; i += unit) {
    const std::size_t len = std::min(unit, n - i);
    if (std::memcmp(a + i, b + i, len) == 0) continue;
    ++units;
    for (std::size_t j = i; j < i + len && offsets.size() < kFirstOffsets; ++j)
      if (a[j] != b[j]) offsets.push_back(at + j);
  }
}

void AddOffsets(RegionDiff& r, const std::vector<std::uint64_t>& offsets) {
  for (std::uint64_t o : offsets) {
    if (r.FirstOffsets.size() >= kFirstOffsets) return;
    r.FirstOffsets.push_back(o);
  }
}

}  // namespace

bool ImageComparison::Identical() const {
  if (SizeA != SizeB || !TablesEqual || !Outside.Identical()) return false;
  for (const auto& p : Partitions)
    if (!p.Diff.Identical()) return false;
  return true;
}

std::vector<std::string> TableDifferences(const EvidenceImage& a, const EvidenceImage& b) {
  std::vector<std::string> lines;
  if (!a.HasTable() || !b.HasTable()) {
    if (a.HasTable() != b.HasTable()) {
      const EvidenceImage& without = a.HasTable() ? b : a;
      lines.push_back(std::string(a.HasTable() ? "A" : "B") + " has a partition table, " +
                      (a.HasTable() ? "B" : "A") + " has none (" + without.TableProblem + ")");
    }
    return lines;
  }
  const TGalaxyPartitions& ta = a.Model->GalaxyPartitions;
  const TGalaxyPartitions& tb = b.Model->GalaxyPartitions;
  if (ta.EntriesCount != tb.EntriesCount)
    lines.push_back("A lists " + std::to_string(ta.EntriesCount) + " partitions, B lists " +
                    std::to_string(tb.EntriesCount));
  if (ta.SomeReserved != tb.SomeReserved) lines.push_back("the table headers' reserved bytes differ");
  const std::size_t common = std::min(ta.RawEntries.size(), tb.RawEntries.size());
  for (std::size_t k = 0; k < common; ++k) {
    const auto& ea = ta.RawEntries[k];
    const auto& eb = tb.RawEntries[k];
    const std::string row = "row " + std::to_string(k + 1);
    const std::string nameA = ta.Entries[k].EntryName, nameB = tb.Entries[k].EntryName;
    if (ea.EntryName != eb.EntryName)
      lines.push_back(row + ": name " + Quoted(nameA) + " in A, " + Quoted(nameB) + " in B");
    if (ea.SizeInBlocks != eb.SizeInBlocks)
      lines.push_back(row + " (" + Quoted(nameA) + "): stored size " +
                      std::to_string(ea.SizeInBlocks) + " blocks in A, " +
                      std::to_string(eb.SizeInBlocks) + " in B");
    if (ea.Unknown1 != eb.Unknown1 || ea.Unknown2 != eb.Unknown2 || ea.Unknown3 != eb.Unknown3 ||
        ea.FileName != eb.FileName)
      lines.push_back(row + " (" + Quoted(nameA) + "): other entry fields differ");
  }
  return lines;
}

ImageDiffer::ImageDiffer(const EvidenceImage& a, const EvidenceImage& b, bool mainOnly) {
  result_.SizeA = a.Layout.FileSize;
  result_.SizeB = b.Layout.FileSize;
  result_.BlocksA = a.Layout.TotalBlocks;
  result_.BlocksB = b.Layout.TotalBlocks;
  result_.MainOnly = mainOnly;
  result_.TableDifferences = TableDifferences(a, b);
  result_.TablesEqual = result_.TableDifferences.empty();
  const EvidenceImage* table = a.HasTable() ? &a : b.HasTable() ? &b : nullptr;
  result_.PartitionsFrom = table == &a ? 'A' : table == &b ? 'B' : 0;
  result_.BlockDiffers.assign(std::max(result_.BlocksA, result_.BlocksB), false);
  if (!table) return;
  result_.Partitions.reserve(table->Partitions.size());
  for (const EvidencePartition& p : table->Partitions)
    result_.Partitions.push_back({p.Position, p.Name, {}});
  for (std::size_t k = 0; k < table->Partitions.size(); ++k) {
    const EvidencePartition& p = table->Partitions[k];
    if (p.Blocks > 0) spans_.push_back({p.FirstBlock, p.FirstBlock + p.Blocks, &result_.Partitions[k].Diff});
  }
}

void ImageDiffer::Covering(std::uint64_t block, std::vector<RegionDiff*>& regions) {
  regions.clear();
  for (const Span& s : spans_)
    if (block >= s.First && block < s.End) regions.push_back(s.Region);
  if (regions.empty()) regions.push_back(&result_.Outside);
}

void ImageDiffer::AddBlock(std::uint64_t block, ScanArea area, const Delta& delta) {
  result_.BlockDiffers[block] = true;
  Covering(block, regions_);
  for (RegionDiff* r : regions_) {
    if (area == ScanArea::Main) {
      ++r->MainBlocks;
      r->MainSectors += delta.sectors;
    } else {
      ++r->SpareBlocks;
      r->SpareSectors += delta.sectors;
    }
    AddOffsets(*r, delta.offsets);
  }
}

void ImageDiffer::Take(const ScanChunk& chunk) {
  if (!chunk.B) return;  // blocks only A holds are counted at the end
  if (chunk.Area == ScanArea::Trailing) {
    std::uint64_t bytes = 0;
    std::vector<std::uint64_t> offsets;
    CompareUnits(chunk.A, chunk.B, chunk.Size, 1, chunk.Offset, bytes, offsets);
    result_.Outside.TrailingBytes += bytes;
    AddOffsets(result_.Outside, offsets);
    return;
  }
  const bool main = chunk.Area == ScanArea::Main;
  const std::size_t perBlock = main ? kBlockSize : kSparePerBlock;
  const std::size_t unit = main ? kSectorBytes : kSpareSectorBytes;
  for (std::uint32_t i = 0; i < chunk.Blocks; ++i) {
    const std::uint8_t* a = chunk.A + std::size_t{i} * perBlock;
    const std::uint8_t* b = chunk.B + std::size_t{i} * perBlock;
    if (std::memcmp(a, b, perBlock) == 0) continue;
    Delta delta;
    CompareUnits(a, b, perBlock, unit, chunk.Offset + std::uint64_t{i} * perBlock, delta.sectors,
                 delta.offsets);
    AddBlock(std::uint64_t{chunk.FirstBlock} + i, chunk.Area, delta);
  }
}

ImageComparison ImageDiffer::Finish() {
  const std::uint32_t common = std::min(result_.BlocksA, result_.BlocksB);
  const std::uint32_t larger = std::max(result_.BlocksA, result_.BlocksB);
  // A block one image lacks differs from its first byte on; as the pass saw the blocks
  // both hold first, its offset goes in among the smallest ones kept.
  const auto keepSmallest = [](RegionDiff& r, std::uint64_t offset) {
    auto& kept = r.FirstOffsets;
    if (kept.size() >= kFirstOffsets && offset >= kept.back()) return;
    kept.insert(std::upper_bound(kept.begin(), kept.end(), offset), offset);
    if (kept.size() > kFirstOffsets) kept.pop_back();
  };
  if (common < larger) {
    std::sort(result_.Outside.FirstOffsets.begin(), result_.Outside.FirstOffsets.end());
    for (PartitionDiff& p : result_.Partitions)
      std::sort(p.Diff.FirstOffsets.begin(), p.Diff.FirstOffsets.end());
  }
  for (std::uint64_t block = common; block < larger; ++block) {
    Delta delta;
    delta.sectors = kSectorsPerBlock;
    AddBlock(block, ScanArea::Main, delta);
    if (!result_.MainOnly) AddBlock(block, ScanArea::Spare, delta);
    for (RegionDiff* r : regions_) {
      ++r->OneSidedBlocks;
      keepSmallest(*r, block * kBlockSize);
    }
  }
  return std::move(result_);
}

}  // namespace orvella

namespace orvella {

namespace {

std::string Count(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string DescribeRegion(const RegionDiff& r, bool mainOnly) {
  if (r.Identical()) return "identical";
  std::string text;
  const auto add = [&](const std::string& piece) { text += (text.empty() ? "" : "; ") + piece; };
  if (r.MainBlocks)
    add("main data differs in " + Count(r.MainBlocks, "block", "blocks") + " (" +
        Count(r.MainSectors, "sector", "sectors") + ")");
  if (r.SpareBlocks && !mainOnly)
    add("spare data differs in " + Count(r.SpareBlocks, "block", "blocks") + " (" +
        Count(r.SpareSectors, "sector", "sectors") + ")");
  if (r.OneSidedBlocks) add(Count(r.OneSidedBlocks, "block", "blocks") + " held by one image only");
  if (r.TrailingBytes)
    add(Count(r.TrailingBytes, "byte", "bytes") + " after the spare area differ");
  return text;
}

std::string OffsetList(const std::vector<std::uint64_t>& offsets) {
  std::string text;
  char buf[24];
  for (std::uint64_t o : offsets) {
    std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(o));
    text += (text.empty() ? "" : " ") + std::string(buf);
  }
  return text;
}

}  // namespace orvella
