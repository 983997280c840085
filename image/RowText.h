#pragma once
// How the partition list shows a hex-field cell, as plain text: the digits the list
// draws for each 16-digit field and the literals between them, without the digit gaps.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvella {

struct TCoolItemsList;

// For type code 8: "0x" + 12 digits; 9: "0xFIRST..0xLAST (0xBBBB..0xBBBB)";
// 10: "0xBYTES (0xBBBB)". Byte fields keep their last 12 digits, block fields their
// last 4; a field shorter than that is used whole. Any other code: `text` unchanged.
std::string HexFieldCellText(std::uint32_t typeCode, const std::string& text);

// The plain text of a cell of the partition list, as `orvella list` and the report show it.
std::string ListedCellText(const TCoolItemsList& items, std::size_t row, std::size_t column);

}  // namespace orvella
