#include "evidence/BlockMap.h"

#include <algorithm>
#include <cstdio>

#include "image/Notation.h"

namespace orvella {

namespace {

using G = BlockMapGeometry;

constexpr std::array<BlockStateStyle, kBlockStateCount> kStyles{{
    {BlockState::Erased, "erased", "erased", "main data all 0xFF, spare data blank as the blank check sees it", 0xDCE3EA, false, false},
    {BlockState::Written, "written", "written", "holds data", 0x3F7FBF, false, false},
    {BlockState::Different, "different", "different", "differs from the compared image", 0xE8501C, false, false},
    {BlockState::Corrected, "corrected", "corrected", "sectors the ECC corrected", 0xF2C230, true, false},
    {BlockState::Uncorrectable, "uncorrectable", "uncorrectable", "sectors the ECC cannot correct", 0xA02CC8, true, false},
    {BlockState::Bad, "bad", "bad block", "marked bad", 0x202020, true, false},
    {BlockState::Replaced, "replaced", "replaced", "a bad block the phone reads from its replacement", 0x8E3B12, false, true},
    {BlockState::Replacement, "replacement", "replacement", "a reservoir block that holds a replaced block's data", 0x2E9E4F, false, true},
}};

// Label text is estimated at this many pixels per character (10 px bold sans-serif, capitals).
constexpr int kLabelCharWidth = 7;
constexpr int kLabelPadding = 3;
// The labels' baseline lies this far above the cells: descenders and the text's white
// outline then stay in the lane.
constexpr int kLabelAboveCells = 4;

std::string Rgb(std::uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06X", rgb & 0xFFFFFFu);
  return buf;
}

std::string BlockSpan(std::uint64_t first, std::uint64_t last) {
  return first == last ? "block " + BlockText(first) : "blocks " + BlocksText(first, last - first + 1);
}

// The outline of the cells [first, end), following the rows: its path in SVG pixels,
// on the grid lines around the cells so that no cell is covered. Between two rows it
// runs just below the cells of the upper one.
std::string Outline(std::uint64_t first, std::uint64_t end) {
  const std::uint64_t last = end - 1;
  const std::uint64_t r0 = first / G::kColumns, c0 = first % G::kColumns;
  const std::uint64_t r1 = last / G::kColumns, c1 = last % G::kColumns + 1;
  char buf[160];
  const auto px = [](std::uint64_t c) { return G::kLeft + static_cast<double>(c) * G::kPitch - 0.5; };
  const auto top = [](std::uint64_t r) { return G::CellY(r * G::kColumns) - 0.5; };
  const auto bottom = [](std::uint64_t r) { return G::CellY(r * G::kColumns) + G::kCell + 0.5; };
  const auto rect = [&](std::uint64_t ca, std::uint64_t cb, std::uint64_t r) {
    std::snprintf(buf, sizeof buf, "M%.1f %.1fH%.1fV%.1fH%.1fZ", px(ca), top(r), px(cb), bottom(r), px(ca));
    return std::string(buf);
  };
  if (r0 == r1) return rect(c0, c1, r0);
  if (r1 == r0 + 1 && c1 <= c0)  // two pieces that do not touch
    return rect(c0, G::kColumns, r0) + rect(0, c1, r1);
  std::snprintf(buf, sizeof buf, "M%.1f %.1fH%.1fV%.1fH%.1fV%.1fH%.1fV%.1fH%.1fZ", px(c0), top(r0),
                px(G::kColumns), bottom(r1 - 1), px(c1), bottom(r1), px(0), top(r0 + 1), px(c0));
  return buf;
}

}  // namespace

const std::array<BlockStateStyle, kBlockStateCount>& BlockStateStyles() { return kStyles; }

const BlockStateStyle& StyleOf(BlockState state) {
  return kStyles[static_cast<std::size_t>(state)];
}

std::vector<BlockState> CombineStates(const BlockMapInput& input) {
  std::vector<BlockState> states(input.Blocks, BlockState::Written);
  for (std::uint32_t b = 0; b < input.Blocks; ++b) {
    const BlockHealth health = b < input.Health.size() ? input.Health[b] : BlockHealth::Good;
    const BlockRemap remap = b < input.Remap.size() ? input.Remap[b] : BlockRemap::None;
    BlockState& s = states[b];
    if (remap == BlockRemap::Replaced) s = BlockState::Replaced;
    else if (remap == BlockRemap::Replacement) s = BlockState::Replacement;
    else if (health == BlockHealth::Bad) s = BlockState::Bad;
    else if (health == BlockHealth::Uncorrectable) s = BlockState::Uncorrectable;
    else if (b < input.Different.size() && input.Different[b]) s = BlockState::Different;
    else if (health == BlockHealth::Corrected) s = BlockState::Corrected;
    else if (b < input.Erased.size() && input.Erased[b]) s = BlockState::Erased;
  }
  return states;
}

std::vector<BlockState> LegendStates(const BlockMapInput& input) {
  std::vector<BlockState> shown;
  for (const auto& style : kStyles) {
    if (style.State == BlockState::Different && input.Different.empty()) continue;
    if (style.FromHealth && input.Health.empty()) continue;
    if (style.FromLayer && input.Remap.empty()) continue;
    shown.push_back(style.State);
  }
  return shown;
}

std::vector<MapLabel> MapLabels(const BlockMapInput& input) {
  std::vector<MapLabel> labels;
  for (const MapPartition& p : input.Partitions) {
    if (p.Blocks == 0 || p.FirstBlock >= input.Blocks) continue;
    const std::uint64_t end = std::min<std::uint64_t>(p.FirstBlock + p.Blocks, input.Blocks);
    const std::uint64_t rowEnd = (p.FirstBlock / G::kColumns + 1) * G::kColumns;
    const auto room = static_cast<int>(std::min(end, rowEnd) - p.FirstBlock) * G::kPitch;
    const auto cellsFor = [](const std::string& text) {
      const int width = static_cast<int>(text.size()) * kLabelCharWidth + kLabelPadding;
      return static_cast<std::uint32_t>((width + G::kPitch - 1) / G::kPitch);
    };
    MapLabel label{p.FirstBlock, 0, std::to_string(p.Position)};
    const std::string named = label.Text + " " + p.Name;
    if (!p.Name.empty() && static_cast<int>(cellsFor(named)) * G::kPitch <= room) label.Text = named;
    label.Cells = cellsFor(label.Text);
    if (static_cast<int>(label.Cells) * G::kPitch > room) continue;  // not even the number fits
    labels.push_back(std::move(label));
  }
  return labels;
}

std::string EscapeMarkup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control characters have no place in markup; a name may hold any byte.
        if (static_cast<unsigned char>(c) < 0x20) out += "&#xFFFD;";
        else out.push_back(c);
    }
  }
  return out;
}

