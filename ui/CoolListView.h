#pragma once
// TCoolListView: the owner-drawn partition list. Not a widget of its own: it drives four
// controls of its owner (scroll box, paint box inside it, vertical scroll bar, header),
// paints the row model on a retained image and reports clicks through two events.

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <cstdint>
#include <functional>

#include "rows/CoolListItems.h"
#include "rows/ListEvents.h"
#include "ui/ListGeometry.h"
#include "ui/ScrollBarTag.h"

class QHeaderView;
class QScrollBar;
class QTimer;
class QWheelEvent;
class QWidget;

namespace orvella {

class TCoolListView : public QObject {
  Q_OBJECT

 public:
  // (ItemIndex, Button, X, Y): X and Y are the pointer's screen position when it fires.
  using TOnSelectionChange = std::function<void(int, int, int, int)>;
  // A left-button double-click on an enabled row, or Enter; Sender is always the paint box.
  using TOnDoubleClick = std::function<void(QObject*)>;

  // Hooks the four controls (not owned) and shows an empty grid. fontHeight is the height
  // of the list font's character cell in pixels, fontName its face.
  TCoolListView(QObject* owner, QWidget* scrollBox, QWidget* paintBox, QScrollBar* scrollBar,
                QHeaderView* header, int fontHeight, const QString& fontName);
  ~TCoolListView() override;

  TCoolListView(const TCoolListView&) = delete;
  TCoolListView& operator=(const TCoolListView&) = delete;

  // The cursor row, -1 for none. Setting repaints and fires OnSelectionChange (left
  // button); a value outside 0 .. Count - 1 becomes -1.
  int ItemIndex() const { return Cursor; }
  void SetItemIndex(int value);

  // The model; not owned, read at every paint, so it must outlive its attachment (the
  // window repaints while it closes). Call Refresh after changing it.
  PCoolItemsList pCoolItemsList() const { return CoolItemsList; }
  void SetpCoolItemsList(PCoolItemsList list) { CoolItemsList = list; }

  // Whole rows that fit (recounted by Refresh).
  int ScreenLines() const { return fScreenLines; }
  void SetScreenLines(int lines) { fScreenLines = lines; }
  // Text is drawn this many pixels above each row's text line.
  int BottomTextMargin() const { return bTextMargin; }
  void SetBottomTextMargin(int pixels) { bTextMargin = pixels; }
  // Pixels added to the character height to make the row pitch; applies at Refresh.
  int RowHeightIncrease() const { return bRowHeightIncrease; }
  void SetRowHeightIncrease(int pixels) { bRowHeightIncrease = pixels; }
  // Whether the 10 ms timer paints queued repaints.
  bool MultiThreadRepaint() const;
  void SetMultiThreadRepaint(bool on);

  TOnSelectionChange OnSelectionChange;
  TOnDoubleClick OnDoubleClick;

  // Rebuilds the surface at the paint box's size, recounts lines, sets up the scroll
  // bar and repaints.
  void Refresh();
  // Paints the retained surface now and shows it.
  void Repaint();
  // Asks the timer for a repaint (only while MultiThreadRepaint is on).
  void QueueRepaint() { fNeedRepaint = true; }
  // Scrolls so the cursor row stands visibleOffset rows below the top; -1: last whole row.
  void RewindCursorVisible(int visibleOffset);
  // Empties the model's arrays; Count stays for the owner to reset.
  void FreeDataFields();
  // Keyboard navigation by virtual-key code (ListKeyMove); lParam is unused. Always true.
  bool ProcessKeyboardInput(std::uintptr_t wParam, std::intptr_t lParam);

  // State for the owner and for tests.
  int TopRow() const { return fTopRow; }               // first row shown
  int RowPitch() const { return fTextExt.height(); }   // row pitch in pixels
  QSize CharCell() const { return fTextExt; }          // width of "0", row pitch
  int WholeLines() const { return DebugLines; }
  const TScrollSetup& ScrollSetup() const { return fScroll; }
  const QImage& Surface() const { return MainSurface; }
  const QFont& ListFont() const { return MainFn; }
  const TExtraWidths& ExtraWidths() const { return fExtraWidths; }
  int CurrentItemClicked() const { return fCurrentItemClicked; }
  QPoint LastMouseDown() const { return {MouseX, MouseY}; }   // in the paint box
  bool NeedRepaint() const { return fNeedRepaint; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool ControlsAlive() const;
  bool ScrollBarEnabled() const;
  int RowCount() const;
  void RebuildSurface();
  void FireSelectionChange(int button);
  void PaintBoxMouseDown(int button, QPoint position);
  void PaintBoxDoubleClick();
  void ScrollBoxMouseWheel(int delta);
  void MouseWheel(QWheelEvent* wheel);
  void ScrollBarScroll(int requestedPosition);
  void TimerTick();
  void SetScrollPosition(int position);

  QPointer<QWidget> MyScrollBox;
  QPointer<QWidget> MyPaint;
  QPointer<QScrollBar> MyScrollBar;
  QPointer<QHeaderView> MyHeader;
  QTimer* MyTimer = nullptr;

  PCoolItemsList CoolItemsList = nullptr;
  QImage MainSurface;
  bool fSurfaceReady = false;  // false until the first Refresh
  QFont MainFn;
  QSize fTextExt{1, 1};
  int DebugLines = 0;
  int Cursor = -1;
  int fTopRow = 0;  // the scroll position the bar shows
  int bTextMargin = 0;
  int bRowHeightIncrease = 0;
  int fScreenLines = 0;
  int fCurrentItemClicked = -1;
  int MouseX = 0;
  int MouseY = 0;
  bool fNeedRepaint = false;
  TScrollSetup fScroll;
  TExtraWidths fExtraWidths{};
};

}  // namespace orvella
