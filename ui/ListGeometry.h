#pragma once
// Geometry of the partition list as plain functions of a few numbers: row bands, hit
// tests, scroll range, progress fill, the digit gaps of hex fields, and where the
// navigation keys move the cursor.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

#include "rows/HexFields.h"

namespace orvella {

// Screen row k of the list: its text line and the band its background fills.
// Top is included, Bottom excluded, so the grid line at (k + 1) * pitch stays visible.
struct TRowBand {
  int TextLine = 0;
  int Top = 0;
  int Bottom = 0;
};

constexpr TRowBand RowBandOf(int k, int rowPitch) {
  const int y = 3 + k * rowPitch;
  return {y, y - 2, y + rowPitch - 3};
}

// Whole rows that fit in `height` pixels.
constexpr int WholeLines(int height, int rowPitch) {
  return (rowPitch > 0 && height > 0) ? height / rowPitch : 0;
}

// Row under paint-box y when `topRow` is the first row shown; -1 when there is none.
constexpr int RowAtPoint(int y, int rowPitch, int topRow, int count) {
  if (rowPitch <= 0 || y < 0) return -1;
  const int r = y / rowPitch + topRow;
  return (r >= 0 && r < count) ? r : -1;
}

// How many screen rows Repaint draws: all whole lines while the bar scrolls, else every
// row; none when that exceeds the row count (a model emptied before the next Refresh).
constexpr int RowsToDraw(bool barEnabled, int wholeLines, int count) {
  const int n = barEnabled ? wholeLines : count;
  return n > count ? 0 : std::max(n, 0);
}

// Scroll bar set-up for `count` rows of which `screenLines` fit. Maximum and PageSize
// keep the classic meaning (positions 0 .. Maximum - PageSize + 1).
struct TScrollSetup {
  bool Active = false;
  int Maximum = 0;
  int PageSize = 0;
  int SmallChange = 1;
  int LargeChange = 1;
};

constexpr TScrollSetup ScrollSetupFor(int count, int screenLines) {
  if (screenLines < count) return {true, count, screenLines + 1, 1, std::max(screenLines, 1)};
  return {};
}

// The largest position the list scrolls to: the last row is then the last whole line.
constexpr int LargestPosition(int maximum, int screenLines) {
  return std::max(maximum - screenLines, 0);
}

constexpr int ClampPosition(int position, int maximum, int screenLines) {
  return std::clamp(position, 0, LargestPosition(maximum, screenLines));
}

// floor(a * b / d) for 0 <= a, 0 <= b < d, exact whatever the sizes: the product is
// taken one bit of `a` at a time, keeping only its remainder by `d` (below 2^63, so no
// step overflows 64 bits).
constexpr std::int64_t ScaledDown(std::int64_t a, std::int64_t b, std::int64_t d) {
  const auto ub = static_cast<std::uint64_t>(b);
  const auto ud = static_cast<std::uint64_t>(d);
  std::uint64_t quotient = 0;
  std::uint64_t remainder = 0;
  for (int bit = 62; bit >= 0; --bit) {
    quotient <<= 1;
    remainder <<= 1;
    if (remainder >= ud) {
      remainder -= ud;
      quotient |= 1;
    }
    if ((static_cast<std::uint64_t>(a) >> bit) & 1u) {
      remainder += ub;
      if (remainder >= ud) {
        remainder -= ud;
        ++quotient;
      }
    }
  }
  return static_cast<std::int64_t>(quotient);
}

// Filled width of a progress row `width` pixels wide, exact in 64 bits and kept within
// 0 .. width whatever the values.
constexpr int ProgressFillWidth(int width, std::int64_t progress, std::int64_t maxValue) {
  if (width <= 0) return 0;
  if (progress >= maxValue) return width;
  if (maxValue <= 0 || progress <= 0) return 0;
  // 0 < progress < maxValue: the quotient is below width.
  return static_cast<int>(ScaledDown(width, progress, maxValue));
}

// Hex fields (rows/HexFields.h): the extra pixels after grouped digits.
inline constexpr int kDigitGap = 2;  // extra pixels after a grouped digit

// Per digit position 0-15 of one field: the extra pixels after that digit.
using TExtraWidths = std::array<int, 16>;

// Gaps for an n-digit field: after every fourth digit counted from the right end.
constexpr TExtraWidths ExtraWidthsFor(int n) {
  TExtraWidths gaps{};
  const int r = (n % 4 == 0) ? 4 : n % 4;
  for (int i = r; i < n && i <= 16; i += 4) gaps[static_cast<std::size_t>(i - 1)] = kDigitGap;
  return gaps;
}

// Virtual-key codes that the list's keyboard input understands.
inline constexpr std::uintptr_t vkReturn = 13;
inline constexpr std::uintptr_t vkEscape = 27;
inline constexpr std::uintptr_t vkPrior = 33;  // Page Up
inline constexpr std::uintptr_t vkNext = 34;   // Page Down
inline constexpr std::uintptr_t vkEnd = 35;
inline constexpr std::uintptr_t vkHome = 36;
inline constexpr std::uintptr_t vkUp = 38;
inline constexpr std::uintptr_t vkDown = 40;

// What a key does to the list: the cursor set (to a row, or -1 for none) and then the
// list scrolled so the cursor row stands `Rewind` rows below the top (-1: on the last
// whole row), or the cursor row activated as by a double-click.
inline constexpr int kNoRewind = INT_MIN;
struct TListKeyMove {
  bool SetsCursor = false;
  int Cursor = -1;
  int Rewind = kNoRewind;
  bool Activates = false;
};

// The cursor a list of `count` rows takes for `row`: -1 outside them.
constexpr int CursorFor(int row, int count) { return row >= 0 && row < count ? row : -1; }

// Key `key` with the cursor on `cursor` (-1: none), `top` the first row shown and
// `screenLines` whole rows on screen.
constexpr TListKeyMove ListKeyMove(std::uintptr_t key, int cursor, int top, int screenLines,
                                   int count) {
  const int bottom = top + screenLines - 1;
  const bool visible = cursor >= top && cursor <= bottom;
  TListKeyMove m;
  const auto set = [&](int row) {
    m.SetsCursor = true;
    m.Cursor = CursorFor(row, count);
    cursor = m.Cursor;
  };
  switch (key) {
    case vkReturn:
      m.Activates = true;
      break;
    case vkPrior:
      if (!visible) {
        m.Rewind = 0;
        break;
      }
      set(cursor == top ? std::max(top - screenLines, 0) : top);
      if (cursor < top) m.Rewind = 0;
      break;
    case vkNext:
      if (!visible) {
        m.Rewind = -1;
        break;
      }
      set(cursor == bottom ? std::min(cursor + screenLines, count - 1) : std::min(bottom, count - 1));
      if (cursor > bottom) m.Rewind = -1;
      break;
    case vkEnd:
      set(count - 1);
      m.Rewind = -1;
      break;
    case vkHome:
      set(0);
      m.Rewind = 0;
      break;
    case vkUp:
      if (cursor != 0) set(cursor - 1);
      if (cursor < top) m.Rewind = 0;
      break;
    case vkDown:
      if (count > 0 && cursor < count - 1) set(cursor + 1);
      if (cursor < top)
        m.Rewind = 0;
      else if (cursor > bottom)
        m.Rewind = -1;
      break;
    default:  // Escape and every other key: nothing
      break;
  }
  return m;
}

}  // namespace orvella
