#include "evidence/Report.h"

#include <algorithm>
#include <cstdio>

#include "image/DumpShape.h"
#include "image/Notation.h"
#include "image/RowText.h"

namespace orvella {

namespace {

// The list's captions of the columns the report shows, in the list's order.
struct ListedColumn {
  std::size_t Index;
  const char* Caption;
};
constexpr ListedColumn kColumns[] = {
    {0, "Position"},
    {2, "Partition Name"},
    {3, "Address (Blocks) Range"},
    {4, "Size in Bytes (Blocks)"},
};

constexpr char kStyle[] =
    "body{font:14px/1.45 'Liberation Sans',Arial,sans-serif;margin:16px 20px;color:#111;"
    "background:#fff}"
    "h1{font-size:20px;margin:0 0 12px}h2{font-size:16px;margin:22px 0 8px}"
    "h3{font-size:14px;margin:14px 0 6px}"
    "table{border-collapse:collapse}th,td{border:1px solid #c4c4c4;padding:2px 8px;"
    "text-align:left;vertical-align:top}th{background:#f0f0f0}"
    ".facts th{background:none;font-weight:normal;color:#555}"
    ".mono,.hex{font-family:'Liberation Mono',monospace;font-size:13px}"
    ".hex{white-space:nowrap}.num{text-align:right}"
    ".same{color:#1d6b32}.differs{color:#b3261e;font-weight:bold}"
    ".swatch{vertical-align:middle}footer{margin-top:24px;color:#666;font-size:12px}";

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string E(const std::string& text) { return EscapeMarkup(text); }

std::string Row(const std::string& head, const std::string& cellHtml) {
  return "<tr><th>" + E(head) + "</th><td>" + cellHtml + "</td></tr>\n";
}

std::string Span(std::uint64_t from, std::uint64_t to) {
  if (from >= to) return "none";
  return "<span class=\"mono\">" + Hex(from, 8) + ".." + Hex(to - 1, 8) + "</span> (" +
         std::to_string(to - from) + " bytes)";
}

std::string Facts(const EvidenceImage& image) {
  const ImageLayout& l = image.Layout;
  std::string html = "<section id=\"facts\"><h2>Image</h2><table class=\"facts\">\n";
  html += Row("File", "<span class=\"mono\">" + E(image.Path) + "</span>");
  html += Row("Size", std::to_string(l.FileSize) + " bytes (<span class=\"mono\">" +
                          Hex(l.FileSize, 8) + "</span>)");
  html += Row("Geometry", "erase block <span class=\"mono\">" + Hex(kBlockSize, 8) +
                              "</span> bytes, page <span class=\"mono\">" + Hex(kPageSize, 4) +
                              "</span> bytes, " + std::to_string(kSpareSectorBytes) +
                              " spare bytes for every " + std::to_string(kSectorBytes) +
                              " main bytes");
  html += Row("Erase blocks", std::to_string(l.TotalBlocks) + " (<span class=\"mono\">" +
                                  Hex(l.TotalBlocks, 4) + "</span>)");
  html += Row("Main area", Span(0, l.MainEnd));
  html += Row("Spare area", Span(l.MainEnd, l.SpareEnd));
  html += Row("After the spare area", Span(l.SpareEnd, l.FileSize));
  const std::string notWhole = NotWholeText(ShapeOfSize(l.FileSize));
  html += Row("Whole image", notWhole.empty() ? std::string("yes") : "no: " + E(notWhole));
  if (image.HasTable())
    html += Row("Partition table",
                "block " + std::to_string(kPitBlock) + ", file offset <span class=\"mono\">" +
                    Hex(std::uint64_t{kPitBlock} * kBlockSize, 8) + "</span>, " +
                    std::to_string(image.Partitions.size()) + " entries");
  else
    html += Row("Partition table", "none: " + E(image.TableProblem));
  return html + "</table></section>\n";
}

std::string Swatch(const BlockStateStyle& style) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "<svg class=\"swatch\" width=\"13\" height=\"13\"><rect x=\"1\" y=\"1\" "
                "width=\"11\" height=\"11\" fill=\"#%06X\"/></svg>",
                style.Rgb & 0xFFFFFFu);
  return buf;
}

