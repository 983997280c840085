#pragma once
// Read-only hex viewer for one byte range (the chunk) of a file on disk. A component
// that drives three controls of its window: a scroll box, a paint box inside it and a
// vertical scroll bar. 16 bytes per line: address, hex bytes, characters.

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
#include <optional>
#include <string>
#include <vector>

#include "rows/CoolListItems.h"
#include "ui/HexDataWindow.h"

class QKeyEvent;
class QMenu;

namespace orvella {

// Where a paint-box point falls: byte offset from the top line's first byte.
struct HexHit {
  std::int64_t Offset = 0;
  bool InCharColumn = false;
};

// Geometry of the view from the character cell (cx, cy): pure functions, no widgets.
struct HexGeometry {
  int cx = 1;
  int cy = 1;

  constexpr int L1() const { return 8 * cx + 5; }              // after the address column
  constexpr int L2() const { return cx * (8 + 16 * 3) + 7; }   // between hex and chars
  constexpr int HexX(int k) const { return L1() + 3 * k * cx + 5; }
  constexpr int CharX(int k) const { return L2() + k * cx + 5; }
  // Width of the black box behind a marked byte's hex text.
  constexpr int HexBoxWidth(std::int64_t addr, std::int64_t blockEnd) const {
    return (addr % 16 == 15 || addr == blockEnd) ? 2 * cx : 3 * cx;
  }
  // Paint-box point to byte offset from the top line; the range is not checked.
  constexpr HexHit HitTest(int x, int y) const {
    const std::int64_t row = y / cy;
    const int xr = x - (L1() + 5);
    int column = 0;
    if (xr >= 0) {
      column = xr / (3 * cx);
      if (xr % (3 * cx) > 2 * cx + cx / 2) ++column;
    }
    if (L1() + 5 + 3 * cx * column > L2()) {
      column = (x - L2()) / cx;
      if (column > 15) column = 15;
      return {row * 16 + column, true};
    }
    return {row * 16 + column, false};
  }
};

// 0x00BBGGRR colour reference to a QColor.
QColor HexColorFromRef(TColorRef ref);

// Text of byte `b` in the character column: "." for 0x00..0x1F and 0x7F..0x9F, else the
// code point U+0020..U+00FF of the same value.
QString HexCharText(std::uint8_t b);

class WindowPort;

// What the user typed into "Go to offset": a hexadecimal partition offset ("1A2B",
// "0x1A2B") or, after "@", a file offset. Nothing for anything else.
struct HexOffsetInput {
  std::int64_t Value = 0;
  bool FileOffset = false;
};
std::optional<HexOffsetInput> ParseHexOffset(const QString& text);

// What the user typed into "Find": hexadecimal bytes ("DE AD BE EF", "deadbeef") or text
// in double quotes (characters up to U+00FF, one byte each). Empty with `error` set when
// the text is neither or longer than a search takes.
std::vector<std::uint8_t> ParseFindPattern(const QString& text, QString& error);

// Bytes as "DE AD BE EF", and as the character column shows them.
QString HexBytesText(const std::vector<std::uint8_t>& bytes);
QString CharBytesText(const std::vector<std::uint8_t>& bytes);

class THEXView : public QObject {
  Q_OBJECT

 public:
  static constexpr int BytesInAddr = 8;
  static constexpr int BytesInLine = 16;
  static constexpr int kWheelLines = 6;
  static constexpr int kBusyMarker = 0x1234;  // scroll bar "Tag" while the view moves it
  static constexpr const char* kFontName = "Courier";
  static constexpr int kFontHeight = 13;  // character-cell height in pixels

  static constexpr TColorRef kBackground = 0xFFFFFF;
  static constexpr TColorRef kGridLines = 0xF0F0F0;
  static constexpr TColorRef kBlockBackground = 0x000000;
  static constexpr TColorRef kBlockText = 0xFFFFFF;
  static constexpr TColorRef kAddressText = 0x808000;
  static constexpr TColorRef kEvenByteText = 0xFF0000;
  static constexpr TColorRef kOddByteText = 0x800000;

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

  std::int64_t ChunkLength() const { return fData.desc().ChunkLength; }
  std::int64_t TopAddress() const { return CAddrs; }      // first byte of the top line
  std::int64_t CaretAddress() const { return RAddrs; }
  bool CaretInCharColumn() const { return CarPos != 0; }
  bool HasBlock() const { return fBlockMarked; }
  std::int64_t BlockBegin() const { return BlBegs; }
  std::int64_t BlockEnd() const { return BlEnds; }
  int ScreenLines() const { return DebugLines; }          // whole lines that fit
  int Position() const;                                   // top line
  // Largest reachable top line (0 when everything fits).
  int MaxPosition() const;
  HexGeometry Geometry() const { return {fCell.cx, fCell.cy}; }
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

  // The commands behind the keys and the menu.
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
  void PaintAt(std::int64_t top);
  void DrawSurface(std::int64_t top);
  void SetupScrollRange();
  void ScrollTo(int position);
  void OnScrollAction(int action);
  void OnScrollReleased();
  void OnWheel(int angleDelta);
  void MouseDown(Qt::MouseButton button, QPoint p, QPoint global);
  bool KeyPress(const QKeyEvent& e);
  void MoveCaret(int key, bool ctrl, bool shift);
  void ShowTop(std::int64_t top);
  void MarkFound(std::int64_t address, std::int64_t length);
  void BuildMenu();
  void ShowMenu(const QPoint& global);
  void Status(const QString& text);
  void Refuse(const QString& text);
  // Block bounds clamped to the chunk, or the caret's byte.
  void Selection(std::int64_t& from, std::int64_t& n) const;
  void MouseMove(QPoint p);
  void HideCaret();
  void ShowCaret();
  void PlaceCaret(bool scrollToIt);
  void LoseCaret();
  void BlinkCaret();
  void SetBusy(bool busy);
  bool IsBusy() const;

  int CarPos = 0;
  std::int64_t CAddrs = 0;
  std::int64_t RAddrs = 0;
  std::int64_t BlEnds = -1;
  std::int64_t BlBegs = -1;
  bool fBlockMarked = false;
  bool MouseDowned = false;
  std::int64_t TempBBeg = 0;

  // THexPaintData: the surface (null until there is a paint box to size it), font, cell.
  QImage MainBP;
  QFont MainFn;
  HexGeometry fCell;
  int DebugLines = 0;
  int fAscent = 0;

  QPoint ChildsCaret{0, 0};
  int CaretH = 1;
  std::int64_t OldX = -1;
  std::int64_t OldY = -1;
  int DownX = -1;
  int DownY = -1;
  int FontHeight = 1;
  int fMaximum = 0;      // scroll range maximum: number of lines
  int fWheelDelta = 0;   // wheel angle not yet turned into steps

  HexDataWindow fData;

  // The far end of a block marked from the keyboard (a byte boundary, TempBBeg the other).
  std::int64_t fMoving = 0;
  WindowPort* fPort = nullptr;
  QMenu* fMenu = nullptr;  // owned by the scroll box
  std::vector<std::uint8_t> fPattern;
  QString fPatternText;
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
