#include "ui/CellFont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>

#include <algorithm>

namespace orvella {

QSize CharacterCell(const QFont& font) {
  // The views draw on QImages; measured on one, the cell is what they paint.
  QImage surface(1, 1, QImage::Format_RGB32);
  const QFontMetrics fm(font, &surface);
  return {fm.horizontalAdvance(QLatin1Char('0')), fm.ascent() + fm.descent()};
}

bool FitCellHeight(QFont& font, int cellHeight) {
  const int wanted = std::max(cellHeight, 1);
  // A cell is taller than the em size in every common face; twice the height is a
  // generous start for the rest. The cell never shrinks as the size grows.
  for (int pixels = 2 * wanted; pixels >= 1; --pixels) {
    font.setPixelSize(pixels);
    const int height = CharacterCell(font).height();
    if (height <= wanted || pixels == 1) return height == wanted;
  }
  return false;
}

QFont CellFont(const QList<QFont>& candidates, int cellHeight) {
  if (candidates.isEmpty()) return {};
  for (QFont font : candidates)
    if (FitCellHeight(font, cellHeight)) return font;
  QFont first = candidates.front();
  FitCellHeight(first, cellHeight);
  return first;
}

void MakePlain(QFont& font) {
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
}

QFont PlainFixedFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  MakePlain(font);
  return font;
}

}  // namespace orvella
