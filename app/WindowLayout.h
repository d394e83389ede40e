#pragma once

#include <QList>
#include <QRect>
#include <QSize>

// Geometry of the frame's window commands and of the image window's scroll box, as pure functions.

// Tiling: `count` windows side by side (Qt::Horizontal: stacked one above another, each as wide as
// the area; Qt::Vertical: side by side, each as tall as the area). The area is shared out exactly:
// the first `extent % count` windows get one pixel more.
enum class TileMode { Horizontal, Vertical };
QList<QRect> TileRects(const QRect& area, int count, TileMode mode);

// The area left for tiling when minimised windows sit along the bottom: one row of icons is kept free.
QRect TileArea(const QRect& workspace, bool hasMinimised, int iconHeight);

// Icon arrangement: minimised windows of the given sizes in rows along the bottom edge, from the
// left, starting a new row above when the next one would pass the right edge.
QList<QPoint> ArrangeIconPositions(const QRect& area, const QList<QSize>& iconSizes);

// Where a new document window goes: three quarters of the workspace, each new one stepped down and
// right by `step` from the previous, starting over at the top-left when it would leave the workspace.
QRect DefaultChildPlacement(const QRect& workspace, int index, int step);

// Cascading: `count` windows of one size, the first at the top-left of the area and each next one
// `step` further down and right, so that every title bar shows. The size lets the whole stack fit the
// area but is never below `minimum` (the size new windows get); a stack that cannot fit at that size
// starts over at the top-left, as new windows do.
QList<QRect> CascadeRects(const QRect& area, int count, int step, const QSize& minimum);

// Scroll box: which scroll bars show and how far they go. A bar shows when its range exceeds the
// client extent, which shrinks by the other bar's thickness when that one shows.
struct ScrollBarLayout {
    bool horizontal = false;
    bool vertical = false;
    QSize client; // the visible area inside the bars
    int horizontalMax = 0; // largest scroll position
    int verticalMax = 0;
};
ScrollBarLayout ComputeScrollBarLayout(const QSize& outer, int horizontalRange, int verticalRange, int barExtent);
