#pragma once
// Fonts given by their character cell: the list and the hex views name a font by the
// height of its cell in pixels (ascent plus descent, the height of "0"), not by its em
// size, and lay out their columns in cells. These pick the pixel size that gives that
// cell, so the widths designed for it hold.

#include <QFont>
#include <QList>
#include <QSize>

namespace orvella {

// The cell of `font` as the views measure it on their image surfaces: the advance of
// "0" and ascent + descent.
QSize CharacterCell(const QFont& font);

// Sets `font` to the largest pixel size whose cell is not taller than `cellHeight`
// (at least 1); true when the cell is exactly that high.
bool FitCellHeight(QFont& font, int cellHeight);

// The first of `candidates` that has a pixel size with a cell exactly `cellHeight` high,
// at that size; when none has, the first one at its largest size not taller.
QFont CellFont(const QList<QFont>& candidates, int cellHeight);

// The views' text style: normal weight, upright, neither underlined nor struck out.
void MakePlain(QFont& font);

// The platform's fixed-pitch font in that style: what a view shows when its face is
// not there.
QFont PlainFixedFont();

}  // namespace orvella
