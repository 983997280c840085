#pragma once
// The window's glyph list: 51 pictures of 16 x 16 pixels, drawn in code, indexed by
// the glyph numbers that the header sections, the buttons and the popup menu use.

#include <QIcon>
#include <QPixmap>
#include <vector>

#include "ui/GlyphIndex.h"

namespace orvella {

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