std::size_t Drawn(const std::vector<BlockState>& states, BlockState s) {
  return static_cast<std::size_t>(std::count(states.begin(), states.end(), s));
}

std::string Map(const BlockMapInput& map, const std::vector<BlockState>& states) {
  std::string html = "<section id=\"map\"><h2>Block map</h2>\n<p>One cell per erase block, " +
                     std::to_string(BlockMapGeometry::kColumns) +
                     " to a row; each row is labelled with its first block. Partitions are "
                     "outlined and labelled above their first cells with their position and, "
                     "where it fits, their name. A block is drawn in one state, the first of " +
                     std::string(map.Remap.empty() ? "" : "replaced, replacement, ") +
                     "bad, uncorrectable, different, corrected, written and erased that applies to "
                     "it; the legend counts the blocks drawn in each.</p>\n<table class=\"legend\"><tr><th></th><th>State</th>"
                     "<th>Meaning</th><th class=\"num\">Blocks</th></tr>\n";
  for (BlockState s : LegendStates(map)) {
    const BlockStateStyle& style = StyleOf(s);
    html += "<tr><td>" + Swatch(style) + "</td><td>" + style.Label + "</td><td>" +
            style.Meaning + "</td><td class=\"num\">" + std::to_string(Drawn(states, s)) + "</td></tr>\n";
  }
  html += "</table>\n<p>" + BlockMapSvg(map, states) + "</p></section>\n";
  return html;
}

std::string PartitionTable(const EvidenceImage& image) {
  std::string html = "<section id=\"partitions\"><h2>Partition table</h2>\n";
  if (!image.HasTable()) return html + "<p>None: " + E(image.TableProblem) + "</p></section>\n";
  html += "<table><tr>";
  for (const ListedColumn& c : kColumns) html += std::string("<th>") + c.Caption + "</th>";
  html += "</tr>\n";
  const TCoolItemsList& items = image.Model->PartitionItems;
  for (std::size_t k = 0; k < static_cast<std::size_t>(items.Count); ++k) {
    html += "<tr>";
    for (const ListedColumn& c : kColumns)
      html += std::string(c.Index >= 3 ? "<td class=\"mono\">" : "<td>") +
              E(ListedCellText(items, k, c.Index)) + "</td>";
    html += "</tr>\n";
  }
  return html + "</table></section>\n";
}

std::string Phone(const PhoneFacts& p) {
  std::string html = "<section id=\"phone\"><h2>Partitions as the phone reads them</h2>\n<p>" + E(p.Placement) +
                     "</p>\n<table><tr><th>Position</th><th>Name</th><th>Id</th><th>Attributes</th><th>Blocks</th>"
                     "<th>Device</th><th>Holds</th><th>Flash file</th><th>STL volume</th></tr>\n";
  for (const PhoneRow& r : p.Rows)
    html += "<tr><td class=\"num\">" + std::to_string(r.Position) + "</td><td>" + E(r.Name) + "</td><td class=\"num\">" +
            std::to_string(r.Identifier) + "</td><td>" + E(r.Attributes) + "</td><td" +
            (r.InDump ? " class=\"mono\">" : ">not in this dump: ") + E(r.Blocks) + "</td><td>" + E(r.Device) +
            "</td><td>" + E(r.Holds) + "</td><td>" + E(r.FlashFile) + "</td><td>" + E(r.Volume) + "</td></tr>\n";
  html += "</table>\n";
  if (p.Layer) {
    html += "<h3>Remaps</h3>\n";
    if (p.Remaps.empty()) {
      html += "<p>None: the phone reads every block where it lies.</p>\n";
    } else {
      html += "<p>The phone reads each of these bad blocks from its replacement in the reservoir.</p>\n"
              "<table id=\"remaps\"><tr><th>Block</th><th>Replacement</th><th>Partition</th><th>Reason</th></tr>\n";
      for (const PhoneRemapRow& m : p.Remaps)
        html += "<tr><td class=\"mono\">" + BlockText(m.Block) + "</td><td class=\"mono\">" +
                BlockText(m.Replacement) + "</td><td>" + E(m.Partition) + "</td><td>" + E(m.Reason) + "</td></tr>\n";
      html += "</table>\n";
    }
    if (!p.Findings.empty()) {
      html += "<h3>Findings of the bad-block layer</h3>\n<ul>\n";
      for (const std::string& f : p.Findings) html += "<li>" + E(f) + "</li>\n";
      html += "</ul>\n";
    }
  }
  return html + "</section>\n";
}

