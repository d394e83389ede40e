#include "app/WindowLayout.h"

#include <algorithm>

QList<QRect> TileRects(const QRect& area, int count, TileMode mode)
{
    QList<QRect> rects;
    if (count <= 0 || area.isEmpty())
        return rects;
    const int extent = mode == TileMode::Horizontal ? area.height() : area.width();
    const int base = extent / count;
    const int extra = extent % count;
    int offset = 0;
    for (int i = 0; i < count; ++i) {
        const int size = base + (i < extra ? 1 : 0);
        if (mode == TileMode::Horizontal)
            rects.append(QRect(area.left(), area.top() + offset, area.width(), size));
        else
            rects.append(QRect(area.left() + offset, area.top(), size, area.height()));
        offset += size;
    }
    return rects;
}

QRect TileArea(const QRect& workspace, bool hasMinimised, int iconHeight)
{
    if (!hasMinimised || iconHeight >= workspace.height())
        return workspace;
    return workspace.adjusted(0, 0, 0, -iconHeight);
}

QList<QPoint> ArrangeIconPositions(const QRect& area, const QList<QSize>& iconSizes)
{
    QList<QPoint> positions;
    int x = area.left();
    int rowBottom = area.bottom() + 1;
    int rowHeight = 0;
    for (const QSize& size : iconSizes) {
        if (x > area.left() && x + size.width() > area.right() + 1) {
            rowBottom -= rowHeight;
            x = area.left();
            rowHeight = 0;
        }
        positions.append(QPoint(x, rowBottom - size.height()));
        x += size.width();
        rowHeight = std::max(rowHeight, size.height());
    }
    return positions;
}

namespace {

// How many places `step` apart a window of `size` has in `area`, the first at its top-left.
int StaggerPlaces(const QRect& area, const QSize& size, int step)
{
    const int free = std::min(area.width() - size.width(), area.height() - size.height());
    return step > 0 ? std::max(1, free / step + 1) : 1;
}

} // namespace

QRect DefaultChildPlacement(const QRect& workspace, int index, int step)
{
    const QSize size(std::max(1, workspace.width() * 3 / 4), std::max(1, workspace.height() * 3 / 4));
    const int n = index % StaggerPlaces(workspace, size, step);
    return QRect(workspace.topLeft() + QPoint(n * step, n * step), size);
}

QList<QRect> CascadeRects(const QRect& area, int count, int step, const QSize& minimum)
{
    QList<QRect> rects;
    if (count <= 0 || area.isEmpty())
        return rects;
    step = std::max(0, step);
    const int spread = (count - 1) * step;
    auto extent = [spread](int available, int least) {
        return std::clamp(available - spread, std::clamp(least, 1, available), available);
    };
    const QSize size(extent(area.width(), minimum.width()), extent(area.height(), minimum.height()));
    const int places = StaggerPlaces(area, size, step);
    for (int i = 0; i < count; ++i) {
        const int n = i % places;
        rects.append(QRect(area.topLeft() + QPoint(n * step, n * step), size));
    }
    return rects;
}

ScrollBarLayout ComputeScrollBarLayout(const QSize& outer, int horizontalRange, int verticalRange, int barExtent)
{
    ScrollBarLayout layout;
    int width = outer.width();
    int height = outer.height();
    // Two passes: a bar that shows narrows the other direction, which can make the other bar show.
    for (int pass = 0; pass < 2; ++pass) {
        layout.horizontal = horizontalRange > width;
        layout.vertical = verticalRange > height;
        width = outer.width() - (layout.vertical ? barExtent : 0);
        height = outer.height() - (layout.horizontal ? barExtent : 0);
    }
    layout.client = QSize(std::max(0, width), std::max(0, height));
    layout.horizontalMax = std::max(0, horizontalRange - layout.client.width());
    layout.verticalMax = std::max(0, verticalRange - layout.client.height());
    return layout;
}
