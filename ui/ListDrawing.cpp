#include "ui/ListDrawing.h"

#include <algorithm>

#include "files/Utf8Text.h"

namespace orvella {

int UsableRows(const TCoolItemsList* model) {
  if (model == nullptr || model->Count <= 0) return 0;
  const auto held = static_cast<std::int64_t>(model->Items.size());
  return static_cast<int>(std::min<std::int64_t>(model->Count, held));
}

std::vector<TPlacedText> LayoutHexCell(std::uint32_t typeCode, const std::string& cell, int x,
                                       int sectionWidth, const TExtraWidths& gaps,
                                       const TListSurface& metrics) {
  std::vector<TPlacedText> out;
  const std::string ellipsis = "...";
  const int budget = sectionWidth - (metrics.TextWidth(ellipsis) + 16);
  int used = 0;

  // Places one piece unless it breaks the budget; then the cell ends in "...".
  auto place = [&](const std::string& piece, int gap) {
    const int width = metrics.TextWidth(piece);
    used += width + gap;
    if (used > budget) {
      out.push_back({x, ellipsis});
      return false;
    }
    out.push_back({x, piece});
    x += width + gap;
    return true;
  };

  for (const THexPiece& piece : HexPiecesFor(typeCode)) {
    if (piece.Field < 0) {
      for (char c : piece.Literal)
        if (!place(std::string(1, c), 0)) return out;
      continue;
    }
    if (!place("0x", 0)) return out;
    const std::string_view digits = FieldDigits(cell, piece.Field, piece.Digits);
    for (std::size_t i = 0; i < digits.size(); ++i) {
      const int gap = i < gaps.size() ? gaps[i] : 0;
      if (!place(std::string(1, digits[i]), gap)) return out;
    }
  }
  return out;
}

std::string FitPlainText(const std::string& text, int fit) {
  if (fit >= 0 && static_cast<std::size_t>(fit) >= Utf8Length(text)) return text;
  return text.substr(0, Utf8Offset(text, static_cast<std::size_t>(std::max(fit - 3, 0)))) + "...";
}

namespace {

void DrawRowBackground(TListSurface& s, const TListFrame& f, const TCoolViewItem& item,
                       bool isCursor, const TRowBand& band) {
  const TCoolItemsList& m = *f.Model;
  if (item.IsProgress) {
    const int w = ProgressFillWidth(f.Width, item.Progress, item.MaxValue);
    s.FillRect(0, band.Top, w, band.Bottom,
               isCursor ? m.ColorCursorProgressForeground : m.ColorNormalProgressForeground);
    s.FillRect(w, band.Top, f.Width, band.Bottom,
               isCursor ? m.ColorCursorProgressBackground : m.ColorNormalProgressBackground);
    return;
  }
  if (isCursor) {
    s.FillRect(0, band.Top, f.Width, band.Bottom,
               f.Focused ? kColorFocusedCursor : kColorUnfocusedCursor);
    return;
  }
  s.FillRect(0, band.Top, f.Width, band.Bottom, kColorBackground);
  int x = 0;
  for (int w : f.SectionWidths) {
    x += w;
    s.FillRect(x, band.Top, x + 1, band.Bottom, kColorBacklines);
  }
}

void DrawCells(TListSurface& s, const TListFrame& f, const TCoolViewItem& item, bool isCursor,
               const TRowBand& band) {
  const TCoolItemsList& m = *f.Model;
  const int top = band.TextLine - f.TextMargin;
  int x = 4;
  for (std::size_t col = 0; col < f.SectionWidths.size(); ++col) {
    const int width = f.SectionWidths[col];
    // A row or type list shorter than the header leaves the missing cells empty.
    if (col < item.Values.size() && col < item.Colors.size() && col < m.Types.size()) {
      const TColorRef color = item.Colors[col].Pick(isCursor, item.Selected);
      const std::uint32_t code = m.Types[col];
      const std::string text = FormatCellText(code, item.Values[col]);
      if (IsHexFieldType(code)) {
        for (const TPlacedText& p : LayoutHexCell(code, text, x, width, f.Gaps, s))
          s.Text(p.X, top, p.Text, color);
      } else if (!text.empty()) {
        s.Text(x, top, FitPlainText(text, s.FitCount(text, width - 4)), color);
      }
    }
    x += width;
  }
}

}  // namespace

void DrawList(TListSurface& s, const TListFrame& f) {
  s.FillRect(0, 0, f.Width, f.Height, kColorBackground);
  int x = 0;
  for (int w : f.SectionWidths) {
    x += w;
    s.FillRect(x, 0, x + 1, f.Height, kColorBacklines);
  }
  for (int i = 1; i <= f.WholeLines; ++i)
    s.FillRect(0, i * f.RowPitch, f.Width, i * f.RowPitch + 1, kColorBacklines);

  const int count = UsableRows(f.Model);
  const int rows = RowsToDraw(f.BarEnabled, f.WholeLines, count);
  for (int k = 0; k < rows; ++k) {
    const int row = f.TopRow + k;
    if (row < 0 || row >= count) break;
    const TRowBand band = RowBandOf(k, f.RowPitch);
    if (band.Top >= f.Height) break;  // only rows on screen are formatted
    const TCoolViewItem& item = f.Model->Items[static_cast<std::size_t>(row)];
    const bool isCursor = row == f.Cursor;
    DrawRowBackground(s, f, item, isCursor, band);
    DrawCells(s, f, item, isCursor, band);
  }
}

}  // namespace orvella
