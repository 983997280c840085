#pragma once
// Drawing of the partition list onto a surface: background, grid, row bands and cells.
// The surface is abstract so tests can record the calls as well as read real pixels.

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>
#include <vector>

#include "rows/CoolListItems.h"
#include "ui/ListGeometry.h"

namespace orvella {

// Fixed colours of the list (0x00BBGGRR).
inline constexpr TColorRef kColorBackground = 0xFFFFFF;
inline constexpr TColorRef kColorBacklines = 0xF0F0F0;
inline constexpr TColorRef kColorFocusedCursor = 0xFF9933;
inline constexpr TColorRef kColorUnfocusedCursor = 0xC0C0C0;

// What the list draws with: filled rectangles, text and text measuring.
class TListSurface {
 public:
  virtual ~TListSurface() = default;
  // Fills left <= x < right, top <= y < bottom.
  virtual void FillRect(int left, int top, int right, int bottom, TColorRef color) = 0;
  // Draws text with its character cell's top-left corner at (x, top), no background.
  virtual void Text(int x, int top, const QString& text, TColorRef color) = 0;
  virtual int TextWidth(const QString& text) const = 0;
  // How many leading characters of text fit in `width` pixels.
  virtual int FitCount(const QString& text, int width) const = 0;
};

// A surface on a QImage, drawing text in one font.
class TImageSurface final : public TListSurface {
 public:
  TImageSurface(QImage& image, const QFont& font);
  void FillRect(int left, int top, int right, int bottom, TColorRef color) override;
  void Text(int x, int top, const QString& text, TColorRef color) override;
  int TextWidth(const QString& text) const override;
  int FitCount(const QString& text, int width) const override;

 private:
  QPainter fPainter;
  QFontMetrics fMetrics;
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
  QString Text;
};

// A hex-field cell of type 8, 9 or 10 laid out from column x: "0x", digits and literals
// one by one, ending in "..." at the first piece that exceeds the cell's budget.
std::vector<TPlacedText> LayoutHexCell(std::uint32_t typeCode, const std::string& cell, int x,
                                       int sectionWidth, const TExtraWidths& gaps,
                                       const TListSurface& metrics);

// Plain cell text cut to `fit` characters: the first fit - 3 of them and "...".
QString FitPlainText(const QString& text, int fit);

// Draws the whole list.
void DrawList(TListSurface& surface, const TListFrame& frame);

// The list font: face `face` (31 characters at most), normal weight, at the size whose
// character cell is `cellHeight` pixels high (CellFont.h); the platform's fixed-pitch
// font so sized when the face is not available.
QFont ListFontFor(const QString& face, int cellHeight);

}  // namespace orvella
