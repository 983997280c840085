#pragma once
// Drawing of the partition list onto a surface: background, grid, row bands and cells.
// Plain C++: the surface is abstract, so tests record the calls and the list control
// draws on an image (ui/ListSurface.h). Texts are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

#include "rows/CoolListItems.h"
#include "ui/ListGeometry.h"
#include "ui/ViewColors.h"

namespace orvella {

// What the list draws with: filled rectangles, text and text measuring.
class TListSurface {
 public:
  virtual ~TListSurface() = default;
  // Fills left <= x < right, top <= y < bottom.
  virtual void FillRect(int left, int top, int right, int bottom, TColorRef color) = 0;
  // Draws text with its character cell's top-left corner at (x, top), no background.
  virtual void Text(int x, int top, const std::string& text, TColorRef color) = 0;
  virtual int TextWidth(const std::string& text) const = 0;
  // How many leading characters of text fit in `width` pixels.
  virtual int FitCount(const std::string& text, int width) const = 0;
};

// Everything one paint of the list depends on.
struct TListFrame {
  int Width = 0;
  int Height = 0;
  int RowPitch = 1;
  int WholeLines = 0;     // whole rows that fit
  int TopRow = 0;         // scroll position: first row shown
  int Cursor = -1;
  int TextMargin = 0;     // text is drawn this many pixels above its line
  bool BarEnabled = false;
  bool Focused = false;   // the list has the input focus
  std::vector<int> SectionWidths;  // header sections, in order
  const TCoolItemsList* Model = nullptr;
  TExtraWidths Gaps{};
};

// Rows of `model` the list may touch: Count, but never more than the rows it holds.
int UsableRows(const TCoolItemsList* model);

// One piece of text at a position.
struct TPlacedText {
  int X = 0;
  std::string Text;
};

// A hex-field cell of type 8, 9 or 10 laid out from column x: "0x", digits and literals
// one by one, ending in "..." at the first piece that exceeds the cell's budget.
std::vector<TPlacedText> LayoutHexCell(std::uint32_t typeCode, const std::string& cell, int x,
                                       int sectionWidth, const TExtraWidths& gaps,
                                       const TListSurface& metrics);

// Plain cell text cut to `fit` characters: the first fit - 3 of them and "...".
std::string FitPlainText(const std::string& text, int fit);

// Draws the whole list.
void DrawList(TListSurface& surface, const TListFrame& frame);

}  // namespace orvella