std::string DigestCell(const std::vector<DigestAlgorithm>& algorithms, const DigestValues& values) {
  std::string html;
  for (std::size_t i = 0; i < algorithms.size() && i < values.size(); ++i)
    html += std::string(i ? "<br>" : "") + "<span class=\"hex\">" +
            std::string(DigestName(algorithms[i])) + " " + values[i] + "</span>";
  return html;
}

std::string Digests(const EvidenceImage& image, const ImageDigests& d) {
  const ImageLayout& l = image.Layout;
  std::string html =
      "<section id=\"digests\"><h2>Digests</h2>\n<p>Partition data is digested exactly as "
      "the export writes it: a partition's main data, and its spare data.</p>\n<table>"
      "<tr><th>Range</th><th>Bytes</th><th>Digests</th></tr>\n";
  const auto row = [&](const std::string& what, std::uint64_t from, std::uint64_t length,
                       const std::string& cell) {
    html += "<tr><td>" + E(what) + "</td><td class=\"mono\">" + Hex(from, 8) + " +" +
            std::to_string(length) + "</td><td>" + cell + "</td></tr>\n";
  };
  row("whole file", 0, l.FileSize, DigestCell(d.Algorithms, d.File));
  row("main area", 0, l.MainEnd, DigestCell(d.Algorithms, d.Main));
  row("spare area", l.MainEnd, l.SpareEnd - l.MainEnd, DigestCell(d.Algorithms, d.Spare));
  for (std::size_t k = 0; k < d.Partitions.size() && k < image.Partitions.size(); ++k) {
    const PartitionDigests& p = d.Partitions[k];
    const WideRange& r = image.Partitions[k].Range;
    const std::string name = std::to_string(p.Position) + " " + p.Name;
    if (!p.Inside) {
      html += "<tr><td>" + E(name) + "</td><td></td><td>no digests: " + E(p.Beyond) +
              "</td></tr>\n";
      continue;
    }
    row(name + ", main data", r.MainOffset, r.MainLength, DigestCell(d.Algorithms, p.Main));
    row(name + ", spare data", r.SpareOffset, r.SpareLength, DigestCell(d.Algorithms, p.Spare));
  }
  return html + "</table></section>\n";
}

// How the map draws the blocks of one finding, when not all in the finding's own state:
// " (on the map: 1 drawn corrected, 1 drawn different)", so that the legend's counts
// and the summary's are seen to agree.
std::string DrawnAs(const std::vector<std::uint32_t>& blocks, BlockState own,
                    const std::vector<BlockState>& states) {
  std::size_t counts[kBlockStateCount] = {};
  for (std::uint32_t b : blocks)
    if (b < states.size()) ++counts[static_cast<std::size_t>(states[b])];
  if (counts[static_cast<std::size_t>(own)] == blocks.size()) return "";
  std::string text;
  for (const BlockStateStyle& style : BlockStateStyles()) {
    const std::size_t n = counts[static_cast<std::size_t>(style.State)];
    if (n == 0 && style.State != own) continue;
    text += (text.empty() ? "" : ", ") + std::to_string(n) + " drawn " + style.Label;
  }
  return " (on the map: " + text + ")";
}

std::string More(std::size_t shown, std::uint64_t all) {
  return all > shown ? "<p>… and " + std::to_string(all - shown) + " more.</p>\n" : "";
}

