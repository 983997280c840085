#pragma once
// The paint event of the list's and the hex view's paint boxes: it copies the retained
// surface the view drew and returns.

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QWidget>

#include "ui/Colors.h"
#include "ui/ViewColors.h"

namespace orvella {

// Shows `surface` in `box` within `area`: the picture where it reaches, the views'
// background colour elsewhere.
inline void PaintRetained(QWidget& box, const QImage& surface, const QRect& area) {
  QPainter painter(&box);
  if (surface.isNull() || !surface.rect().contains(area))
    painter.fillRect(area, ColorFromRef(kColorBackground));
  if (!surface.isNull()) painter.drawImage(0, 0, surface);
}

}  // namespace orvella
