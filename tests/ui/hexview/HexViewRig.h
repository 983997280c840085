#pragma once
// A hex view on its own controls, sized in character cells measured as the view
// measures them, with helpers to click, drag, scroll and read pixels.

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWidget>

#include <memory>

#include "ui/HEXView.h"

namespace orvella::hextest {

// The character cell of the view: "0" in the application's standard font.
inline HexGeometry MeasuredCell() {
  const QFontMetrics fm(QGuiApplication::font());
  return {fm.horizontalAdvance(QLatin1Char('0')), fm.height()};
}

class ViewRig {
 public:
  static constexpr int kStrip = 4;
  static constexpr int kBar = 17;

  // A paint box `lines` whole lines high plus `extraPixels`, wide enough for all columns.
  explicit ViewRig(int lines, int extraPixels = 0) : g(MeasuredCell()) {
    const int w = g.CharX(16) + 4 * g.cx;
    const int h = lines * g.cy + extraPixels;
    box.setGeometry(0, 0, kStrip + w + kBar, h);
    paint = new QWidget(&box);
    paint->setGeometry(kStrip, 0, w, h);
    bar = new QScrollBar(Qt::Vertical, &box);
    bar->setGeometry(kStrip + w, 0, kBar, h);
    view = std::make_unique<THEXView>(nullptr, &box, paint, bar);
  }
  ~ViewRig() { view.reset(); }

  // Presses and releases of `button`; moves with the left button held.
  void Mouse(QEvent::Type type, QPoint p, Qt::MouseButton button = Qt::LeftButton) {
    Qt::MouseButtons held = Qt::LeftButton;
    if (type == QEvent::MouseButtonRelease) held = Qt::NoButton;
    if (type == QEvent::MouseButtonPress) held = button;
    if (type == QEvent::MouseMove) button = Qt::NoButton;
    QMouseEvent e(type, QPointF(p), QPointF(paint->mapToGlobal(p)), button, held,
                  Qt::NoModifier);
    QApplication::sendEvent(paint, &e);
  }
  void Click(QPoint p) {
    Mouse(QEvent::MouseButtonPress, p);
    Mouse(QEvent::MouseButtonRelease, p);
  }
  void Drag(QPoint from, QPoint to) {
    Mouse(QEvent::MouseButtonPress, from);
    Mouse(QEvent::MouseMove, to);
    Mouse(QEvent::MouseButtonRelease, to);
  }
  // Middle of byte k's hex digits, or of its character, on screen line `line`.
  QPoint HexPoint(int k, int line) const { return {g.HexX(k) + g.cx, line * g.cy + g.cy / 2}; }
  QPoint CharPoint(int k, int line) const { return {g.CharX(k) + 1, line * g.cy + g.cy / 2}; }

  // A wheel turn over the paint box, which passes it on to the scroll box.
  void Wheel(int angle) {
    const QPoint at = paint->mapTo(&box, HexPoint(0, 0));
    QWheelEvent e(QPointF(at), QPointF(box.mapToGlobal(at)), QPoint(), QPoint(0, angle),
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&box, &e);
  }
  void Action(QAbstractSlider::SliderAction a) { bar->triggerAction(a); }

  const HexGeometry g;
  QWidget box;
  QWidget* paint = nullptr;
  QScrollBar* bar = nullptr;
  std::unique_ptr<THEXView> view;
};

inline bool IsBlack(QRgb c) { return (c & 0xFFFFFF) == 0; }
inline bool IsWhite(QRgb c) { return (c & 0xFFFFFF) == 0xFFFFFF; }

// Length of the run of black pixels on row y starting at x.
inline int BlackRun(const QImage& img, int x, int y) {
  int n = 0;
  while (x + n < img.width() && IsBlack(img.pixel(x + n, y))) ++n;
  return n;
}

inline bool AllWhite(const QImage& img, const QRect& r) {
  const QRect c = r.intersected(img.rect());
  for (int y = c.top(); y <= c.bottom(); ++y)
    for (int x = c.left(); x <= c.right(); ++x)
      if (!IsWhite(img.pixel(x, y))) return false;
  return true;
}

inline bool HasColour(const QImage& img, const QRect& r, const QColor& colour) {
  const QRect c = r.intersected(img.rect());
  for (int y = c.top(); y <= c.bottom(); ++y)
    for (int x = c.left(); x <= c.right(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) == (colour.rgb() & 0xFFFFFF)) return true;
  return false;
}

}  // namespace orvella::hextest
