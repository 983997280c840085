#pragma once
// The fixed colours of the partition list and the hex views, 0x00BBGGRR (low byte red).

#include "rows/CoolListItems.h"

namespace orvella {

// Both views.
inline constexpr TColorRef kColorBackground = 0xFFFFFF;
inline constexpr TColorRef kColorBacklines = 0xF0F0F0;  // grid lines

// The list's cursor row.
inline constexpr TColorRef kColorFocusedCursor = 0xFF9933;
inline constexpr TColorRef kColorUnfocusedCursor = 0xC0C0C0;

// The hex view's texts and its marked block.
inline constexpr TColorRef kColorAddressText = 0x808000;
inline constexpr TColorRef kColorEvenByteText = 0xFF0000;
inline constexpr TColorRef kColorOddByteText = 0x800000;
inline constexpr TColorRef kColorBlockBackground = 0x000000;
inline constexpr TColorRef kColorBlockText = 0xFFFFFF;

}  // namespace orvella
