#include "image/RowText.h"

#include "rows/CoolListItems.h"

namespace orvella {

std::string ListedCellText(const TCoolItemsList& items, std::size_t row, std::size_t column) {
  const std::uint32_t type = items.Types.at(column);
  return HexFieldCellText(type, FormatCellText(type, items.Items.at(row).Values.at(column)));
}

}  // namespace orvella
