#include "ui/HEXView.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStringList>
#include <QStyleHints>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <array>
#include <climits>

#include "ui/CellFont.h"

namespace orvella {

namespace {

// Like the platform's text caret, there is one per process: showing it in one view
// takes it from the other.
THEXView* g_caretOwner = nullptr;

constexpr int kCaretWidth = 2;
constexpr int kWheelNotch = 120;

QFont CreateViewFont(const char* faceName, int cellHeight) {
  // The face and size whose character cell is `cellHeight` high. For the Courier faces
  // the stand-ins are tried in turn, fontconfig alone would pick whatever it aliases
  // them to: Liberation Mono, then DejaVu Sans Mono, whose sizes give other cell heights.
  // Without any of them the system's fixed font is used.
  const QString face = QString::fromLatin1(faceName);
  // Family names are heap copies, never literals: Qt's process-wide font cache keeps them
  // after the plug-in is unloaded.
  QStringList families;
  if (face.startsWith(QLatin1String("Courier")))
    families << QString::fromLatin1("Liberation Mono") << QString::fromLatin1("DejaVu Sans Mono");
  families << face;
  QList<QFont> candidates;
  for (const QString& family : families)
    if (QFontDatabase::hasFamily(family)) candidates << QFont(family);
  if (candidates.isEmpty()) candidates << QFontDatabase::systemFont(QFontDatabase::FixedFont);
  for (QFont& font : candidates) {
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    // Crisp glyphs in the two byte colours, as a bitmap surface of the platform gives.
    font.setStyleStrategy(QFont::NoAntialias);
  }
  return CellFont(candidates, cellHeight);
}

const std::array<QString, 256>& HexTexts() {
  static const std::array<QString, 256> texts = [] {
    std::array<QString, 256> t;
    for (int b = 0; b < 256; ++b) t[b] = QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return t;
  }();
  return texts;
}

const std::array<QString, 256>& CharTexts() {
  static const std::array<QString, 256> texts = [] {
    std::array<QString, 256> t;
    for (int b = 0; b < 256; ++b) t[b] = HexCharText(static_cast<std::uint8_t>(b));
    return t;
  }();
  return texts;
}

int ClampToInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN / 2, INT_MAX / 2));
}

}  // namespace

QColor HexColorFromRef(TColorRef ref) {
  return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                static_cast<int>((ref >> 16) & 0xFF));
}

QString HexCharText(std::uint8_t b) {
  // Control characters (C0, DEL and C1) have no glyph of their own.
  if (b < 0x20 || (b >= 0x7F && b <= 0x9F)) return QStringLiteral(".");
  return QString(QChar(static_cast<char16_t>(b)));
}

THEXView::THEXView(QObject* owner, QWidget* scrollBox, QWidget* paintBox,
                   QScrollBar* scrollBar)
    : QObject(owner), MyPanel(scrollBox), MyPaint(paintBox), MyScroll(scrollBar) {
  MainFn = CreateViewFont(kFontName, kFontHeight);
  fAscent = QFontMetrics(MainFn).ascent();

  if (MyPaint) {
    MyPaint->installEventFilter(this);
    // The surface covers every pixel; nothing needs erasing first.
    MyPaint->setAttribute(Qt::WA_OpaquePaintEvent);
  }
  if (MyPanel) {
    MyPanel->installEventFilter(this);
    fCaret = new QWidget(MyPanel);  // owned by the scroll box
    fCaret->setObjectName(QStringLiteral("Caret"));
    fCaret->setAttribute(Qt::WA_TransparentForMouseEvents);
    fCaret->setAutoFillBackground(true);
    QPalette pal = fCaret->palette();
    pal.setColor(QPalette::Window, Qt::black);
    fCaret->setPalette(pal);
    fCaret->hide();
  }
  if (MyScroll) {
    MyScroll->setProperty("Tag", 0);
    connect(MyScroll, &QScrollBar::actionTriggered, this, &THEXView::OnScrollAction);
    connect(MyScroll, &QScrollBar::sliderReleased, this, &THEXView::OnScrollReleased);
  }

  const int flash = QGuiApplication::styleHints()->cursorFlashTime();
  fBlink.setInterval(flash > 0 ? flash / 2 : 0);
  connect(&fBlink, &QTimer::timeout, this, &THEXView::BlinkCaret);

  Relayout();
}

