#pragma once
// The hex-field cells of the partition list (type codes 8, 9 and 10): the cell text is a
// run of 16-character fields, shown as "0x" and their last digits with literals between
// them. One table of pieces serves the list's drawing and the plain text of a cell.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rows/CoolListItems.h"

namespace orvella {

// Characters of one field in the cell text.
inline constexpr int kHexFieldChars = 16;

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
// empty for any other code, 0x109 among them: the list lays hex fields out by the full code.
constexpr std::span<const THexPiece> HexPiecesFor(std::uint32_t typeCode) {
  switch (typeCode) {
    case ctHexField: return detail::kHexOne;
    case ctAddressRange: return detail::kHexRange;
    case ctSizeField: return detail::kHexSize;
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

// A hex-field cell as one line of text, without the list's digit gaps: type 8
// "0x" + 12 digits; 9 "0xFIRST..0xLAST (0xBBBB..0xBBBB)"; 10 "0xBYTES (0xBBBB)". Any
// other code: `text` unchanged.
std::string HexFieldCellText(std::uint32_t typeCode, std::string_view text);

}  // namespace orvella
