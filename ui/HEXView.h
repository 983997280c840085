#pragma once
// Read-only hex viewer for one byte range (the chunk) of a file on disk. A component
// that drives three controls of its window: a scroll box, a paint box inside it and a
// vertical scroll bar. 16 bytes per line: address, hex bytes, characters. Its rules are
// HexViewState's (plain C++); this class paints, passes events and opens prompts.

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QScrollBar>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/HexDataWindow.h"
#include "ui/HexViewState.h"
#include "ui/ViewColors.h"

class QKeyEvent;
class QMenu;

namespace orvella {

class WindowPort;

class THEXView : public QObject {
  Q_OBJECT

 public:
  static constexpr int BytesInAddr = 8;
  static constexpr int BytesInLine = HexViewState::kBytesInLine;
  static constexpr const char* kFontName = "Courier";
  static constexpr int kFontHeight = 13;  // character-cell height in pixels

  // CreateHEXView: hooks the controls (not owned), builds the surface, shows nothing.
  THEXView(QObject* owner, QWidget* scrollBox, QWidget* paintBox, QScrollBar* scrollBar);
  ~THEXView() override;

  // Shows `chunkLength` bytes of the file from `fileOffset`, from address 0 with the
  // caret hidden on byte 0. A missing file or a chunk past its end empties the view.
  void InitializeViewData(const std::string& fileName, std::int64_t fileOffset,
                          std::int64_t chunkLength);
  void InitializeViewData(const QString& fileName, std::int64_t fileOffset,
                          std::int64_t chunkLength);

  // Rebuilds the surface and the scroll range for the paint box's size and repaints.
  void Relayout();

  const HexViewState& State() const { return fState; }
  std::int64_t ChunkLength() const { return fState.ChunkLength(); }
  std::int64_t TopAddress() const { return fState.TopAddress(); }  // first byte of the top line
  std::int64_t CaretAddress() const { return fState.Caret(); }
  bool CaretInCharColumn() const { return fState.CharColumn(); }
  bool HasBlock() const { return fState.HasBlock(); }
  std::int64_t BlockBegin() const { return fState.BlockBegin(); }
  std::int64_t BlockEnd() const { return fState.BlockEnd(); }
  int ScreenLines() const { return fState.ScreenLines(); }  // whole lines that fit
  int Position() const { return fState.Position(); }        // top line
  // Largest reachable top line (0 when everything fits).
  int MaxPosition() const { return fState.MaxPosition(); }
  HexGeometry Geometry() const { return fCell; }
  const QFont& ViewFont() const { return MainFn; }
  // The retained off-screen picture the paint box shows.
  const QImage& Surface() const { return MainBP; }
  const HexDataWindow& DataWindow() const { return fData; }
  // True while this view owns the process caret and shows it (blink phase aside).
  bool CaretShown() const;
  // Caret position on the scroll box (saved position while hidden).
  QPoint CaretPosition() const;
  // The caret bar widget, child of the scroll box.
  const QWidget* CaretWidget() const { return fCaret.data(); }

  // The view that shows the process caret, or none.
  static THEXView* CaretOwner();

  // Where prompts, dialogs, error boxes, the status text and the gauge go (not owned).
  // Without one the view does nothing that needs them.
  void SetPort(WindowPort* port) { fPort = port; }
  // Opens the right-click menu at a screen point; empty means the real menu.
  std::function<void(QMenu& menu, const QPoint& screenPoint)> PopupHook;
  // The right-click menu; its actions are named <what>Item<suffix of the scroll box>.
  QMenu* Menu() const { return fMenu; }

  // The commands behind the keys and the menu (HexCommands.cpp).
  void GoToPrompt();
  void FindPrompt();
  // From the caret; forwards with F3, backwards with Shift+F3. Prompts when nothing was
  // searched yet.
  void FindAgain(bool forward);
  // The marked block, or the caret's byte, into the clipboard.
  void CopyBlock(bool asText);
  void SaveBlockAs();
  bool Searching() const { return fSearching; }
  // Chunk bytes a search reads at a time (tests make it small).
  void SetFindBlockSize(std::int64_t bytes) { fFindBlock = bytes; }
  // Searches longer than this many bytes show the gauge, let the window run, and stop on
  // Esc.
  static constexpr std::int64_t kLongSearch = 0x400000;
  // Largest block copied into the clipboard; larger ones are saved instead.
  static constexpr std::int64_t kMaxCopy = 0x1000000;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PaintAt();
  void DrawSurface();
  void SetupScrollRange();
  // Shows line `position` (clamped) on top: moves the bar, repaints, places the caret.
  void ScrollTo(int position);
  // As ScrollTo, and hides the caret while a block is marked.
  void ShowTop(int position);
  void OnScrollAction(int action);
  void OnScrollReleased();
  void OnWheel(int angleDelta);
  void MouseDown(Qt::MouseButton button, QPoint p, QPoint global);
  void MouseMove(QPoint p);
  bool KeyPress(const QKeyEvent& e);
  void BuildMenu();
  void ShowMenu(const QPoint& global);
  void Status(const std::string& text);
  void Refuse(const std::string& text);
  void HideCaret();
  void ShowCaret();
  void PlaceCaret(bool scrollToIt);
  void LoseCaret();
  void BlinkCaret();

  HexViewState fState;
  HexDataWindow fData;

  // THexPaintData: the surface (null until there is a paint box to size it), font, cell.
  QImage MainBP;
  QFont MainFn;
  HexGeometry fCell;
  int fAscent = 0;

  QPoint ChildsCaret{0, 0};

  WindowPort* fPort = nullptr;
  QMenu* fMenu = nullptr;  // owned by the scroll box
  std::vector<std::uint8_t> fPattern;
  std::string fPatternText;
  std::int64_t fFindBlock = 0;
  bool fSearching = false;
  bool fStopSearch = false;
  long fGeneration = 0;  // counts InitializeViewData, so a search sees a change of chunk

  QPointer<QWidget> MyPanel;
  QPointer<QWidget> MyPaint;
  QPointer<QScrollBar> MyScroll;
  QPointer<QWidget> fCaret;  // owned by the scroll box
  QTimer fBlink;
};

}  // namespace orvella
