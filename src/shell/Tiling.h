// Vertical tiling of the work area's job windows: the windows stand side by side in columns
// that fill the area, the ones left over by the grid sharing the last column.
#pragma once

#include <QList>
#include <QRect>

class QMdiArea;

// Where each of `count` windows goes in `area`: column by column, top to bottom in each. With
// rows = floor(sqrt(count)) and columns = floor(count / rows), the last column takes the rows
// plus the windows left over. The rectangles cover the area without gaps or overlaps.
QList<QRect> verticalTileRects(int count, const QRect& area);

// Tiles the shown, not minimised sub-windows of `workArea` over its whole viewport in the order
// they were added. A maximised sub-window is restored first; minimised and hidden ones keep their
// places and take no share.
void tileVertically(QMdiArea* workArea);
