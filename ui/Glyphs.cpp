#include "ui/Glyphs.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace orvella {

namespace {

const QColor kOutline(0x30, 0x30, 0x30);
const QColor kGreen(0x20, 0x9A, 0x3C);
const QColor kBlue(0x20, 0x50, 0xC0);
const QColor kNavy(0x10, 0x20, 0x70);
const QColor kRed(0xD0, 0x20, 0x20);
const QColor kOrange(0xF0, 0x90, 0x20);

QPolygonF Poly(std::initializer_list<QPointF> points) { return QPolygonF(QList<QPointF>(points)); }

void ArrowDownIntoTray(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawRect(QRectF(6, 1, 4, 6));
  p.drawPolygon(Poly({{2.5, 6.5}, {13.5, 6.5}, {8, 12}}));
  p.setPen(QPen(kOutline, 2));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(Poly({{2, 10}, {2, 14.5}, {14, 14.5}, {14, 10}}));
}

// A page with a main-data band above and a spare-data band below.
void DataPage(QPainter& p, bool mainFilled, bool spareFilled) {
  p.setPen(QPen(kOutline, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(2.5, 0.5, 11, 15));
  p.setBrush(mainFilled ? QBrush(kBlue) : QBrush(Qt::NoBrush));
  p.setPen(QPen(kBlue, 1));
  p.drawRect(QRectF(4.5, 2.5, 7, 7));
  p.setBrush(spareFilled ? QBrush(kOrange) : QBrush(Qt::NoBrush));
  p.setPen(QPen(kOrange.darker(130), 1));
  p.drawRect(QRectF(4.5, 11.5, 7, 2));
}

void Eraser(QPainter& p) {
  p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
  p.drawLine(QPointF(1, 15.5), QPointF(15, 15.5));
  p.translate(8, 8);
  p.rotate(-45);
  p.setPen(QPen(kOutline, 1));
  p.setBrush(QColor(0xE8, 0x68, 0x8C));
  p.drawRect(QRectF(-7, -3.5, 8, 7));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1, -3.5, 6, 7));
}

void Bolt(QPainter& p) {
  p.setPen(QPen(QColor(0x80, 0x50, 0x00), 1));
  p.setBrush(QColor(0xFF, 0xD0, 0x20));
  p.drawPolygon(Poly({{9.5, 0.5}, {2.5, 9.5}, {7, 9.5}, {5, 15.5}, {13.5, 6}, {9, 6}, {11.5, 0.5}}));
}

void StopSquare(QPainter& p) {
  p.setPen(QPen(kRed.darker(150), 1));
  p.setBrush(kRed);
  p.drawRect(QRectF(2.5, 2.5, 11, 11));
}

void Magnifier(QPainter& p) {
  p.setPen(QPen(QColor(0x70, 0x40, 0x10), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
  p.setPen(QPen(kOutline, 1.5));
  p.setBrush(QColor(0xC8, 0xE4, 0xFF));
  p.drawEllipse(QPointF(6.5, 6.5), 5, 5);
}

void SwapArrows(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRect(QRectF(1, 3, 9, 2));
  p.drawPolygon(Poly({{10, 0.5}, {15, 4}, {10, 7.5}}));
  p.setBrush(kRed);
  p.drawRect(QRectF(6, 11, 9, 2));
  p.drawPolygon(Poly({{6, 8.5}, {1, 12}, {6, 15.5}}));
}

void Tag(QPainter& p) {
  p.setPen(QPen(QColor(0x80, 0x60, 0x10), 1));
  p.setBrush(QColor(0xFF, 0xE8, 0x90));
  p.drawPolygon(Poly({{0.5, 8}, {5.5, 3.5}, {15.5, 3.5}, {15.5, 12.5}, {5.5, 12.5}}));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(5, 8), 1.5, 1.5);
  p.drawLine(QPointF(8.5, 6.5), QPointF(13.5, 6.5));
  p.drawLine(QPointF(8.5, 9.5), QPointF(12.5, 9.5));
}

void MarkBox(QPainter& p) {
  p.setPen(QPen(kOutline, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1.5, 1.5, 13, 13));
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawRect(QRectF(7, 4, 2, 8));
  p.drawRect(QRectF(4, 7, 8, 2));
}

void List(QPainter& p) {
  for (int y : {2, 7, 12}) {
    p.setPen(Qt::NoPen);
    p.setBrush(kNavy);
    p.drawRect(QRectF(1, y, 3, 3));
    p.setBrush(kBlue);
    p.drawRect(QRectF(6, y + 0.5, 9, 2));
  }
}

void Measure(QPainter& p) {
  p.setPen(QPen(kNavy, 1));
  p.drawLine(QPointF(1.5, 4), QPointF(1.5, 12));
  p.drawLine(QPointF(14.5, 4), QPointF(14.5, 12));
  p.drawLine(QPointF(3, 8), QPointF(13, 8));
  p.setPen(Qt::NoPen);
  p.setBrush(kNavy);
  p.drawPolygon(Poly({{2.5, 8}, {6, 5}, {6, 11}}));
  p.drawPolygon(Poly({{13.5, 8}, {10, 5}, {10, 11}}));
}

void Chip(QPainter& p) {
  p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
  for (int y = 4; y <= 12; y += 3) {
    p.drawLine(QPointF(0.5, y + 0.5), QPointF(3.5, y + 0.5));
    p.drawLine(QPointF(12.5, y + 0.5), QPointF(15.5, y + 0.5));
  }
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(0x40, 0x40, 0x48));
  p.drawRect(QRectF(3.5, 2.5, 9, 12));
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawPolygon(Poly({{8, 12}, {5, 8}, {7, 8}, {7, 5}, {9, 5}, {9, 8}, {11, 8}}));
}

