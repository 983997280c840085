#include "phone/PhoneDump.h"

#include "phone/BmlView.h"
#include "phone/Content.h"

namespace orvella::phone {

namespace {

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string RangeText(std::uint64_t first, std::uint64_t blocks) {
  return "blocks " + Num(first) + " to " + Num(first + blocks - 1);
}

void Mismatch(BmlResult& bml, std::optional<std::uint32_t> block, std::string text) {
  bml.Findings.push_back(BmlFinding{FindingKind::PartitionInfoMismatch, block, std::move(text), false});
}

// The partition info is the phone's own description of its partitions, so it decides
// where an entry lies; the table's running sum only stands in where it says nothing.
void TakePartitionInfo(PhoneDump& d) {
  const PartitionInfo& info = d.Bml.Info;
  std::vector<bool> rowMatched(info.Rows.size(), false);
  for (PitEntry& e : d.Table.Entries) {
    if (e.DeviceType != static_cast<std::uint32_t>(PitDevice::OneNand) || e.BlockCount == 0) continue;
    const std::string what = "table row " + Num(e.Position) + " (\"" + e.Name + "\", identifier " + Num(e.Identifier) + ")";
    const PartitionInfoRow* row = nullptr;
    for (const PartitionInfoRow& r : info.Rows)
      if (r.Identifier == e.Identifier) {
        row = &r;
        rowMatched[r.Index] = true;
        break;
      }
    if (!row) {
      Mismatch(d.Bml, e.InDump ? std::optional<std::uint32_t>(e.FirstBlock) : std::nullopt,
               what + " has no row in the partition info; its blocks come from the table");
      continue;
    }
    const std::string byTable = e.InDump ? RangeText(e.FirstBlock, e.BlockCount) : "not usable blocks";
    if (!e.InDump || e.FirstBlock != row->FirstBlock || e.BlockCount != row->Blocks)
      Mismatch(d.Bml, row->FirstBlock,
               what + ": " + byTable + " by the table, " + RangeText(row->FirstBlock, row->Blocks) +
                   " by the partition info row " + Num(row->Index + 1) + (row->Usable ? " (used)" : " (not usable)"));
    if (e.Stl() != ((row->Attributes & kPiAttrStl) != 0))
      Mismatch(d.Bml, row->FirstBlock,
               what + (e.Stl() ? " is an STL partition by the table but not by the partition info"
                               : " is an STL partition by the partition info but not by the table"));
    if (!row->Usable) continue;
    e.InDump = true;
    e.NotInDump.clear();
    e.From = FirstBlockFrom::PartitionInfo;
    e.FirstBlock = row->FirstBlock;
    e.Blocks = row->Blocks;
    e.BmlNumber = row->Index + 1;
  }
  for (const PartitionInfoRow& r : info.Rows)
    if (!rowMatched[r.Index])
      Mismatch(d.Bml, r.FirstBlock,
               "partition info row " + Num(r.Index + 1) + " (identifier " + Num(r.Identifier) + ", " +
                   RangeText(r.FirstBlock, r.Blocks) + ") has no entry of its identifier on this chip in the table");
}

}  // namespace

PhoneDump ReadPhoneDump(PageSource& chip, bool judgeContent) {
  PhoneDump d;
  d.Bml = ReadBml(chip);
  d.TableFound = ReadPit(chip, d.Bml.UsableBlocks(), d.Table, d.TableProblem);
  if (!d.TableFound) return d;
  if (d.Bml.Info.Read) TakePartitionInfo(d);
  for (BmlRemap& m : d.Bml.Remaps)
    for (const PitEntry& e : d.Table.Entries)
      if (e.InDump && m.Block >= e.FirstBlock && m.Block - e.FirstBlock < e.Blocks) {
        m.Partition = e.Name;
        break;
      }
  for (std::size_t k = 0; k < d.Table.Entries.size(); ++k) {
    PitEntry& e = d.Table.Entries[k];
    if (!e.InDump) {
      e.Content = PartitionContent{Holds::Absent, {}, e.NotInDump};
    } else if (judgeContent) {
      BmlView view(chip, EntryBlocks(d, k));
      e.Content = JudgeContent(view);
    } else {
      e.Content = PartitionContent{Holds::Unknown, {}, "not judged"};
    }
  }
  return d;
}

std::vector<std::uint32_t> EntryBlocks(const PhoneDump& d, std::size_t k) {
  if (k >= d.Table.Entries.size() || !d.Table.Entries[k].InDump) return {};
  const PitEntry& e = d.Table.Entries[k];
  return PhysicalBlocks(d.Bml, e.FirstBlock, e.Blocks);
}

}  // namespace orvella::phone