std::string Health(const HealthFacts& h, const std::vector<BlockState>& states) {
  std::string html = "<section id=\"health\"><h2>NAND health</h2><table class=\"facts\">\n";
  html += Row("Bad blocks", std::to_string(h.BadBlocks) + DrawnAs(h.BadBlockList, BlockState::Bad, states));
  html += Row("Corrected sectors", std::to_string(h.SectorsCorrected) + " in " +
                                       std::to_string(h.BlocksCorrected) + " blocks" +
                                       DrawnAs(h.CorrectedBlockList, BlockState::Corrected, states));
  html += Row("Uncorrectable sectors",
              std::to_string(h.SectorsUncorrectable) + " in " + std::to_string(h.BlocksUncorrectable) +
                  " blocks" + DrawnAs(h.UncorrectableBlockList, BlockState::Uncorrectable, states));
  html += "</table>\n";
  if (!h.BadBlockList.empty()) {
    html += "<h3>Bad blocks</h3>\n<table id=\"bad-blocks\"><tr><th>Block</th>"
            "<th>Main data at</th><th>Spare data at</th></tr>\n";
    const std::size_t n = std::min(h.BadBlockList.size(), kListedFindings);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t b = h.BadBlockList[i];
      html += "<tr><td class=\"mono\">" + BlockText(b) + "</td><td class=\"mono\">" +
              OffsetText(b * kBlockSize) + "</td><td class=\"mono\">" +
              OffsetText(h.SpareStart + b * kSparePerBlock) + "</td></tr>\n";
    }
    html += "</table>\n" + More(n, h.BadBlockList.size());
  }
  if (!h.UncorrectableSectors.empty()) {
    html += "<h3>Uncorrectable sectors</h3>\n<table id=\"uncorrectable\"><tr><th>Sector</th>"
            "<th>Block</th><th>Main data at</th><th>Spare data at</th></tr>\n";
    const std::size_t n = std::min(h.UncorrectableSectors.size(), kListedFindings);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t sector = h.UncorrectableSectors[i];
      html += "<tr><td class=\"num\">" + std::to_string(sector) + "</td><td class=\"mono\">" +
              BlockText(sector / kSectorsPerBlock) + "</td><td class=\"mono\">" +
              OffsetText(sector * kSectorBytes) + "</td><td class=\"mono\">" +
              OffsetText(h.SpareStart + sector * kSpareSectorBytes) + "</td></tr>\n";
    }
    html += "</table>\n" + More(n, h.SectorsUncorrectable);
  }
  return html + "</section>\n";
}

// The erase blocks the sectors (index of 512 main bytes) lie in, each once, in order.
std::vector<std::uint32_t> DistinctBlocks(const std::vector<std::uint64_t>& sectors) {
  std::vector<std::uint32_t> blocks;
  blocks.reserve(sectors.size());
  for (std::uint64_t s : sectors) blocks.push_back(static_cast<std::uint32_t>(s / kSectorsPerBlock));
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  return blocks;
}

std::string Verdict(bool identical) {
  return identical ? "<span class=\"same\">identical</span>"
                   : "<span class=\"differs\">different</span>";
}

std::string Comparison(const EvidenceImage& b, const ImageComparison& c) {
  std::string html = "<section id=\"comparison\"><h2>Comparison</h2><table class=\"facts\">\n";
  html += Row("Compared with", "<span class=\"mono\">" + E(b.Path) + "</span>");
  html += Row("Result", Verdict(c.Identical()));
  html += Row("Sizes", std::to_string(c.SizeA) + " bytes (" + std::to_string(c.BlocksA) +
                           " blocks) and " + std::to_string(c.SizeB) + " bytes (" +
                           std::to_string(c.BlocksB) + " blocks)" +
                           (c.SizeA == c.SizeB ? ": equal" : ": <span class=\"differs\">differ</span>"));
  std::string tables = c.TablesEqual ? "equal" : "";
  for (const std::string& line : c.TableDifferences)
    tables += (tables.empty() ? "" : "<br>") + E(line);
  html += Row("Partition tables", tables);
  html += "</table>\n<table><tr><th>Partition</th><th>Result</th>"
          "<th>First differing offsets</th></tr>\n";
  const auto row = [&](const std::string& what, const RegionDiff& r) {
    html += "<tr><td>" + E(what) + "</td><td>" +
            (r.Identical() ? Verdict(true) : E(DescribeRegion(r, c.MainOnly))) +
            "</td><td class=\"mono\">" + E(OffsetList(r.FirstOffsets)) + "</td></tr>\n";
  };
  for (const PartitionDiff& p : c.Partitions) row(std::to_string(p.Position) + " " + p.Name, p.Diff);
  row("outside every partition", c.Outside);
  return html + "</table></section>\n";
}

}  // namespace

