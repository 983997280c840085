#pragma once
// The hex view's rules in plain C++: where a point falls, where the caret and the marked
// block stand, which line is on top and how the keys, the mouse, the wheel, go to and find
// move them; what the user types into go to and find, and the texts of bytes. The Qt view
// (HEXView.h) keeps one of these, shows it and passes it its events.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/HexSearch.h"

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
  // Left edge of the caret on byte `column` of a line, in the hex or character column.
  constexpr int CaretX(int column, bool charColumn) const {
    return charColumn ? L2() + 5 + column * cx : L1() + 5 + column * 3 * cx;
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

// The keys that move the caret.
enum class HexKey { Left, Right, Up, Down, PageUp, PageDown, Home, End };

class HexViewState {
 public:
  static constexpr int kBytesInLine = 16;
  static constexpr int kWheelLines = 6;
  static constexpr int kWheelNotch = 120;  // wheel angle of one notch

  // A new chunk of `chunkLength` bytes: top line 0, caret on byte 0, no block. The
  // caret's column stays.
  void Reset(std::int64_t chunkLength);
  // `screenLines` whole lines fit; the top line stays where it can.
  void SetScreenLines(int screenLines);

  std::int64_t ChunkLength() const { return chunk_; }
  int ScreenLines() const { return screenLines_; }
  // Lines of the chunk (the scroll range), and the largest top line.
  int Lines() const { return lines_; }
  int MaxPosition() const;
  int Position() const { return position_; }
  std::int64_t TopAddress() const { return std::int64_t{position_} * kBytesInLine; }
  // `top` clamped to the lines the view can put on top.
  int ClampTop(std::int64_t top) const;
  // Makes `position` (already clamped) the top line.
  void SetPosition(int position) { position_ = position; }

  std::int64_t Caret() const { return caret_; }
  bool CharColumn() const { return charColumn_; }
  void ToggleColumn() { charColumn_ = !charColumn_; }
  bool HasBlock() const { return marked_; }
  std::int64_t BlockBegin() const { return blockBegin_; }
  std::int64_t BlockEnd() const { return blockEnd_; }
  bool InBlock(std::int64_t address) const;
  // The caret's place on screen: line from the top (may be off screen) and column.
  std::int64_t CaretLine() const { return caret_ / kBytesInLine - position_; }
  int CaretColumn() const { return static_cast<int>(caret_ % kBytesInLine); }
  // The top line that brings the caret's line on screen; nothing when it is on screen.
  std::optional<int> PositionShowingCaret() const;

  // A key moves the caret (with Shift the block's moving end); the top line to show.
  // Nothing for an empty chunk.
  std::optional<int> MoveCaret(HexKey key, bool ctrl, bool shift);

  // The left button pressed at paint-box point (x, y) over `hit`: a marked block is
  // dropped (BlockDropped) and, over a byte of the chunk, the caret goes there and a drag
  // may start (OnData).
  struct Press {
    bool BlockDropped = false;
    bool OnData = false;
  };
  Press MousePress(int x, int y, HexHit hit);
  bool MouseDown() const { return mouseDown_; }
  void MouseRelease() { mouseDown_ = false; }
  // The pointer moved to (x, y) over `hit` with the button down: the block begins
  // (Started: the caret hides) or changes (Changed: repaint).
  struct Drag {
    bool Started = false;
    bool Changed = false;
  };
  Drag MouseMove(int x, int y, HexHit hit);

  // Wheel turns add up; each whole notch is one step of kWheelLines lines.
  void AddWheel(int angleDelta) { wheel_ += angleDelta; }
  std::optional<int> TakeWheelStep();

  // "Go to offset": what the user typed and the chunk's first file offset. The caret
  // moves there (the top line to show in `top`), or the refusal says why not.
  std::string GoTo(std::string_view typed, std::int64_t fileBase, int& top);
  // A search found `length` bytes at `address`: they become the block; the top line to show.
  int MarkFound(std::int64_t address, std::int64_t length);
  // Where a search starts: the caret's byte, or just after a marked block's first byte
  // (so that F3 moves on from the run found last); backwards from before either.
  std::int64_t FindOrigin(bool forward) const;
  // The bytes copy and save take: the block clamped to the chunk, or the caret's byte.
  void Selection(std::int64_t& from, std::int64_t& n) const;

 private:
  void DropBlock();

  std::int64_t chunk_ = 0;
  int screenLines_ = 0;
  int lines_ = 0;
  int position_ = 0;
  std::int64_t caret_ = 0;
  bool charColumn_ = false;
  bool marked_ = false;
  std::int64_t blockBegin_ = -1;
  std::int64_t blockEnd_ = -1;
  std::int64_t anchor_ = 0;  // the block's fixed end: a byte boundary
  std::int64_t moving_ = 0;  // its end the keys move: a byte boundary
  bool mouseDown_ = false;
  int downX_ = -1;
  int downY_ = -1;
  std::int64_t shownBegin_ = -1;  // the block as last painted during a drag
  std::int64_t shownEnd_ = -1;
  int wheel_ = 0;  // wheel angle not yet turned into steps
};

// What the user typed into "Go to offset": a hexadecimal partition offset ("1A2B",
// "0x1A2B") or, after "@", a file offset. Nothing for anything else.
struct HexOffsetInput {
  std::int64_t Value = 0;
  bool FileOffset = false;
};
std::optional<HexOffsetInput> ParseHexOffset(std::string_view text);

// What the user typed into "Find": hexadecimal bytes ("DE AD BE EF", "deadbeef") or text
// in double quotes (characters up to U+00FF, one byte each). Empty with `error` set when
// the text is neither or longer than a search takes.
std::vector<std::uint8_t> ParseFindPattern(std::string_view text, std::string& error);

// Text of byte `b` in the character column (UTF-8): "." for 0x00..0x1F and 0x7F..0x9F,
// else the code point U+0020..U+00FF of the same value.
std::string HexCharText(std::uint8_t b);
// Bytes as "DE AD BE EF", and as the character column shows them.
std::string HexBytesText(const std::vector<std::uint8_t>& bytes);
std::string CharBytesText(const std::vector<std::uint8_t>& bytes);
// A chunk address as the view's messages write it: "0x" and at least 8 digits.
std::string HexAddressText(std::int64_t address);
// Text without the white space at its ends (Unicode's, as the prompts' text has it).
std::string TrimmedText(std::string_view text);

// The status text of a search for `patternText`; empty for a failed read, which an
// error box reports instead.
std::string FindStatusText(const FindResult& result, bool forward, const std::string& patternText);

}  // namespace orvella
