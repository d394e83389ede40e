#pragma once

#include "framework/Bitmap.h"

#include <optional>

// A picture of the whole desktop straight from a wlroots-based compositor (its zwlr_screencopy_manager_v1),
// without the screenshot service's detour through a PNG file: every output is copied into shared memory
// and the outputs are laid out as the screenshot service lays them out, over the bounding box of their
// logical rectangles at the highest output scale (an output of a lower scale magnified by repeating its
// pixels, so that each of its own pixels stays exact). A pf32bit bitmap, alpha 0 where no output lies.
// None when the compositor offers no such copy or a copy fails; the caller then asks the screenshot
// service.
std::optional<TBitmap> CopyDesktopFromCompositor();