void AddressBrackets(QPainter& p) {
  p.setPen(QPen(kNavy, 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(Poly({{4.5, 1.5}, {1.5, 1.5}, {1.5, 14.5}, {4.5, 14.5}}));
  p.drawPolyline(Poly({{11.5, 1.5}, {14.5, 1.5}, {14.5, 14.5}, {11.5, 14.5}}));
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawRect(QRectF(5, 7, 2, 2));
  p.drawRect(QRectF(9, 7, 2, 2));
}

void HexBadge(QPainter& p) {
  p.setPen(QPen(kNavy, 1));
  p.setBrush(QColor(0xE4, 0xEC, 0xFF));
  p.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 2, 2);
  // Not a literal: Qt's font cache keeps the family name after the plug-in is unloaded.
  QFont f(QString::fromLatin1("Liberation Sans"));
  f.setPixelSize(10);
  f.setBold(true);
  p.setFont(f);
  p.setPen(kNavy);
  p.drawText(QRectF(0, 2, 16, 12), Qt::AlignCenter, QStringLiteral("0x"));
}

// Spare pictures: plain shapes in distinct colours, so every index shows something.
void SpareShape(QPainter& p, int index) {
  static const QColor kPalette[] = {
      QColor(0x3A, 0x7C, 0xC8), QColor(0x2E, 0x9E, 0x5A), QColor(0xC8, 0x7A, 0x1E),
      QColor(0x8E, 0x4E, 0xC0), QColor(0xC0, 0x3C, 0x3C), QColor(0x1E, 0x9A, 0xA8),
      QColor(0x70, 0x70, 0x70)};
  const QColor c = kPalette[index % 7];
  p.setPen(QPen(c.darker(160), 1));
  p.setBrush(c);
  switch (index % 5) {
    case 0: p.drawEllipse(QPointF(8, 8), 6, 6); break;
    case 1: p.drawPolygon(Poly({{8, 1.5}, {14.5, 8}, {8, 14.5}, {1.5, 8}})); break;
    case 2: p.drawPolygon(Poly({{8, 2}, {14.5, 14}, {1.5, 14}})); break;
    case 3: p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 3, 3); break;
    default:
      p.drawPolygon(Poly({{4.5, 2}, {11.5, 2}, {15, 8}, {11.5, 14}, {4.5, 14}, {1, 8}}));
      break;
  }
}

}  // namespace

QPixmap DrawGlyph(int index) {
  QPixmap pm(kGlyphSize, kGlyphSize);
  pm.fill(Qt::transparent);
  if (index < 0 || index >= kGlyphCount) return pm;
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case GlyphReadMain: ArrowDownIntoTray(p); break;
    case GlyphSaveFull: DataPage(p, true, true); break;
    case GlyphSaveSpare: DataPage(p, false, true); break;
    case GlyphErase: Eraser(p); break;
    case GlyphFlash: Bolt(p); break;
    case GlyphStop: StopSquare(p); break;
    case GlyphBlankCheck: Magnifier(p); break;
    case GlyphInvert: SwapArrows(p); break;
    case GlyphName: Tag(p); break;
    case GlyphSelected: MarkBox(p); break;
    case GlyphList: List(p); break;
    case GlyphSize: Measure(p); break;
    case GlyphDevice: Chip(p); break;
    case GlyphAddress: AddressBrackets(p); break;
    case GlyphHex: HexBadge(p); break;
    default: SpareShape(p, index); break;
  }
  return pm;
}

TGlyphList::TGlyphList() {
  fPixmaps.reserve(kGlyphCount);
  for (int i = 0; i < kGlyphCount; ++i) fPixmaps.push_back(DrawGlyph(i));
}

QIcon TGlyphList::Icon(int index) const {
  if (index < 0 || index >= Count()) return QIcon();
  return QIcon(fPixmaps[static_cast<std::size_t>(index)]);
}

QPixmap TGlyphList::Pixmap(int index) const {
  if (index < 0 || index >= Count()) return QPixmap();
  return fPixmaps[static_cast<std::size_t>(index)];
}

}  // namespace orvella
