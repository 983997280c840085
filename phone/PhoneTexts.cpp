#include "phone/PhoneTexts.h"

#include <algorithm>
#include <cstdio>

#include "image/Notation.h"

namespace orvella::phone {

namespace {

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string Num(std::uint64_t v) { return std::to_string(v); }

// Characters a UTF-8 text shows, for lining up columns.
std::size_t Shown(const std::string& text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace

std::string CountText(std::uint64_t n, const char* one, const char* many) {
  return Num(n) + " " + (n == 1 ? one : many);
}

std::string BlockRangeText(std::uint64_t first, std::uint64_t count) {
  return count == 1 ? BlockText(first) : BlocksText(first, count);
}

std::string DeviceName(const PitEntry& entry, const char* kind) {
  if (entry.BmlNumber == 0) return "";
  return std::string(kind) + Num(entry.BmlNumber);
}

std::string HoldsText(const PartitionContent& content) {
  std::string text = HoldsWord(content.Kind);
  if (!content.Label.empty()) text += " \"" + content.Label + "\"";
  return text;
}

std::string VolumeText(const VolumeState& volume) {
  if (!volume.Stl) return "";
  if (!volume.Rebuilt) return "refused: " + volume.Refusal;
  return "rebuilds: " + Num(volume.Bytes()) + " bytes (" + Num(volume.Sectors) + " sectors), holds " +
         HoldsText(volume.Inside);
}

std::string StlFindingPlace(const StlFinding& finding) {
  std::string at;
  if (finding.Block >= 0) at = "VBN " + Num(static_cast<std::uint64_t>(finding.Block));
  if (finding.Page >= 0) at += (at.empty() ? "page " : " page ") + Num(static_cast<std::uint64_t>(finding.Page));
  return at.empty() ? finding.Kind : finding.Kind + " " + at;
}

std::vector<std::string> ColumnLines(const std::vector<std::vector<std::string>>& rows,
                                     const std::vector<std::size_t>& right) {
  std::vector<std::size_t> width;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (width.size() <= c) width.push_back(0);
      width[c] = std::max(width[c], Shown(row[c]));
    }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - Shown(row[c]), ' ');
      const bool toRight = std::find(right.begin(), right.end(), c) != right.end();
      line += toRight ? pad + row[c] : row[c];
      if (c + 1 < row.size()) line += (toRight ? "" : pad) + "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> PitTextLines(const PhoneDump& dump, const std::vector<VolumeState>& volumes) {
  std::vector<std::string> out;
  const PitHeader& h = dump.Table.Header;
  std::string words = Hex(h.Unknown1, 8) + " " + Hex(h.Unknown2, 8);
  for (const std::uint16_t w : h.Unknown3To8) words += " " + Hex(w, 4);
  out.push_back("Partition table at block " + BlockText(kPitTableBlock) + ": " +
                CountText(h.Count, "entry", "entries") + "; header words " + words);
  out.push_back(std::string("Blocks from: ") +
                (dump.Bml.Info.Read ? "the bad-block layer's partition info, as the phone places them"
                                    : "the running sum of the table's block counts"));
  if (dump.Bml.Structure != BmlStructure::None)
    out.push_back("Bad-block layer: " + CountText(dump.Bml.Remaps.size(), "remap", "remaps") + ", " +
                  CountText(dump.Bml.Findings.size(), "finding", "findings") + " (orvella bml lists them)");

  std::vector<std::vector<std::string>> rows{
      {"Pos", "Name", "Id", "Attributes", "Blocks", "Device", "Holds", "Flash file"}};
  for (const PitEntry& e : dump.Table.Entries)
    rows.push_back({Num(e.Position), e.Name, Num(e.Identifier), PitAttributeWords(e.Attributes),
                    e.InDump ? BlockRangeText(e.FirstBlock, e.Blocks) : "-", e.InDump ? DeviceName(e, "bml") : "-",
                    HoldsText(e.Content), e.FlashFile});
  for (std::string& line : ColumnLines(rows, {0, 2})) out.push_back(std::move(line));

