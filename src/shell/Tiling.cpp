#include "Tiling.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include <cmath>

namespace {

// The k-th of `parts` equal slices of [start, start + length): integer edges that meet exactly.
int edge(int start, int length, int k, int parts) {
    return start + static_cast<int>(static_cast<long long>(length) * k / parts);
}

} // namespace

QList<QRect> verticalTileRects(int count, const QRect& area) {
    QList<QRect> rects;
    if (count <= 0 || area.isEmpty())
        return rects;
    const int rows = static_cast<int>(std::floor(std::sqrt(static_cast<double>(count))));
    const int columns = count / rows;
    const int leftOver = count - rows * columns;
    for (int c = 0; c < columns; ++c) {
        const int inColumn = c == columns - 1 ? rows + leftOver : rows;
        const int left = edge(area.left(), area.width(), c, columns);
        const int right = edge(area.left(), area.width(), c + 1, columns);
        for (int r = 0; r < inColumn; ++r) {
            const int top = edge(area.top(), area.height(), r, inColumn);
            const int bottom = edge(area.top(), area.height(), r + 1, inColumn);
            rects.append(QRect(left, top, right - left, bottom - top));
        }
    }
    return rects;
}

void tileVertically(QMdiArea* workArea) {
    if (!workArea)
        return;
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* window : workArea->subWindowList(QMdiArea::CreationOrder))
        if (!window->isHidden() && !window->isMinimized())
            windows.append(window);
    const QList<QRect> rects = verticalTileRects(windows.size(), workArea->viewport()->rect());
    for (qsizetype i = 0; i < rects.size(); ++i) {
        if (windows[i]->isMaximized())
            windows[i]->showNormal();
        windows[i]->setGeometry(rects[i]);
    }
}
