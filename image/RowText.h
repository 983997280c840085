#pragma once
// How the partition list shows a hex-field cell, as plain text: the digits the list
// draws for each 16-digit field and the literals between them, without the digit gaps.

#include <cstdint>
#include <string>

namespace orvella {

// For type code 8: "0x" + 12 digits; 9: "0xFIRST..0xLAST (0xBBBB..0xBBBB)";
// 10: "0xBYTES (0xBBBB)". Byte fields keep their last 12 digits, block fields their
// last 4; a field shorter than that is used whole. Any other code: `text` unchanged.
std::string HexFieldCellText(std::uint32_t typeCode, const std::string& text);

}  // namespace orvella
