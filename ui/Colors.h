#pragma once
// The one conversion from the model's 0x00BBGGRR colour references to Qt colours.

#include <QColor>

#include "rows/CoolListItems.h"

namespace orvella {

// 0x00BBGGRR (low byte red) as an opaque QColor.
inline QColor ColorFromRef(TColorRef ref) {
  return QColor(static_cast<int>(ref & 0xFFu), static_cast<int>((ref >> 8) & 0xFFu),
                static_cast<int>((ref >> 16) & 0xFFu));
}

}  // namespace orvella
