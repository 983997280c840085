#include "ui/ListDrawing.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <algorithm>

#include "ui/CellFont.h"
#include "ui/Colors.h"

namespace orvella {

TImageSurface::TImageSurface(QImage& image, const QFont& font)
    : fPainter(&image), fMetrics(font, &image) {
  fPainter.setFont(font);
}

void TImageSurface::FillRect(int left, int top, int right, int bottom, TColorRef color) {
  if (right <= left || bottom <= top) return;
  fPainter.fillRect(QRect(left, top, right - left, bottom - top), ColorFromRef(color));
}

void TImageSurface::Text(int x, int top, const QString& text, TColorRef color) {
  fPainter.setPen(ColorFromRef(color));
  // QPainter places text by its baseline; the list places it by the cell's top.
  fPainter.drawText(x, top + fMetrics.ascent(), text);
}

int TImageSurface::TextWidth(const QString& text) const { return fMetrics.horizontalAdvance(text); }

int TImageSurface::FitCount(const QString& text, int width) const {
  const auto n = static_cast<int>(text.size());
  for (int i = 1; i <= n; ++i)
    if (fMetrics.horizontalAdvance(text.left(i)) > width) return i - 1;
  return n;
}

int UsableRows(const TCoolItemsList* model) {
  if (model == nullptr || model->Count <= 0) return 0;
  const auto held = static_cast<std::int64_t>(model->Items.size());
  return static_cast<int>(std::min<std::int64_t>(model->Count, held));
}

std::vector<TPlacedText> LayoutHexCell(std::uint32_t typeCode, const std::string& cell, int x,
                                       int sectionWidth, const TExtraWidths& gaps,
                                       const TListSurface& metrics) {
  std::vector<TPlacedText> out;
  const QString ellipsis = QStringLiteral("...");
  const int budget = sectionWidth - (metrics.TextWidth(ellipsis) + 16);
  int used = 0;

  // Places one piece unless it breaks the budget; then the cell ends in "...".
  auto place = [&](const QString& piece, int gap) {
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
        if (!place(QString(QLatin1Char(c)), 0)) return out;
      continue;
    }
    if (!place(QStringLiteral("0x"), 0)) return out;
    const std::string_view digits = FieldDigits(cell, piece.Field, piece.Digits);
    for (std::size_t i = 0; i < digits.size(); ++i) {
      const int gap = i < gaps.size() ? gaps[i] : 0;
      if (!place(QString(QLatin1Char(digits[i])), gap)) return out;
    }
  }
  return out;
}

QString FitPlainText(const QString& text, int fit) {
  if (fit >= text.size()) return text;
  return text.left(std::max(fit - 3, 0)) + QStringLiteral("...");
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
        const QString q = QString::fromStdString(text);
        s.Text(x, top, FitPlainText(q, s.FitCount(q, width - 4)), color);
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

QFont ListFontFor(const QString& face, int cellHeight) {
  // A heap copy: Qt's process-wide font cache keeps family names after the plug-in is
  // unloaded, and a literal's text would go with the library.
  const QString name(face.constData(), std::min<qsizetype>(face.size(), 31));
  QFont font(name);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);

  bool available = false;
  if (!name.isEmpty()) {
    const QFontInfo info(font);
    available = info.exactMatch() || QFontDatabase::hasFamily(name) ||
                info.family().compare(name, Qt::CaseInsensitive) == 0;
    if (!available) {
      // The platform may stand a metric-compatible face in for the one asked for; a face
      // it does not know at all resolves like a name that cannot exist.
      QFont probe(font);
      probe.setFamilies({QString::fromLatin1("orvella-no-such-face-3f1c9a")});
      available = QFontInfo(probe).family() != info.family();
    }
  }
  if (!available) {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setWeight(QFont::Normal);
  }
  if (cellHeight > 0) FitCellHeight(font, cellHeight);
  return font;
}

}  // namespace orvella
