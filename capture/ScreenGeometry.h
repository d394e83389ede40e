#pragma once

#include "capture/CapturePlatform.h"

// Mapping between the toolkit's logical coordinates and the screen's device pixels, for a window whose
// top-left corner lies on the screen's device origin (the overlays cover the whole screen from there)
// and a device pixel ratio of `ratio` (2 with QT_SCALE_FACTOR=2). Logical positions are what mouse
// events and window geometry report; device pixels are what the platform grabs and reports.

// The device pixel under a logical position: the inverse of how the toolkit divides device positions.
TPoint DevicePointFromLogical(double x, double y, double ratio);

// A logical rectangle's edges in device pixels. Adjacent rectangles stay adjacent and a rectangle of
// whole logical pixels covers exactly ratio times as many device pixels in each direction.
TRect DeviceRectFromLogical(const TRect& logical, double ratio);

// The logical rectangle that a device rectangle occupies; edges inside a logical pixel round outwards.
TRect LogicalRectFromDevice(const TRect& device, double ratio);
