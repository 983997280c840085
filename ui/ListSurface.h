#pragma once
// The partition list's drawing surface on a Qt image, and its font.

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <string>

#include "ui/ListDrawing.h"

namespace orvella {

// A surface on a QImage, drawing text in one font.
class TImageSurface final : public TListSurface {
 public:
  TImageSurface(QImage& image, const QFont& font);
  void FillRect(int left, int top, int right, int bottom, TColorRef color) override;
  void Text(int x, int top, const std::string& text, TColorRef color) override;
  int TextWidth(const std::string& text) const override;
  int FitCount(const std::string& text, int width) const override;

 private:
  QPainter fPainter;
  QFontMetrics fMetrics;
};

// The list font: face `face` (31 characters at most), plain (CellFont.h), at the size
// whose character cell is `cellHeight` pixels high; the platform's fixed-pitch font so
// sized when the face is not available.
QFont ListFontFor(const QString& face, int cellHeight);

}  // namespace orvella
