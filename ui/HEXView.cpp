#include "ui/HEXView.h"

#include <QAction>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
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

#include "image/WindowPort.h"
#include "ui/CellFont.h"
#include "ui/HexSearch.h"

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

// Addresses as the address column shows them.
QString Address(std::int64_t a) {
  return QStringLiteral("0x") + QString::number(a, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

// The right-click menu's entries: objectName stem, caption.
struct MenuEntry {
  const char* Name;
  const char* Caption;
};
constexpr MenuEntry kMenuEntries[] = {
    {"HexGoToItem", "&Go to...\tCtrl+G"},      {"HexFindItem", "&Find...\tCtrl+F"},
    {"HexFindNextItem", "Find &next\tF3"},     {"HexCopyHexItem", "Copy as &hex\tCtrl+C"},
    {"HexCopyTextItem", "Copy as &text"},      {"HexSaveBlockItem", "&Save block as..."},
};

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

std::optional<HexOffsetInput> ParseHexOffset(const QString& text) {
  QString t = text.trimmed();
  HexOffsetInput out;
  if (t.startsWith(QLatin1Char('@'))) {
    out.FileOffset = true;
    t = t.mid(1).trimmed();
  }
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) t = t.mid(2);
  // Fifteen digits stay below 2^63.
  if (t.isEmpty() || t.size() > 15) return std::nullopt;
  for (const QChar c : t) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    out.Value = out.Value * 16 + d;
  }
  return out;
}

std::vector<std::uint8_t> ParseFindPattern(const QString& text, QString& error) {
  std::vector<std::uint8_t> out;
  const QString t = text.trimmed();
  if (t.size() >= 2 && t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"'))) {
    const QString inner = t.mid(1, t.size() - 2);
    for (const QChar c : inner) {
      if (c.unicode() > 0xFF) {
        error = QStringLiteral("The character \"%1\" has no single-byte code; text can hold "
                               "characters up to U+00FF.").arg(c);
        return {};
      }
      out.push_back(static_cast<std::uint8_t>(c.unicode()));
    }
  } else {
    QString digits;
    for (const QChar c : t)
      if (!c.isSpace()) digits += c;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) digits = digits.mid(2);
    if (digits.size() % 2 != 0) {
      error = QStringLiteral("\"%1\" has an odd number of hexadecimal digits.").arg(t);
      return {};
    }
    for (qsizetype i = 0; i < digits.size(); i += 2) {
      const int hi = HexDigit(digits[i]);
      const int lo = HexDigit(digits[i + 1]);
      if (hi < 0 || lo < 0) {
        error = QStringLiteral("\"%1\" is neither hexadecimal bytes (DE AD BE EF) nor text "
                               "in double quotes.").arg(t);
        return {};
      }
      out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  }
  if (out.empty()) {
    error = QStringLiteral("There is nothing to search for.");
  } else if (out.size() > kMaxFindPattern) {
    error = QStringLiteral("A search takes at most %1 bytes.").arg(kMaxFindPattern);
    out.clear();
  }
  return out;
}

QString HexBytesText(const std::vector<std::uint8_t>& bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()) * 3);
  for (const std::uint8_t b : bytes) {
    if (!out.isEmpty()) out += QLatin1Char(' ');
    out += HexTexts()[b];
  }
  return out;
}

