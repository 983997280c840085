#include "image/RowText.h"

#include "ui/CoolListItems.h"

namespace orvella {

namespace {

constexpr std::size_t kFieldChars = 16;
constexpr std::size_t kByteDigits = 12;
constexpr std::size_t kBlockDigits = 4;

std::string FieldPiece(const std::string& text, std::size_t index, std::size_t digits) {
  const std::size_t start = index * kFieldChars;
  std::string field = start < text.size() ? text.substr(start, kFieldChars) : std::string();
  if (field.size() > digits) field.erase(0, field.size() - digits);
  return "0x" + field;
}

}  // namespace

std::string HexFieldCellText(std::uint32_t typeCode, const std::string& text) {
  // The list lays out hex fields by the full code, so 0x109 is plain text.
  switch (typeCode) {
    case ctHexField:
      return FieldPiece(text, 0, kByteDigits);
    case ctAddressRange:
      return FieldPiece(text, 0, kByteDigits) + ".." + FieldPiece(text, 1, kByteDigits) + " (" +
             FieldPiece(text, 2, kBlockDigits) + ".." + FieldPiece(text, 3, kBlockDigits) + ")";
    case ctSizeField:
      return FieldPiece(text, 0, kByteDigits) + " (" + FieldPiece(text, 1, kBlockDigits) + ")";
    default:
      return text;
  }
}

std::string ListedCellText(const TCoolItemsList& items, std::size_t row, std::size_t column) {
  const std::uint32_t type = items.Types.at(column);
  return HexFieldCellText(type, FormatCellText(type, items.Items.at(row).Values.at(column)));
}

}  // namespace orvella
