#include "ui/HEXView.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStringList>
#include <QStyleHints>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <array>
#include <climits>

#include "ui/CellFont.h"
#include "ui/Colors.h"
#include "ui/RetainedPaint.h"
#include "ui/ScrollBarTag.h"

namespace orvella {

namespace {

// Like the platform's text caret, there is one per process: showing it in one view
// takes it from the other.
THEXView* g_caretOwner = nullptr;

constexpr int kCaretWidth = 2;

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
  if (candidates.isEmpty()) candidates << PlainFixedFont();
  for (QFont& font : candidates) {
    MakePlain(font);
    // Crisp glyphs in the two byte colours, as a bitmap surface of the platform gives.
    font.setStyleStrategy(QFont::NoAntialias);
  }
  return CellFont(candidates, cellHeight);
}

// The texts of the bytes, made once: the paint draws up to 2 x 16 of them a line.
const std::array<QString, 256>& HexTexts() {
  static const std::array<QString, 256> texts = [] {
    std::array<QString, 256> t;
    for (int b = 0; b < 256; ++b)
      t[b] = QString::fromStdString(HexBytesText({static_cast<std::uint8_t>(b)}));
    return t;
  }();
  return texts;
}

const std::array<QString, 256>& CharTexts() {
  static const std::array<QString, 256> texts = [] {
    std::array<QString, 256> t;
    for (int b = 0; b < 256; ++b) t[b] = QString::fromStdString(HexCharText(static_cast<std::uint8_t>(b)));
    return t;
  }();
  return texts;
}

int ClampToInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN / 2, INT_MAX / 2));
}

}  // namespace

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
    MyScroll->setProperty(kScrollTagProperty, 0);
    connect(MyScroll, &QScrollBar::actionTriggered, this, &THEXView::OnScrollAction);
    connect(MyScroll, &QScrollBar::sliderReleased, this, &THEXView::OnScrollReleased);
  }

  fFindBlock = kFindBlock;
  BuildMenu();

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
  ++fGeneration;
  fStopSearch = true;  // a search of the old chunk ends
  MoveScrollBar(MyScroll, 0);
  // A missing file or a chunk past the file's end leaves the window empty.
  fData.attach(fileName, fileOffset, chunkLength);
  fState.Reset(fData.desc().ChunkLength);
  HideCaret();
  Relayout();
}

void THEXView::Relayout() {
  // The caret is made anew for the new cell, hidden, at the start of the hex column.
  if (g_caretOwner == this) LoseCaret();

  const int w = MyPaint ? MyPaint->width() : 0;
  const int h = MyPaint ? MyPaint->height() : 0;

  // The cell is measured with the application's standard font, not the view's.
  const QFontMetrics fm(QGuiApplication::font());
  fCell.cx = std::max(fm.horizontalAdvance(QLatin1Char('0')), 1);
  fCell.cy = std::max(fm.height(), 1);
  fState.SetScreenLines(h / fCell.cy);

  ChildsCaret = QPoint(fCell.CaretX(0, false), 0);
  if (fCaret) {
    fCaret->resize(kCaretWidth, fCell.cy);
    fCaret->move(ChildsCaret);
  }

  if (w > 0 && h > 0) {
    MainBP = QImage(w, h, QImage::Format_RGB32);
  } else {
    MainBP = QImage();
  }

  SetupScrollRange();
  PaintAt();
}

void THEXView::SetupScrollRange() {
  if (!MyScroll) return;
  const int visible = fState.ScreenLines();
  TScrollBarBusy busy(MyScroll);
  MyScroll->show();
  if (fState.MaxPosition() == 0) {
    MyScroll->setRange(0, 0);
    MyScroll->setValue(0);
    MyScroll->setEnabled(false);
  } else {
    // Qt's maximum is the largest top line: the range maximum less the page.
    MyScroll->setSingleStep(1);
    MyScroll->setPageStep(visible);
    MyScroll->setRange(0, fState.MaxPosition());
    MyScroll->setValue(fState.Position());
    MyScroll->setEnabled(true);
  }
}

void THEXView::PaintAt() {
  if (MainBP.isNull()) return;
  DrawSurface();
  if (MyPaint) MyPaint->update();
}

