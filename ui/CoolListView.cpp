#include "ui/CoolListView.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include "ui/Colors.h"
#include "ui/ListSurface.h"
#include "ui/RetainedPaint.h"

namespace orvella {

namespace {

constexpr int kRepaintIntervalMs = 10;
constexpr int kWheelRows = 3;
constexpr int kGroupedDigits = 12;

int ButtonNumber(Qt::MouseButton button) {
  switch (button) {
    case Qt::RightButton: return mbRight;
    case Qt::MiddleButton: return mbMiddle;
    case Qt::BackButton: return 3;
    case Qt::ForwardButton: return 4;
    default: return mbLeft;
  }
}

}  // namespace

TCoolListView::TCoolListView(QObject* owner, QWidget* scrollBox, QWidget* paintBox,
                             QScrollBar* scrollBar, QHeaderView* header, int fontHeight,
                             const QString& fontName)
    : QObject(owner),
      MyScrollBox(scrollBox),
      MyPaint(paintBox),
      MyScrollBar(scrollBar),
      MyHeader(header) {
  Cursor = -1;
  bTextMargin = 0;
  OnSelectionChange = [](int, int, int, int) {};
  OnDoubleClick = [](QObject*) {};

  fExtraWidths = ExtraWidthsFor(kGroupedDigits);

  MyTimer = new QTimer(this);
  MyTimer->setInterval(kRepaintIntervalMs);
  connect(MyTimer, &QTimer::timeout, this, &TCoolListView::TimerTick);

  if (MyHeader) {
    connect(MyHeader, &QHeaderView::sectionResized, this, [this] { Repaint(); });
  }
  if (MyPaint) {
    // The retained surface covers the whole box, so nothing behind it needs drawing.
    MyPaint->setAttribute(Qt::WA_OpaquePaintEvent);
    MyPaint->installEventFilter(this);
  }
  if (MyScrollBox) {
    // The list's focus is the scroll box's focus; a click gives it.
    if (MyScrollBox->focusPolicy() == Qt::NoFocus) MyScrollBox->setFocusPolicy(Qt::StrongFocus);
    MyScrollBox->installEventFilter(this);
  }
  if (MyScrollBar) {
    connect(MyScrollBar, &QScrollBar::valueChanged, this,
            [this](int value) { ScrollBarScroll(value); });
  }

  MainFn = ListFontFor(fontName, fontHeight);

  fSurfaceReady = false;
  Refresh();
}

TCoolListView::~TCoolListView() {
  for (QObject* control : {static_cast<QObject*>(MyScrollBox.data()),
                           static_cast<QObject*>(MyPaint.data())})
    if (control) control->removeEventFilter(this);
}

bool TCoolListView::ControlsAlive() const {
  return MyScrollBox && MyPaint && MyScrollBar && MyHeader;
}

bool TCoolListView::ScrollBarEnabled() const {
  // The bar's own flag, not inherited: a disabled owner window must not stop drawing rows.
  return MyScrollBar && !MyScrollBar->testAttribute(Qt::WA_ForceDisabled);
}

int TCoolListView::RowCount() const { return UsableRows(CoolItemsList); }

bool TCoolListView::MultiThreadRepaint() const { return MyTimer->isActive(); }

void TCoolListView::SetMultiThreadRepaint(bool on) {
  if (on)
    MyTimer->start();
  else
    MyTimer->stop();
}

void TCoolListView::TimerTick() {
  if (!fNeedRepaint) return;
  fNeedRepaint = false;
  Repaint();
}

void TCoolListView::RebuildSurface() {
  // The pitch comes from the platform's standard font, measured before the list font
  // is chosen, so rows keep the height the owner's other controls use.
  const QFontMetrics system(QApplication::font());
  const QSize zero = system.size(Qt::TextSingleLine, QStringLiteral("0"));
  fTextExt = QSize(zero.width(), std::max(zero.height() + bRowHeightIncrease, 1));
  const QSize box = MyPaint->size();
  DebugLines = orvella::WholeLines(box.height(), fTextExt.height());
  MainSurface = box.isEmpty() ? QImage() : QImage(box, QImage::Format_RGB32);
  fSurfaceReady = true;
}

void TCoolListView::Refresh() {
  if (!ControlsAlive()) return;
  RebuildSurface();
  fScreenLines = orvella::WholeLines(MyPaint->height(), fTextExt.height());
  fScroll = ScrollSetupFor(RowCount(), fScreenLines);
  fTopRow = fScroll.Active ? ClampPosition(fTopRow, fScroll.Maximum, fScreenLines) : 0;
  {
    TScrollBarBusy busy(MyScrollBar);
    if (fScroll.Active) {
      MyScrollBar->setRange(0, LargestPosition(fScroll.Maximum, fScreenLines));
      MyScrollBar->setSingleStep(fScroll.SmallChange);
      MyScrollBar->setPageStep(fScroll.LargeChange);
      MyScrollBar->setEnabled(true);
      MyScrollBar->show();
      MyScrollBar->setValue(fTopRow);
    } else {
      MyScrollBar->setValue(0);
      MyScrollBar->setRange(0, 0);
      MyScrollBar->setEnabled(false);
      MyScrollBar->hide();
    }
  }
  Repaint();
}

void TCoolListView::Repaint() {
  if (!fSurfaceReady || !ControlsAlive()) return;
  // A box resized while hidden gets its resize event only when shown; draw at its size.
  if (MainSurface.size() != MyPaint->size())
    MainSurface = MyPaint->size().isEmpty() ? QImage() : QImage(MyPaint->size(), QImage::Format_RGB32);

  if (!MainSurface.isNull()) {
    TListFrame frame;
    frame.Width = MainSurface.width();
    frame.Height = MainSurface.height();
    frame.RowPitch = fTextExt.height();
    frame.WholeLines = DebugLines;
    frame.TopRow = fTopRow;
    frame.Cursor = Cursor;
    frame.TextMargin = bTextMargin;
    frame.BarEnabled = ScrollBarEnabled();
    frame.Focused = MyScrollBox->hasFocus();
    frame.Model = CoolItemsList;
    frame.Gaps = fExtraWidths;
    const int sections = MyHeader->count();
    frame.SectionWidths.reserve(static_cast<std::size_t>(std::max(sections, 0)));
    for (int visual = 0; visual < sections; ++visual)
      frame.SectionWidths.push_back(MyHeader->sectionSize(MyHeader->logicalIndex(visual)));

    TImageSurface surface(MainSurface, MainFn);
    DrawList(surface, frame);
  }
  MyPaint->update();
}

void TCoolListView::FireSelectionChange(int button) {
  const QPoint pointer = QCursor::pos();
  if (OnSelectionChange) OnSelectionChange(Cursor, button, pointer.x(), pointer.y());
}

void TCoolListView::SetItemIndex(int value) {
  Cursor = CoolItemsList != nullptr ? CursorFor(value, RowCount()) : -1;
  Repaint();
  FireSelectionChange(mbLeft);
}

void TCoolListView::SetScrollPosition(int position) {
  fTopRow = position;
  MoveScrollBar(MyScrollBar, position);
}

void TCoolListView::RewindCursorVisible(int visibleOffset) {
  if (!MyScrollBar) return;
  if (visibleOffset == -1) visibleOffset = fScreenLines - 1;
  SetScrollPosition(ClampPosition(Cursor - visibleOffset, fScroll.Maximum, fScreenLines));
  Repaint();
}

void TCoolListView::ScrollBarScroll(int requestedPosition) {
  if (ScrollBarBusy(MyScrollBar) || !ScrollBarEnabled()) return;
  SetScrollPosition(ClampPosition(requestedPosition, fScroll.Maximum, fScreenLines));
  Repaint();
}

void TCoolListView::ScrollBoxMouseWheel(int delta) {
  const int target = delta >= 0 ? TopRow() - kWheelRows : TopRow() + kWheelRows;
  if (ScrollBarEnabled()) ScrollBarScroll(target);
}

void TCoolListView::MouseWheel(QWheelEvent* wheel) {
  const QPoint delta = wheel->angleDelta();
  // Touchpads open and close a gesture with empty events, and a sideways wheel only
  // moves x; neither turns the list's wheel.
  const bool gestureEdge =
      (wheel->phase() == Qt::ScrollBegin || wheel->phase() == Qt::ScrollEnd) && delta.isNull();
  const bool sideways = delta.y() == 0 && delta.x() != 0;
  if (!gestureEdge && !sideways) ScrollBoxMouseWheel(delta.y());
  wheel->accept();
}

void TCoolListView::PaintBoxMouseDown(int button, QPoint position) {
  MouseX = position.x();
  MouseY = position.y();
  const int row = RowAtPoint(MouseY, fTextExt.height(), TopRow(), RowCount());
  if (MyScrollBox) MyScrollBox->setFocus(Qt::MouseFocusReason);
  fCurrentItemClicked = row;
  if (CoolItemsList != nullptr && row != -1 &&
      !CoolItemsList->Items[static_cast<std::size_t>(row)].Enabled)
    return;
  Cursor = row;
  Repaint();
  FireSelectionChange(button);
}

void TCoolListView::PaintBoxDoubleClick() {
  const int row = fCurrentItemClicked;
  const bool disabledRow = CoolItemsList != nullptr && row >= 0 && row < RowCount() &&
                           !CoolItemsList->Items[static_cast<std::size_t>(row)].Enabled;
  if (!disabledRow && OnDoubleClick) OnDoubleClick(MyPaint.data());
}

void TCoolListView::FreeDataFields() {
  if (CoolItemsList == nullptr) return;
  const int rows = RowCount();
  for (int k = 0; k < rows; ++k) {
    auto& item = CoolItemsList->Items[static_cast<std::size_t>(k)];
    item.Values.clear();
    item.Colors.clear();
  }
  CoolItemsList->Types.clear();
  CoolItemsList->Items.clear();
}

bool TCoolListView::ProcessKeyboardInput(std::uintptr_t wParam, std::intptr_t /*lParam*/) {
  const TListKeyMove move = ListKeyMove(wParam, Cursor, TopRow(), fScreenLines, RowCount());
  if (move.Activates && OnDoubleClick) OnDoubleClick(MyPaint.data());
  if (move.SetsCursor) SetItemIndex(move.Cursor);
  if (move.Rewind != kNoRewind) RewindCursorVisible(move.Rewind);
  return true;
}

bool TCoolListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MyPaint) {
    switch (event->type()) {
      case QEvent::Paint:
        PaintRetained(*MyPaint, MainSurface, static_cast<QPaintEvent*>(event)->rect());
        return true;
      case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        PaintBoxMouseDown(ButtonNumber(mouse->button()), mouse->position().toPoint());
        return true;
      }
      case QEvent::MouseButtonDblClick: {
        // The platform reports the second press of a double-click as this event alone, so
        // it runs both: first the double-click, then the mouse-down of that press.
        // Only the left button double-clicks; for the others this is a second press.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) PaintBoxDoubleClick();
        PaintBoxMouseDown(ButtonNumber(mouse->button()), mouse->position().toPoint());
        return true;
      }
      case QEvent::Wheel:
        // The wheel over the paint box is the wheel over its scroll box.
        MouseWheel(static_cast<QWheelEvent*>(event));
        return true;
      case QEvent::Resize:
        // Showing or hiding the scroll bar resizes only the paint box.
        Refresh();
        return false;
      default:
        return false;
    }
  }
  if (watched == MyScrollBox) {
    switch (event->type()) {
      case QEvent::FocusIn:
      case QEvent::FocusOut:
        Repaint();
        return false;
      case QEvent::Wheel:
        MouseWheel(static_cast<QWheelEvent*>(event));
        return true;
      case QEvent::Resize:
        Refresh();
        return false;
      default:
        return false;
    }
  }
  return false;
}

}  // namespace orvella
