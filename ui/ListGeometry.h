#pragma once
// Geometry of the partition list as plain functions of a few numbers: row bands, hit
// tests, scroll range, progress fill and the pieces and digit gaps of hex fields.

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

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

// Filled width of a progress row `width` pixels wide, exact in 64 bits and kept within
// 0 .. width whatever the values.
constexpr int ProgressFillWidth(int width, std::int64_t progress, std::int64_t maxValue) {
  if (width <= 0) return 0;
  if (progress >= maxValue) return width;
  if (maxValue <= 0 || progress <= 0) return 0;
  // 0 < progress < maxValue: the quotient is below width; the product needs 128 bits.
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(width) * static_cast<Wide>(progress);
  return static_cast<int>(product / static_cast<Wide>(maxValue));
}

// Hex fields: each a run of 16 characters of the cell text.
inline constexpr int kHexFieldChars = 16;
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

// One piece of a hex cell: a field (0-based index, digits shown) or a literal text.
struct THexPiece {
  int Field = -1;  // -1: literal
  int Digits = 0;
  std::string_view Literal;
};

namespace detail {
inline constexpr THexPiece kHexOne[] = {{0, 12, {}}};
inline constexpr THexPiece kHexRange[] = {
    {0, 12, {}}, {-1, 0, ".."}, {1, 12, {}}, {-1, 0, " ("},
    {2, 4, {}},  {-1, 0, ".."}, {3, 4, {}},  {-1, 0, ")"}};
inline constexpr THexPiece kHexSize[] = {{0, 12, {}}, {-1, 0, " ("}, {1, 4, {}}, {-1, 0, ")"}};
}  // namespace detail

// Pieces of cell type 8 (one field), 9 (byte and block range) or 10 (bytes and blocks);
// empty for any other code.
constexpr std::span<const THexPiece> HexPiecesFor(std::uint32_t typeCode) {
  switch (typeCode) {
    case 8: return detail::kHexOne;
    case 9: return detail::kHexRange;
    case 10: return detail::kHexSize;
    default: return {};
  }
}

constexpr bool IsHexFieldType(std::uint32_t typeCode) { return !HexPiecesFor(typeCode).empty(); }

// The digits a field piece shows: field `index` of the cell, cut to its last `digits`
// characters when longer; what the text lacks is simply not there.
constexpr std::string_view FieldDigits(std::string_view cell, int index, int digits) {
  const auto start = static_cast<std::size_t>(index) * kHexFieldChars;
  if (index < 0 || start >= cell.size()) return {};
  std::string_view field = cell.substr(start, kHexFieldChars);
  const auto d = static_cast<std::size_t>(std::max(digits, 0));
  return field.size() > d ? field.substr(field.size() - d) : field;
}

}  // namespace orvella