THEXView::~THEXView() {
  if (g_caretOwner == this) g_caretOwner = nullptr;
}

THEXView* THEXView::CaretOwner() { return g_caretOwner; }

void THEXView::InitializeViewData(const QString& fileName, std::int64_t fileOffset,
                                  std::int64_t chunkLength) {
  InitializeViewData(fileName.toStdString(), fileOffset, chunkLength);
}

void THEXView::InitializeViewData(const std::string& fileName, std::int64_t fileOffset,
                                  std::int64_t chunkLength) {
  CAddrs = 0;
  RAddrs = 0;
  BlBegs = BlEnds = -1;
  fBlockMarked = false;
  if (MyScroll) {
    SetBusy(true);
    MyScroll->setValue(0);
    SetBusy(false);
  }
  // A missing file or a chunk past the file's end leaves the window empty.
  fData.attach(fileName, fileOffset, chunkLength);
  HideCaret();
  Relayout();
}

int THEXView::Position() const { return MyScroll ? MyScroll->value() : 0; }

int THEXView::MaxPosition() const { return std::max(fMaximum - DebugLines, 0); }

void THEXView::Relayout() {
  // The caret is made anew for the new cell, hidden, at the start of the hex column.
  if (g_caretOwner == this) LoseCaret();

  const int w = MyPaint ? MyPaint->width() : 0;
  const int h = MyPaint ? MyPaint->height() : 0;

  // The cell is measured with the application's standard font, not the view's.
  const QFontMetrics fm(QGuiApplication::font());
  fCell.cx = std::max(fm.horizontalAdvance(QLatin1Char('0')), 1);
  fCell.cy = std::max(fm.height(), 1);
  DebugLines = h / fCell.cy;
  CaretH = FontHeight = fCell.cy;

  ChildsCaret = QPoint(8 * fCell.cx + 10, 0);
  if (fCaret) {
    fCaret->resize(kCaretWidth, CaretH);
    fCaret->move(ChildsCaret);
  }

  if (w > 0 && h > 0) {
    MainBP = QImage(w, h, QImage::Format_RGB32);
  } else {
    MainBP = QImage();
  }

  SetupScrollRange();
  PaintAt(CAddrs);
}

void THEXView::SetupScrollRange() {
  const std::int64_t length = ChunkLength();
  std::int64_t lines = length / 16 + (length % 16 != 0 ? 1 : 0);
  // A scroll bar counts in int; chunks of this system stay far below that many lines.
  lines = std::min<std::int64_t>(lines, INT_MAX / 2);
  fMaximum = static_cast<int>(lines);
  const int visible = DebugLines;
  if (!MyScroll) {
    CAddrs = 0;
    return;
  }
  SetBusy(true);
  MyScroll->show();
  if (visible >= fMaximum) {
    MyScroll->setRange(0, 0);
    MyScroll->setValue(0);
    MyScroll->setEnabled(false);
  } else {
    // Qt's maximum is the largest top line: the range maximum less the page.
    MyScroll->setSingleStep(1);
    MyScroll->setPageStep(visible);
    MyScroll->setRange(0, fMaximum - visible);
    MyScroll->setEnabled(true);
  }
  SetBusy(false);
  // The bar has clamped the position; the top line follows it.
  CAddrs = static_cast<std::int64_t>(MyScroll->value()) * 16;
}

void THEXView::PaintAt(std::int64_t top) {
  if (MainBP.isNull()) return;
  DrawSurface(top);
  if (MyPaint) MyPaint->update();
}

