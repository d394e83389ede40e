#pragma once

#include "capture/CapturePlatform.h"

#include <vector>

// A position in the compositor's logical layout.
struct TLogicalPoint {
    double X = 0;
    double Y = 0;
};

// How a Wayland compositor's logical layout lies on a picture of the whole desktop. A desktop picture
// spans the bounding box of every output at one resolution: the highest output scale (an output of a
// lower scale is shown magnified), until a real picture tells otherwise.
class DesktopLayout {
public:
    DesktopLayout() = default;
    explicit DesktopLayout(std::vector<TMonitor> outputs);

    // The outputs with their device rectangles on the picture.
    const std::vector<TMonitor>& Monitors() const { return monitors_; }
    bool Empty() const { return monitors_.empty(); }
    // The size of a picture of the whole desktop, in device pixels.
    TPoint PictureSize() const { return picture_; }
    // Sets the size of a real picture; the mapping follows it. A layout without outputs takes the
    // picture as one output at scale 1.
    void SetPictureSize(TPoint size);

    // Logical position of a device pixel's centre.
    TLogicalPoint LogicalPoint(TPoint device) const;
    // The device pixels covering a logical rectangle; edges round to the nearest pixel boundary.
    TRect DeviceRect(const TRect& logical) const;

private:
    void MapMonitors();

    std::vector<TMonitor> monitors_;
    TRect bounds_;        // bounding box of the outputs, logical
    TPoint picture_;      // picture size, device pixels
    double scaleX_ = 1;  // device pixels per logical unit
    double scaleY_ = 1;
};