QString CharBytesText(const std::vector<std::uint8_t>& bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (const std::uint8_t b : bytes) out += CharTexts()[b];
  return out;
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

void THEXView::MouseDown(Qt::MouseButton button, QPoint p, QPoint global) {
  if (MyPanel) MyPanel->setFocus(Qt::MouseFocusReason);
  if (button == Qt::RightButton) ShowMenu(global);
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
  fMoving = pointer >= TempBBeg ? pointer + 1 : pointer;
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
        if (fSearching) return true;
        MouseDown(me->button(), me->position().toPoint(), me->globalPosition().toPoint());
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

// ---------------------------------------------------------------------------------------
// Keyboard, go to, find, copy and save

bool THEXView::KeyPress(const QKeyEvent& e) {
  if (fSearching) {
    // A long search lets the window run; only Esc reaches the view meanwhile.
    if (e.key() == Qt::Key_Escape) fStopSearch = true;
    return true;
  }
  const bool ctrl = e.modifiers().testFlag(Qt::ControlModifier);
  const bool shift = e.modifiers().testFlag(Qt::ShiftModifier);
  switch (e.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      MoveCaret(e.key(), ctrl, shift);
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      // Tab stays in the view: it moves the caret between the two columns.
      CarPos = CarPos == 0 ? 1 : 0;
      if (CaretShown()) PlaceCaret(false);
      return true;
    case Qt::Key_G:
      if (!ctrl) return false;
      GoToPrompt();
      return true;
    case Qt::Key_F:
      if (!ctrl) return false;
      FindPrompt();
      return true;
    case Qt::Key_F3:
      FindAgain(!shift);
      return true;
    case Qt::Key_C:
      if (!ctrl) return false;
      CopyBlock(CarPos != 0);
      return true;
    case Qt::Key_Menu:
      ShowMenu(MyPanel ? MyPanel->mapToGlobal(CaretPosition()) : QPoint());
      return true;
    case Qt::Key_F10:
      if (!shift) return false;
      ShowMenu(MyPanel ? MyPanel->mapToGlobal(CaretPosition()) : QPoint());
      return true;
    default:
      return false;
  }
}

void THEXView::MoveCaret(int key, bool ctrl, bool shift) {
  const std::int64_t length = ChunkLength();
  if (length == 0) return;
  const std::int64_t page = std::max(DebugLines, 1);
  // With Shift the caret moves between byte boundaries (0 to the chunk's length), the
  // block lying between the anchor and the moving boundary; without, from byte to byte.
  if (shift && !fBlockMarked) TempBBeg = fMoving = RAddrs;
  const std::int64_t from = shift ? fMoving : RAddrs;
  const std::int64_t last = shift ? length : length - 1;
  // Home and End keep to the line of the last byte marked (a boundary at a line's end
  // belongs to that line).
  const std::int64_t lineByte =
      std::min(shift && fMoving > TempBBeg ? fMoving - 1 : from, length - 1);
  const std::int64_t lineStart = lineByte - lineByte % BytesInLine;
  std::int64_t to = from;
  std::int64_t topShift = 0;
  switch (key) {
    case Qt::Key_Left: to = from - 1; break;
    case Qt::Key_Right: to = from + 1; break;
    case Qt::Key_Up: to = from - BytesInLine; break;
    case Qt::Key_Down: to = from + BytesInLine; break;
    case Qt::Key_PageUp: to = from - page * BytesInLine; topShift = -page; break;
    case Qt::Key_PageDown: to = from + page * BytesInLine; topShift = page; break;
    case Qt::Key_Home: to = ctrl ? 0 : lineStart; break;
    case Qt::Key_End: to = ctrl ? last : lineStart + (shift ? BytesInLine : BytesInLine - 1); break;
    default: return;
  }
  to = std::clamp<std::int64_t>(to, 0, last);

  if (shift) {
    fMoving = to;
    RAddrs = std::min(to, length - 1);
    fBlockMarked = to != TempBBeg;
    BlBegs = fBlockMarked ? std::min(TempBBeg, to) : -1;
    BlEnds = fBlockMarked ? std::max(TempBBeg, to) - 1 : -1;
  } else {
    fBlockMarked = false;
    BlBegs = BlEnds = -1;
    RAddrs = to;
  }
  std::int64_t top = CAddrs / BytesInLine + topShift;
  // The caret's line stays on screen.
  const std::int64_t line = RAddrs / BytesInLine;
  if (line < top) top = line;
  if (line >= top + page) top = line - page + 1;
  ShowTop(top);
}

void THEXView::ShowTop(std::int64_t top) {
  const int position = static_cast<int>(std::clamp<std::int64_t>(top, 0, MaxPosition()));
  if (MyScroll) {
    SetBusy(true);
    MyScroll->setValue(position);
    SetBusy(false);
  }
  // Paints (the data window reloads only when these lines leave it) and shows the caret
  // unless a block is marked.
  ScrollTo(position);
  if (fBlockMarked) HideCaret();
}

void THEXView::MarkFound(std::int64_t address, std::int64_t length) {
  fBlockMarked = true;
  BlBegs = address;
  BlEnds = address + length - 1;
  TempBBeg = address;
  fMoving = address + length;
  RAddrs = address;
  // The run comes into view: its first line on top unless it is all on screen already.
  const std::int64_t top = CAddrs / BytesInLine;
  const std::int64_t page = std::max(DebugLines, 1);
  if (BlBegs / BytesInLine < top || BlEnds / BytesInLine >= top + page)
    ShowTop(BlBegs / BytesInLine);
  else
    ShowTop(top);
}

void THEXView::Status(const QString& text) {
  if (fPort) fPort->SetStatusText(0, text.toStdString());
}

void THEXView::Refuse(const QString& text) {
  if (fPort) fPort->ErrorBox(text.toStdString());
}

void THEXView::GoToPrompt() {
  const std::int64_t length = ChunkLength();
  if (!fPort || length == 0 || fSearching) return;
  const auto answer = fPort->InputBox(
      "Go to offset",
      "Hexadecimal offset in the partition (1A2B, 0x1A2B), or @ and a file offset:", "");
  if (!answer) return;
  const QString typed = QString::fromStdString(*answer);
  const auto offset = ParseHexOffset(typed);
  if (!offset) {
    Refuse(QStringLiteral("\"%1\" is not a hexadecimal offset.").arg(typed.trimmed()));
    return;
  }
  const std::int64_t base = fData.desc().StartingOffset;
  const std::int64_t address = offset->FileOffset ? offset->Value - base : offset->Value;
  if (address < 0 || address >= length) {
    if (offset->FileOffset)
      Refuse(QStringLiteral("File offset %1 lies outside this partition, which holds file "
                            "offsets %2 to %3.")
                 .arg(Address(offset->Value), Address(base), Address(base + length - 1)));
    else
      Refuse(QStringLiteral("Offset %1 lies outside this partition, which holds offsets %2 to %3.")
                 .arg(Address(offset->Value), Address(0), Address(length - 1)));
    return;
  }
  fBlockMarked = false;
  BlBegs = BlEnds = -1;
  RAddrs = address;
  const std::int64_t top = CAddrs / BytesInLine;
  const std::int64_t line = address / BytesInLine;
  ShowTop(line >= top && line < top + std::max(DebugLines, 1) ? top : line);
}

void THEXView::FindPrompt() {
  if (!fPort || ChunkLength() == 0 || fSearching) return;
  const auto answer = fPort->InputBox(
      "Find", "Hexadecimal bytes (DE AD BE EF) or text in double quotes:",
      fPatternText.toStdString());
  if (!answer) return;
  const QString typed = QString::fromStdString(*answer).trimmed();
  QString error;
  std::vector<std::uint8_t> pattern = ParseFindPattern(typed, error);
  if (pattern.empty()) {
    Refuse(error);
    return;
  }
  fPattern = std::move(pattern);
  fPatternText = typed;
  FindAgain(true);
}

void THEXView::FindAgain(bool forward) {
  if (!fPort || ChunkLength() == 0 || fSearching) return;
  if (fPattern.empty()) {
    FindPrompt();
    return;
  }
  // Forwards from the caret's byte, or from just after a marked block's first byte (so
  // that F3 moves on from the run found last); backwards from before either.
  const std::int64_t origin = fBlockMarked ? (forward ? BlBegs + 1 : BlBegs) : RAddrs;
  const THexDataBlockDesc desc = fData.desc();
  const long generation = fGeneration;
  const bool long_ = desc.ChunkLength > kLongSearch;
  QPointer<THEXView> self(this);
  fSearching = true;
  fStopSearch = false;
  if (long_) {
    fPort->GaugeSetMax(desc.ChunkLength);
    fPort->GaugeSetPos(0);
    Status(QStringLiteral("Searching for %1 (Esc stops)").arg(fPatternText));
  }
  WindowPort* port = fPort;
  const FindProgress progress = [&](std::int64_t done, std::int64_t) {
    if (!long_) return true;
    port->GaugeSetPos(done);
    port->ProcessMessages();
    return self && !fStopSearch && fGeneration == generation;
  };
  // Copies: the window runs during a long search, and the view may even go meanwhile.
  const std::vector<std::uint8_t> pattern = fPattern;
  const FindResult r = FindInChunk(desc, pattern, origin, forward, progress, fFindBlock);
  if (!self) return;
  fSearching = false;
  if (long_) port->GaugeSetPos(0);
  // The view now shows another chunk (or none): the result belongs to the old one.
  if (fGeneration != generation) return;
  switch (r.What) {
    case FindResult::Kind::Found:
      MarkFound(r.Address, static_cast<std::int64_t>(fPattern.size()));
      if (r.Wrapped)
        Status(forward ? QStringLiteral("Passed the end of the partition; %1 found at %2")
                             .arg(fPatternText, Address(r.Address))
                       : QStringLiteral("Passed the start of the partition; %1 found at %2")
                             .arg(fPatternText, Address(r.Address)));
      else
        Status(QStringLiteral("%1 found at %2").arg(fPatternText, Address(r.Address)));
      break;
    case FindResult::Kind::NotFound:
      Status(QStringLiteral("%1 not found in this partition").arg(fPatternText));
      break;
    case FindResult::Kind::Stopped:
      Status(QStringLiteral("Search stopped at %1").arg(Address(r.StoppedAt)));
      break;
    case FindResult::Kind::ReadFailed:
      Status(QString());
      Refuse(QStringLiteral("The search could not read the image: %1")
                 .arg(QString::fromStdString(r.Error)));
      break;
  }
}

void THEXView::Selection(std::int64_t& from, std::int64_t& n) const {
  const std::int64_t length = ChunkLength();
  if (fBlockMarked) {
    // A drag may reach past the data; only existing bytes count.
    from = std::clamp<std::int64_t>(BlBegs, 0, length);
    n = std::clamp<std::int64_t>(BlEnds + 1, 0, length) - from;
  } else {
    from = std::clamp<std::int64_t>(RAddrs, 0, length);
    n = from < length ? 1 : 0;
  }
}

void THEXView::CopyBlock(bool asText) {
  std::int64_t from = 0;
  std::int64_t n = 0;
  Selection(from, n);
  if (n <= 0 || fSearching) return;
  if (n > kMaxCopy) {
    Refuse(QStringLiteral("The block holds %1 bytes; at most %2 go into the clipboard. Save "
                          "it as a file instead.")
               .arg(n)
               .arg(kMaxCopy));
    return;
  }
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!ReadChunkBytes(fData.desc(), from, n, bytes, error)) {
    Refuse(QStringLiteral("The block could not be read: %1").arg(QString::fromStdString(error)));
    return;
  }
  QGuiApplication::clipboard()->setText(asText ? CharBytesText(bytes) : HexBytesText(bytes));
  Status(QStringLiteral("%1 bytes copied as %2").arg(n).arg(asText ? QStringLiteral("text")
                                                                  : QStringLiteral("hex")));
}

void THEXView::SaveBlockAs() {
  std::int64_t from = 0;
  std::int64_t n = 0;
  Selection(from, n);
  if (!fPort || n <= 0 || fSearching) return;
  SaveDialogRequest request;
  request.Filter = "Binary files (*.bin)|*.bin|All files|*";
  request.FilterIndex = 1;
  request.DefaultExt = "bin";
  const auto path = fPort->SaveDialog(request);
  if (!path) return;
  std::string error;
  if (!SaveChunkBytes(fData.desc(), from, n, *path, error)) {
    Refuse(QStringLiteral("The block was not saved: %1").arg(QString::fromStdString(error)));
    return;
  }
  Status(QStringLiteral("%1 bytes saved to %2").arg(n).arg(QString::fromStdString(*path)));
}

void THEXView::BuildMenu() {
  if (!MyPanel) return;
  fMenu = new QMenu(MyPanel);
  QString suffix = MyPanel->objectName();
  suffix.remove(QLatin1String("ScrollBox"));
  fMenu->setObjectName(QStringLiteral("HexPopup") + suffix);
  const std::function<void()> commands[] = {
      [this] { GoToPrompt(); },       [this] { FindPrompt(); },
      [this] { FindAgain(true); },    [this] { CopyBlock(false); },
      [this] { CopyBlock(true); },    [this] { SaveBlockAs(); },
  };
  for (std::size_t i = 0; i < std::size(kMenuEntries); ++i) {
    QAction* action = fMenu->addAction(QString::fromLatin1(kMenuEntries[i].Caption));
    action->setObjectName(QString::fromLatin1(kMenuEntries[i].Name) + suffix);
    connect(action, &QAction::triggered, this, commands[i]);
    if (i == 1 || i == 2 || i == 4) fMenu->addSeparator();
  }
  connect(fMenu, &QMenu::aboutToShow, this, [this] {
    const bool data = ChunkLength() > 0;
    for (QAction* a : fMenu->actions()) a->setEnabled(data);
  });
}

void THEXView::ShowMenu(const QPoint& global) {
  if (!fMenu || fSearching) return;
  if (PopupHook) PopupHook(*fMenu, global); else fMenu->popup(global);
}

}  // namespace orvella
