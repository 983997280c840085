#pragma once
// How the partition list shows a cell, as plain text: the digits the list draws for each
// 16-digit field and the literals between them, without the digit gaps.

#include <cstddef>
#include <cstdint>
#include <string>

#include "rows/HexFields.h"

namespace orvella {

struct TCoolItemsList;

// The plain text of a cell of the partition list, as `orvella list` and the report show it.
std::string ListedCellText(const TCoolItemsList& items, std::size_t row, std::size_t column);

}  // namespace orvella
