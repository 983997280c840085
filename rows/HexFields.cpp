#include "rows/HexFields.h"

namespace orvella {

std::string HexFieldCellText(std::uint32_t typeCode, std::string_view text) {
  if (!IsHexFieldType(typeCode)) return std::string(text);
  std::string out;
  for (const THexPiece& piece : HexPiecesFor(typeCode)) {
    if (piece.Field < 0) {
      out += piece.Literal;
    } else {
      out += "0x";
      out += FieldDigits(text, piece.Field, piece.Digits);
    }
  }
  return out;
}

}  // namespace orvella
