#pragma once

#include "capture/CapturePlatform.h"

// Mapping between the toolkit's logical coordinates and the screen's device pixels, for a window whose
// top-left corner lies on the screen's device origin (the overlays cover the whole screen from there)
// and a device pixel ratio of `ratio` (2 with QT_SCALE_FACTOR=2). Logical positions are what mouse
// events and window geometry report; device pixels are what the platform grabs and reports.

// The device pixel under a logical position: the inverse of how the toolkit divides device positions.
TPoint DevicePointFromLogical(double x, double y, double ratio);

// The device pixel under a mouse event. The toolkit rounds event positions to whole logical pixels, so
// at a ratio of 2 only every other device pixel could be picked: the pointer's own device position
// (`pointer`, read from the display) is taken when it lies within the logical pixel the event reports,
// else the device position the logical one stands for.
TPoint DevicePointOfEvent(double x, double y, double ratio, TPoint pointer);

// A logical rectangle's edges in device pixels. Adjacent rectangles stay adjacent and a rectangle of
// whole logical pixels covers exactly ratio times as many device pixels in each direction.
TRect DeviceRectFromLogical(const TRect& logical, double ratio);

// The logical rectangle that a device rectangle occupies; edges inside a logical pixel round outwards.
TRect LogicalRectFromDevice(const TRect& device, double ratio);
