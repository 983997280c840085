#pragma once
// The window's glyph list: 51 pictures of 16 x 16 pixels, drawn in code, indexed by
// the glyph numbers that the header sections, the buttons and the popup menu use.

#include <QIcon>
#include <QPixmap>
#include <vector>

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

// Draws glyph `index` afresh; an index outside 0..kGlyphCount-1 gives a transparent picture.
QPixmap DrawGlyph(int index);

class TGlyphList {
 public:
  TGlyphList();
  int Count() const { return static_cast<int>(fPixmaps.size()); }
  // An index outside the list gives an empty icon / a null pixmap.
  QIcon Icon(int index) const;
  QPixmap Pixmap(int index) const;

 private:
  std::vector<QPixmap> fPixmaps;
};

}  // namespace orvella
