#pragma once
// Row model of the partition list: plain records the image model fills and the list
// control draws. No toolkit types here, so the image model can build it without Qt.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace orvella {

// Colours are 0x00BBGGRR values (low byte red).
using TColorRef = std::uint32_t;

// The four text colours of one cell.
struct TCoolColoredItem {
  TColorRef ColorCursorNormal = 0;    // cursor row, not selected
  TColorRef ColorCursorSelected = 0;  // cursor row, selected
  TColorRef ColorNormalNormal = 0;    // other row, not selected
  TColorRef ColorNormalSelected = 0;  // other row, selected

  // The four-way rule: cursor row or not, selected or not.
  TColorRef Pick(bool isCursor, bool isSelected) const {
    if (isCursor) return isSelected ? ColorCursorSelected : ColorCursorNormal;
    return isSelected ? ColorNormalSelected : ColorNormalNormal;
  }
};

// What a cell shows: a reference to a value kept elsewhere (a row field), read at every
// paint so that changing the field changes the cell. Empty means nothing to show.
using TCellRef = std::variant<std::monostate, const std::uint32_t*, const std::string*>;

// One row.
struct TCoolViewItem {
  std::uint32_t Parent = 0;             // owner's word; the control never reads it
  std::vector<TCellRef> Values;         // one per column
  std::vector<TCoolColoredItem> Colors; // one per column
  bool Selected = false;                // row is marked
  bool IsProgress = false;              // row is drawn as a progress bar
  bool Enabled = true;                  // false: clicks and double-clicks are ignored
  std::int64_t Progress = 0;
  std::int64_t MaxValue = 0;
};

// The whole model. The list control never owns it.
struct TCoolItemsList {
  std::int32_t Count = 0;
  std::vector<std::uint32_t> Types;     // one column type code per column
  std::vector<TCoolViewItem> Items;
  TColorRef ColorNormalProgressBackground = 0;
  TColorRef ColorNormalProgressForeground = 0;
  TColorRef ColorCursorProgressBackground = 0;
  TColorRef ColorCursorProgressForeground = 0;
};

using PCoolItemsList = TCoolItemsList*;

// Column type codes (the low byte of a Types entry).
enum ColumnType : std::uint32_t {
  ctDecimal = 0,
  ctText = 1,
  ctHex2 = 2,
  ctHex4 = 3,
  ctHex8 = 4,
  ctHex2Prefixed = 5,
  ctHex4Prefixed = 6,
  ctHex8Prefixed = 7,
  ctHexField = 8,      // one 16-digit field
  ctAddressRange = 9,  // four 16-digit fields: first byte, last byte, first block, last block
  ctSizeField = 10,    // two 16-digit fields: bytes, blocks
};

// The text of a cell: the value behind `value` formatted by the low byte of `typeCode`.
// Codes 11-255, an empty reference, or a reference of the wrong kind give empty text.
std::string FormatCellText(std::uint32_t typeCode, const TCellRef& value);

}  // namespace orvella