void THEXView::DrawSurface(std::int64_t top) {
  const int w = MainBP.width();
  const int h = MainBP.height();
  const int cx = fCell.cx;
  const int cy = fCell.cy;
  const std::int64_t length = ChunkLength();

  // A failed or impossible read leaves the bytes held before; those are painted and
  // the rest of the chunk shows blank cells.
  fData.load(top, static_cast<std::int64_t>(DebugLines + 1) * BytesInLine);
  if (BlEnds < BlBegs) std::swap(BlBegs, BlEnds);

  QPainter p(&MainBP);
  p.fillRect(0, 0, w, h, HexColorFromRef(kBackground));
  p.setPen(HexColorFromRef(kGridLines));
  for (const int x : {fCell.L1(), fCell.L2(), w - 1}) p.drawLine(x, 0, x, h - 1);

  p.setFont(MainFn);
  const QColor address = HexColorFromRef(kAddressText);
  const QColor even = HexColorFromRef(kEvenByteText);
  const QColor odd = HexColorFromRef(kOddByteText);
  const QColor blockBack = HexColorFromRef(kBlockBackground);
  const QColor blockText = HexColorFromRef(kBlockText);
  const auto& hexTexts = HexTexts();
  const auto& charTexts = CharTexts();

  std::int64_t lineAddr = top;
  for (int y = 0; y < h; y += cy, lineAddr += BytesInLine) {
    if (lineAddr >= length) break;  // blank address, hex and character cells
    const int baseline = y + fAscent;
    p.setPen(address);
    p.drawText(0, baseline,
               QStringLiteral("%1").arg(lineAddr, BytesInAddr, 16, QLatin1Char('0')).toUpper());
    for (int k = 0; k < BytesInLine; ++k) {
      const std::int64_t a = lineAddr + k;
      if (a >= length) break;
      const bool inBlock = fBlockMarked && a >= BlBegs && a <= BlEnds;
      if (inBlock) {
        p.fillRect(fCell.HexX(k), y, fCell.HexBoxWidth(a, BlEnds), cy, blockBack);
        p.fillRect(fCell.CharX(k), y, cx, cy, blockBack);
      }
      std::uint8_t b = 0;
      if (!fData.byteAt(a, b)) continue;
      p.setPen(inBlock ? blockText : (a % 2 == 0 ? even : odd));
      p.drawText(fCell.HexX(k), baseline, hexTexts[b]);
      p.drawText(fCell.CharX(k), baseline, charTexts[b]);
    }
  }
}

void THEXView::ScrollTo(int position) {
  HideCaret();
  CAddrs = static_cast<std::int64_t>(position) * 16;
  PaintAt(CAddrs);
  if (!fBlockMarked) {
    ShowCaret();
    PlaceCaret(false);
  }
}

void THEXView::OnScrollAction(int action) {
  if (!MyScroll || IsBusy() || action == QAbstractSlider::SliderNoAction) return;
  if (MyPanel) MyPanel->setFocus(Qt::OtherFocusReason);
  const int q = std::clamp(MyScroll->sliderPosition(), 0, MaxPosition());
  SetBusy(true);
  MyScroll->setValue(q);
  SetBusy(false);
  ScrollTo(q);
}

void THEXView::OnScrollReleased() {
  if (!MyScroll || IsBusy()) return;
  if (MyPanel) MyPanel->setFocus(Qt::OtherFocusReason);
  const int q = std::clamp(MyScroll->sliderPosition(), 0, MaxPosition());
  SetBusy(true);
  MyScroll->setValue(q);
  // The thumb returns to the line actually shown; nothing is repainted.
  MyScroll->setValue(static_cast<int>(CAddrs / 16));
  SetBusy(false);
}

void THEXView::OnWheel(int angleDelta) {
  // High-resolution wheels report fractions of a notch; a step is a whole notch.
  fWheelDelta += angleDelta;
  while (fWheelDelta >= kWheelNotch || fWheelDelta <= -kWheelNotch) {
    int position = Position();
    if (fWheelDelta > 0) {
      fWheelDelta -= kWheelNotch;
      position = position <= kWheelLines - 1 ? 0 : position - kWheelLines;
    } else {
      fWheelDelta += kWheelNotch;
      position = std::min(position + kWheelLines, MaxPosition());
    }
    if (MyScroll) {
      SetBusy(true);
      MyScroll->setValue(position);
      SetBusy(false);
    }
    ScrollTo(position);
  }
}

void THEXView::MouseDown(Qt::MouseButton button, QPoint p) {
  if (MyPanel) MyPanel->setFocus(Qt::MouseFocusReason);
  if (button != Qt::LeftButton || MouseDowned) return;
  DownX = p.x();
  DownY = p.y();
  OldX = OldY = -1;
  if (fBlockMarked) {
    BlBegs = BlEnds = -1;
    fBlockMarked = false;
    PaintAt(CAddrs);
  }
  const HexHit hit = fCell.HitTest(p.x(), p.y());
  if (CAddrs + hit.Offset >= ChunkLength()) return;
  HideCaret();
  CarPos = hit.InCharColumn ? 1 : 0;
  PaintAt(CAddrs);
  RAddrs = CAddrs + hit.Offset;
  ShowCaret();
  PlaceCaret(true);
  TempBBeg = RAddrs;
  MouseDowned = true;
}