BlockMapInput MapInputOf(const EvidenceImage& image, const std::vector<bool>& erased,
                         const ImageComparison* comparison) {
  BlockMapInput map;
  map.Blocks = image.Layout.TotalBlocks;
  map.Erased = erased;
  map.Erased.resize(map.Blocks, false);
  if (comparison) {
    map.Different = comparison->BlockDiffers;
    map.Different.resize(map.Blocks, false);
  }
  for (const EvidencePartition& p : image.Partitions)
    map.Partitions.push_back({p.Position, p.Name, p.FirstBlock, p.Blocks});
  return map;
}

bool AddHealth(const NandHealthReport& check, ReportInput& input) {
  if (check.Layout.empty()) return false;
  HealthFacts facts;
  std::vector<BlockHealth>& map = input.Map.Health;
  map.assign(input.Map.Blocks, BlockHealth::Good);
  // Blocks the check did not reach (a short image) stay good, as the map cannot say more.
  for (std::size_t b = 0; b < check.Blocks.size() && b < map.size(); ++b) {
    switch (check.Blocks[b]) {
      case NandBlockState::Bad: map[b] = BlockHealth::Bad; break;
      case NandBlockState::Uncorrectable: map[b] = BlockHealth::Uncorrectable; break;
      case NandBlockState::Corrected: map[b] = BlockHealth::Corrected; break;
      case NandBlockState::Erased:
      case NandBlockState::Written: break;
    }
  }
  // A block counts once however many of its sectors were repaired; a code error counts
  // as repaired, as the map shows it.
  std::vector<std::uint64_t> repaired = check.CodeErrors;
  for (const SectorCorrection& c : check.Corrections) repaired.push_back(c.Sector);
  facts.BadBlocks = static_cast<std::uint32_t>(check.BadBlocks.size());
  facts.BadBlockList = check.BadBlocks;
  facts.SectorsCorrected = check.Total.Corrected + check.Total.CodeErrors;
  facts.CorrectedBlockList = DistinctBlocks(repaired);
  facts.BlocksCorrected = static_cast<std::uint32_t>(facts.CorrectedBlockList.size());
  facts.SectorsUncorrectable = check.Total.Uncorrectable;
  facts.UncorrectableBlockList = DistinctBlocks(check.Uncorrectable);
  facts.BlocksUncorrectable = static_cast<std::uint32_t>(facts.UncorrectableBlockList.size());
  const std::size_t listed = std::min(check.Uncorrectable.size(), kListedFindings);
  facts.UncorrectableSectors.assign(check.Uncorrectable.begin(),
                                    check.Uncorrectable.begin() + static_cast<std::ptrdiff_t>(listed));
  facts.SpareStart = std::uint64_t{check.ChipBlocks} * kBlockSize;
  input.Health = facts;
  return true;
}

std::string ReportHtml(const ReportInput& in) {
  const EvidenceImage& image = *in.Image;
  std::string name = image.Path;
  if (const auto slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" +
                     E("Orvella report: " + name) + "</title>\n<style>" + kStyle +
                     "</style></head>\n<body>\n<h1>" + E("Orvella report: " + name) + "</h1>\n";
  html += Facts(image);
  const std::vector<BlockState> states = CombineStates(in.Map);
  html += Map(in.Map, states);
  if (in.Comparison && in.Compared) html += Comparison(*in.Compared, *in.Comparison);
  if (in.Health) html += Health(*in.Health, states);
  html += PartitionTable(image);
  if (in.Phone) html += Phone(*in.Phone);
  if (in.Digests) html += Digests(image, *in.Digests);
  html += VolumeFilesHtml(in.EfsFiles);
  html += "<footer>" + E(in.Footer) + "</footer>\n</body></html>\n";
  return html;
}

}  // namespace orvella