std::string BlockMapSvg(const BlockMapInput& input, const std::vector<BlockState>& states) {
  const std::uint32_t blocks = input.Blocks;
  const int rows = std::max(1, G::Rows(blocks));
  const int cellsWidth = G::kColumns * G::kPitch - 1;
  const int cellsHeight = rows * G::kRowPitch - 1;
  std::string svg;
  svg.reserve(4096 + std::size_t{blocks} * 16);
  svg += "<svg class=\"map\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
         std::to_string(G::Width()) + "\" height=\"" + std::to_string(G::Height(blocks)) +
         "\" viewBox=\"0 0 " + std::to_string(G::Width()) + " " + std::to_string(G::Height(blocks)) +
         "\" role=\"img\" aria-label=\"block map\">\n<style>";
  for (const auto& style : kStyles) svg += "." + std::string(style.Key) + "{fill:" + Rgb(style.Rgb) + "}";
  svg += ".row{font:10px monospace;fill:#444;text-anchor:end}"
         ".part{fill:none;stroke:#000;stroke-width:1}"
         ".label{font:bold 10px sans-serif;fill:#000;stroke:#fff;stroke-width:2.5px;"
         "paint-order:stroke;stroke-linejoin:round}</style>\n";
  svg += "<g shape-rendering=\"crispEdges\">";
  svg += "<rect x=\"" + std::to_string(G::kLeft - G::kFrame) + "\" y=\"" +
         std::to_string(G::kTop - G::kFrame) + "\" width=\"" + std::to_string(cellsWidth + 2 * G::kFrame) +
         "\" height=\"" + std::to_string(cellsHeight + 2 * G::kFrame) + "\" fill=\"" + Rgb(G::kFrameRgb) + "\"/>";
  svg += "<rect x=\"" + std::to_string(G::kLeft) + "\" y=\"" + std::to_string(G::kTop) +
         "\" width=\"" + std::to_string(cellsWidth) + "\" height=\"" + std::to_string(cellsHeight) +
         "\" fill=\"" + Rgb(G::kGridRgb) + "\"/>\n";
  // Runs of one state within a row are one rectangle; the grid lines drawn over them
  // afterwards part them into cells again.
  for (std::uint32_t b = 0; b < blocks;) {
    const std::uint32_t rowEnd = std::min<std::uint32_t>(blocks, (b / G::kColumns + 1) * G::kColumns);
    std::uint32_t e = b + 1;
    while (e < rowEnd && states[e] == states[b]) ++e;
    const auto& style = StyleOf(states[b]);
    svg += "<rect class=\"" + std::string(style.Key) + "\" x=\"" + std::to_string(G::CellX(b)) +
           "\" y=\"" + std::to_string(G::CellY(b)) + "\" width=\"" +
           std::to_string(static_cast<int>(e - b) * G::kPitch - 1) + "\" height=\"" +
           std::to_string(G::kCell) + "\"><title>" + BlockSpan(b, e - 1) + ": " + style.Label +
           "</title></rect>\n";
    b = e;
  }
  // One pixel column of grid colour left of every cell but the first of a row: a line
  // one pixel wide centred half a pixel into that column.
  svg += "<path fill=\"none\" stroke=\"" + Rgb(G::kGridRgb) + "\" stroke-width=\"1\" d=\"";
  for (int c = 1; c < G::kColumns; ++c)
    svg += "M" + std::to_string(G::kLeft + c * G::kPitch - 1) + ".5 " + std::to_string(G::kTop) +
           "v" + std::to_string(cellsHeight);
  svg += "\"/>\n</g>\n";
  // Row labels: the first block of every row (every fourth row on long maps).
  const int every = rows > 64 ? 4 : 1;
  for (int r = 0; r < rows; r += every)
    svg += "<text class=\"row\" x=\"" + std::to_string(G::kLeft - G::kFrame - 4) + "\" y=\"" +
           std::to_string(G::CellY(std::uint64_t(r) * G::kColumns) + 10) + "\">" +
           BlockText(std::uint64_t(r) * G::kColumns) + "</text>\n";
  for (const MapPartition& p : input.Partitions) {
    if (p.Blocks == 0 || p.FirstBlock >= blocks) continue;
    const std::uint64_t end = std::min<std::uint64_t>(p.FirstBlock + p.Blocks, blocks);
    svg += "<path class=\"part\" d=\"" + Outline(p.FirstBlock, end) + "\"><title>" +
           std::to_string(p.Position) + " " + EscapeMarkup(p.Name) + ": " +
           BlockSpan(p.FirstBlock, p.FirstBlock + p.Blocks - 1) + "</title></path>\n";
  }
  // Labels stand in the lanes; none reaches into a row of cells.
  for (const MapLabel& label : MapLabels(input))
    svg += "<text class=\"label\" x=\"" + std::to_string(G::CellX(label.FirstBlock) + 2) + "\" y=\"" +
           std::to_string(G::CellY(label.FirstBlock) - kLabelAboveCells) + "\">" + EscapeMarkup(label.Text) +
           "</text>\n";
  svg += "</svg>";
  return svg;
}

}  // namespace orvella
