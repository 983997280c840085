#include "ui/ListSurface.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <algorithm>

#include "files/Utf8Text.h"
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

void TImageSurface::Text(int x, int top, const std::string& text, TColorRef color) {
  fPainter.setPen(ColorFromRef(color));
  // QPainter places text by its baseline; the list places it by the cell's top.
  fPainter.drawText(x, top + fMetrics.ascent(), QString::fromStdString(text));
}

int TImageSurface::TextWidth(const std::string& text) const {
  return fMetrics.horizontalAdvance(QString::fromStdString(text));
}

int TImageSurface::FitCount(const std::string& text, int width) const {
  const auto n = static_cast<int>(Utf8Length(text));
  for (int i = 1; i <= n; ++i) {
    const std::string prefix = text.substr(0, Utf8Offset(text, static_cast<std::size_t>(i)));
    if (fMetrics.horizontalAdvance(QString::fromStdString(prefix)) > width) return i - 1;
  }
  return n;
}

QFont ListFontFor(const QString& face, int cellHeight) {
  // A heap copy: Qt's process-wide font cache keeps family names after the plug-in is
  // unloaded, and a literal's text would go with the library.
  const QString name(face.constData(), std::min<qsizetype>(face.size(), 31));
  QFont font(name);
  MakePlain(font);

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
  if (!available) font = PlainFixedFont();
  if (cellHeight > 0) FitCellHeight(font, cellHeight);
  return font;
}

}  // namespace orvella