void THEXView::DrawSurface() {
  const int w = MainBP.width();
  const int h = MainBP.height();
  const int cx = fCell.cx;
  const int cy = fCell.cy;
  const std::int64_t length = ChunkLength();
  const std::int64_t top = fState.TopAddress();

  // A failed or impossible read leaves the bytes held before; those are painted and
  // the rest of the chunk shows blank cells.
  fData.load(top, static_cast<std::int64_t>(fState.ScreenLines() + 1) * BytesInLine);
  const std::int64_t blockEnd = std::max(fState.BlockBegin(), fState.BlockEnd());

  QPainter p(&MainBP);
  p.fillRect(0, 0, w, h, ColorFromRef(kColorBackground));
  p.setPen(ColorFromRef(kColorBacklines));
  for (const int x : {fCell.L1(), fCell.L2(), w - 1}) p.drawLine(x, 0, x, h - 1);

  p.setFont(MainFn);
  const QColor address = ColorFromRef(kColorAddressText);
  const QColor even = ColorFromRef(kColorEvenByteText);
  const QColor odd = ColorFromRef(kColorOddByteText);
  const QColor blockBack = ColorFromRef(kColorBlockBackground);
  const QColor blockText = ColorFromRef(kColorBlockText);
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
      const bool inBlock = fState.InBlock(a);
      if (inBlock) {
        p.fillRect(fCell.HexX(k), y, fCell.HexBoxWidth(a, blockEnd), cy, blockBack);
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
  fState.SetPosition(fState.ClampTop(position));
  MoveScrollBar(MyScroll, fState.Position());
  PaintAt();
  if (!fState.HasBlock()) {
    ShowCaret();
    PlaceCaret(false);
  }
}

void THEXView::ShowTop(int position) {
  // Paints (the data window reloads only when these lines leave it) and shows the caret
  // unless a block is marked.
  ScrollTo(position);
  if (fState.HasBlock()) HideCaret();
}

void THEXView::OnScrollAction(int action) {
  if (!MyScroll || ScrollBarBusy(MyScroll) || action == QAbstractSlider::SliderNoAction) return;
  if (MyPanel) MyPanel->setFocus(Qt::OtherFocusReason);
  ScrollTo(fState.ClampTop(MyScroll->sliderPosition()));
}

void THEXView::OnScrollReleased() {
  if (!MyScroll || ScrollBarBusy(MyScroll)) return;
  if (MyPanel) MyPanel->setFocus(Qt::OtherFocusReason);
  TScrollBarBusy busy(MyScroll);
  MyScroll->setValue(fState.ClampTop(MyScroll->sliderPosition()));
  // The thumb returns to the line actually shown; nothing is repainted.
  MyScroll->setValue(fState.Position());
}

void THEXView::OnWheel(int angleDelta) {
  fState.AddWheel(angleDelta);
  while (const auto position = fState.TakeWheelStep()) ScrollTo(*position);
}

void THEXView::MouseDown(Qt::MouseButton button, QPoint p, QPoint global) {
  if (MyPanel) MyPanel->setFocus(Qt::MouseFocusReason);
  if (button == Qt::RightButton) ShowMenu(global);
  if (button != Qt::LeftButton || fState.MouseDown()) return;
  const HexViewState::Press press = fState.MousePress(p.x(), p.y(), fCell.HitTest(p.x(), p.y()));
  if (press.BlockDropped) PaintAt();
  if (!press.OnData) return;
  HideCaret();
  PaintAt();
  ShowCaret();
  PlaceCaret(true);
}

void THEXView::MouseMove(QPoint p) {
  const HexViewState::Drag drag = fState.MouseMove(p.x(), p.y(), fCell.HitTest(p.x(), p.y()));
  if (drag.Started) HideCaret();
  if (drag.Changed) PaintAt();
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
  if (!fCaret || ChunkLength() == 0 || fState.HasBlock()) return;
  if (g_caretOwner && g_caretOwner != this) g_caretOwner->LoseCaret();
  g_caretOwner = this;
  fCaret->resize(kCaretWidth, fCell.cy);
  fCaret->move(ChildsCaret);
  fCaret->raise();
  fCaret->show();
  if (fBlink.interval() > 0) fBlink.start();
}

void THEXView::PlaceCaret(bool scrollToIt) {
  if (scrollToIt) {
    if (const auto position = fState.PositionShowingCaret()) {
      fState.SetPosition(*position);
      MoveScrollBar(MyScroll, *position);
      PaintAt();
    }
  }
  const int x = fCell.CaretX(fState.CaretColumn(), fState.CharColumn());
  const QPoint shift = MyPaint ? MyPaint->pos() : QPoint();
  ChildsCaret = QPoint(x + shift.x(), ClampToInt(fState.CaretLine() * fCell.cy) + shift.y());
  if (fCaret) fCaret->move(ChildsCaret);
}

void THEXView::BlinkCaret() {
  if (fCaret && g_caretOwner == this) fCaret->setVisible(!fCaret->isVisible());
}

bool THEXView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MyPaint) {
    switch (event->type()) {
      case QEvent::Paint:
        PaintRetained(*MyPaint, MainBP, static_cast<QPaintEvent*>(event)->rect());
        return true;
      case QEvent::Resize:
        Relayout();
        return false;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        const auto* me = static_cast<QMouseEvent*>(event);
        if (fSearching) return true;
        MouseDown(me->button(), me->position().toPoint(), me->globalPosition().toPoint());
        return true;
      }
      case QEvent::MouseMove:
        MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
        return true;
      case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) fState.MouseRelease();
        return true;
      default:
        break;
    }
  } else if (watched == MyPanel && event->type() == QEvent::KeyPress) {
    if (KeyPress(*static_cast<QKeyEvent*>(event))) return true;
  } else if (watched == MyPanel && event->type() == QEvent::Wheel) {
    auto* we = static_cast<QWheelEvent*>(event);
    OnWheel(we->angleDelta().y());
    we->accept();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace orvella