void THEXView::MouseMove(QPoint p) {
  if (!MouseDowned || ChunkLength() == 0) return;
  if (p.x() == DownX && p.y() == DownY) return;
  if (!fBlockMarked) {
    fBlockMarked = true;
    BlBegs = TempBBeg;
    BlEnds = TempBBeg;
    HideCaret();
  }
  const std::int64_t pointer = CAddrs + fCell.HitTest(p.x(), p.y()).Offset;
  std::int64_t beg = TempBBeg;
  std::int64_t end = pointer;
  if (pointer < TempBBeg) {
    beg = pointer;
    end = TempBBeg - 1;
  }
  if (beg != OldX || end != OldY) {
    BlBegs = beg;
    BlEnds = end;
    RAddrs = pointer;
    PaintAt(CAddrs);
    OldX = beg;
    OldY = end;
  }
}

bool THEXView::CaretShown() const { return g_caretOwner == this; }

QPoint THEXView::CaretPosition() const {
  return (CaretShown() && fCaret) ? fCaret->pos() : ChildsCaret;
}

void THEXView::HideCaret() {
  if (g_caretOwner == this) LoseCaret();
}

void THEXView::LoseCaret() {
  if (fCaret) {
    ChildsCaret = fCaret->pos();
    fCaret->hide();
  }
  fBlink.stop();
  if (g_caretOwner == this) g_caretOwner = nullptr;
}

void THEXView::ShowCaret() {
  if (!fCaret || ChunkLength() == 0 || fBlockMarked) return;
  if (g_caretOwner && g_caretOwner != this) g_caretOwner->LoseCaret();
  g_caretOwner = this;
  fCaret->resize(kCaretWidth, CaretH);
  fCaret->move(ChildsCaret);
  fCaret->raise();
  fCaret->show();
  if (fBlink.interval() > 0) fBlink.start();
}

void THEXView::PlaceCaret(bool scrollToIt) {
  // Both addresses are non-negative, so whole lines come from plain division.
  std::int64_t line = RAddrs / 16 - CAddrs / 16;
  const int column = static_cast<int>(RAddrs % 16);
  if (scrollToIt && (line < 0 || line >= DebugLines)) {
    const int position =
        static_cast<int>(std::clamp<std::int64_t>(RAddrs / 16, 0, MaxPosition()));
    if (MyScroll) {
      SetBusy(true);
      MyScroll->setValue(position);
      SetBusy(false);
    }
    CAddrs = static_cast<std::int64_t>(position) * 16;
    PaintAt(CAddrs);
    line = RAddrs / 16 - position;
  }
  const int x = CarPos == 0 ? fCell.L1() + 5 + column * 3 * fCell.cx
                            : fCell.L2() + 5 + column * fCell.cx;
  const QPoint shift = MyPaint ? MyPaint->pos() : QPoint();
  ChildsCaret = QPoint(x + shift.x(), ClampToInt(line * CaretH) + shift.y());
  if (fCaret) fCaret->move(ChildsCaret);
}

void THEXView::BlinkCaret() {
  if (fCaret && g_caretOwner == this) fCaret->setVisible(!fCaret->isVisible());
}

void THEXView::SetBusy(bool busy) {
  if (MyScroll) MyScroll->setProperty("Tag", busy ? kBusyMarker : 0);
}

bool THEXView::IsBusy() const {
  return MyScroll && MyScroll->property("Tag").toInt() == kBusyMarker;
}

bool THEXView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MyPaint) {
    switch (event->type()) {
      case QEvent::Paint: {
        QPainter p(MyPaint);
        if (MainBP.isNull()) {
          p.fillRect(MyPaint->rect(), HexColorFromRef(kBackground));
        } else {
          p.drawImage(0, 0, MainBP);
        }
        return true;
      }
      case QEvent::Resize:
        Relayout();
        return false;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        const auto* me = static_cast<QMouseEvent*>(event);
        MouseDown(me->button(), me->position().toPoint());
        return true;
      }
      case QEvent::MouseMove:
        MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
        return true;
      case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) MouseDowned = false;
        return true;
      default:
        break;
    }
  } else if (watched == MyPanel && event->type() == QEvent::Wheel) {
    auto* we = static_cast<QWheelEvent*>(event);
    OnWheel(we->angleDelta().y());
    we->accept();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace orvella
