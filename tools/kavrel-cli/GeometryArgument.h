#pragma once

#include "capture/CapturePlatform.h"

#include <optional>
#include <string_view>

// A rectangle given on the command line as X geometry, the form xwininfo and slop print: "WxH+X+Y".
// W and H are positive; each offset is a separator and a number that may carry its own sign ("+-40"
// lies 40 pixels left of the screen). A "-" separator measures from the right or bottom edge of the
// screen to the rectangle's right or bottom edge ("200x100-0-0" is the bottom-right corner).
struct TGeometryArgument {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
    bool xFromRight = false;
    bool yFromBottom = false;
};

// Nothing for text that is not a complete geometry.
std::optional<TGeometryArgument> ParseGeometryArgument(std::string_view text);

// The part of the screen (device pixels, origin top-left) that the geometry covers; empty when the
// rectangle lies wholly outside.
TRect PlaceOnScreen(const TGeometryArgument& geometry, TPoint screenSize);
