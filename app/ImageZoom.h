#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// The arithmetic of zooming an image window, as pure functions. A zoom is a scale factor: 1 shows the
// picture unscaled (100 %), 2 doubles every pixel.

inline constexpr double kMaxZoom = 16.0;

// `steps` zoom steps up (positive) or down (negative) from `scale`, through 25 %, 33 %, 50 %, 67 %,
// 100 %, 150 %, 200 %, 300 %, 400 %, 600 %, 800 %, 1200 % and 1600 %. A scale between two steps (after
// fitting) goes to the next step in the direction asked; a scale beyond the last step in that
// direction stays.
double StepZoom(double scale, int steps);

// The scale at which the whole picture fits `area`: up to 1600 % for a small picture, and as far
// down as a large one needs (below the smallest step); 1 for an empty picture or area.
double FitZoom(const QSize& picture, const QSize& area);

// The picture's size on screen at `scale`: rounded, and at least one pixel of a non-empty picture.
QSize ZoomedSize(const QSize& picture, double scale);

// The scroll position that keeps the picture point under `anchor` (a point of the view) in place when
// the scale changes from `from` to `to`. The caller clamps it to the new scroll ranges.
QPoint AnchoredScroll(const QPoint& scroll, const QPointF& anchor, double from, double to);

// The picture pixels that paint `target` (an area of the zoomed picture), widened by `margin` pixels
// for smoothing and clipped to the picture.
QRect SourceRect(const QRect& target, double scale, const QSize& picture, int margin);

// Magnified pictures show sharp pixels from 200 % up; reduced and slightly enlarged ones are smoothed.
inline bool ZoomIsSharp(double scale)
{
    return scale >= 2.0;
}

// The zoom in whole percent, as the window title shows it.
int ZoomPercent(double scale);
