#pragma once
// The numbers of the window's glyphs (ui/Glyphs.h draws them), as the header sections,
// the buttons and the popup menu name them. Plain C++, so the window's rules can.

namespace orvella {

inline constexpr int kGlyphCount = 51;
inline constexpr int kGlyphSize = 16;

// The glyph numbers the window uses; the others are spare pictures of the list.
enum GlyphIndex : int {
  GlyphReadMain = 3,      // read from device / save main data / save image
  GlyphSaveFull = 4,      // save main and spare data
  GlyphSaveSpare = 5,     // save spare data
  GlyphErase = 9,
  GlyphFlash = 12,
  GlyphStop = 20,         // a device command is running
  GlyphBlankCheck = 21,
  GlyphInvert = 32,
  GlyphName = 38,         // header "Partition Name"
  GlyphSelected = 39,     // header "Selected"
  GlyphList = 40,         // header "Position", "&Make Partitions from File"
  GlyphSize = 41,         // header "Size in Bytes (Blocks)"
  GlyphDevice = 42,       // "&Get Partitions from Device"
  GlyphAddress = 43,      // header "Address (Blocks) Range"
  GlyphHex = 50,          // "&Show/Hide HEX"
};

}  // namespace orvella