  bool header = false;
  for (std::size_t k = 0; k < volumes.size() && k < dump.Table.Entries.size(); ++k) {
    const VolumeState& v = volumes[k];
    if (!v.Stl) continue;
    if (!header) out.push_back("STL volumes:");
    header = true;
    const PitEntry& e = dump.Table.Entries[k];
    out.push_back("  " + Num(e.Position) + " " + e.Name + ": " + VolumeText(v) +
                  (v.Rebuilt && v.LogPagesUsed ? "; " + CountText(v.LogPagesUsed, "page", "pages") + " from log blocks"
                                               : std::string()));
  }
  header = false;
  for (const PitEntry& e : dump.Table.Entries) {
    if (e.InDump) continue;
    if (!header) out.push_back("Not in this dump:");
    header = true;
    out.push_back("  " + Num(e.Position) + " " + e.Name + ": " + e.NotInDump);
  }
  return out;
}

std::vector<std::string> BmlTextLines(const BmlResult& b) {
  std::vector<std::string> out;
  out.push_back("Reservoir: blocks " + BlocksText(b.ReservoirFirst, b.ReservoirLast - b.ReservoirFirst + 1) + " (" +
                Num(b.ReservoirFirst) + " to " + Num(b.ReservoirLast) + "): " + Num(kBmlReplacementBlocks) +
                " replacement blocks and the layer's own");
  out.push_back("Pool control blocks: " + Num(b.PoolBlocks.size()));
  for (const PoolBlock& p : b.PoolBlocks) {
    const std::string set = p.MetaSetPage
                                ? "meta set at page " + Num(*p.MetaSetPage) + " (age " + Num(p.MetaSetAge) + ")"
                                : std::string("no meta set in use");
    out.push_back("  " + BlockText(p.Block) + "  " + p.Signature + "  age " + Num(p.Age) + ", global age " +
                  Num(p.GlobalAge) + "  " + p.Role + "  " + set + "; TPCB " + BlockText(p.TpcbBlock) + ", REF " +
                  BlockText(p.RefBlock));
  }
  if (b.Info.Read) {
    // The signature is whatever 8 bytes the block holds; only its printable ones are shown.
    std::string signature = b.Info.Signature;
    for (char& c : signature)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    out.push_back("Partition info: signature \"" + signature + "\", version " + Hex(b.Info.Version, 8) + ", " +
                  CountText(b.Info.Rows.size(), "row", "rows"));
    std::vector<std::vector<std::string>> rows{{"  Device", "Id", "Attributes", "Blocks", "Units", "Usable"}};
    for (const PartitionInfoRow& r : b.Info.Rows)
      rows.push_back({"  bml" + Num(r.Index + 1), Num(r.Identifier), Hex(r.Attributes, 4),
                      r.Blocks ? BlockRangeText(r.FirstBlock, r.Blocks) : "-", Num(r.Blocks),
                      r.Usable ? "yes" : "no"});
    for (std::string& line : ColumnLines(rows, {1, 4})) out.push_back(std::move(line));
  } else {
    out.push_back("Partition info: not read; the table's running sum places the partitions");
  }
  out.push_back("Remaps: " + Num(b.Remaps.size()));
  if (!b.Remaps.empty()) {
    std::vector<std::vector<std::string>> rows{{"  Block", "Replacement", "Partition", "Reason"}};
    for (const BmlRemap& m : b.Remaps)
      rows.push_back({"  " + BlockText(m.Block), BlockText(m.Replacement), m.Partition.empty() ? "-" : m.Partition,
                      m.Reason() + (m.Applied ? "" : " (a later pair for this block wins)")});
    for (std::string& line : ColumnLines(rows)) out.push_back(std::move(line));
  }
  out.push_back("Findings: " + (b.Findings.empty() ? std::string("none") : Num(b.Findings.size())));
  for (const BmlFinding& f : b.Findings)
    out.push_back(std::string("  ") + FindingWord(f.Kind) + (f.Block ? " " + BlockText(*f.Block) : std::string()) +
                  ": " + f.Text + (f.RefusesMount ? " (refuses to mount)" : ""));
  out.push_back(b.Mountable() ? "The phone mounts this chip." : "The phone would not mount this chip.");
  return out;
}

}  // namespace orvella::phone
