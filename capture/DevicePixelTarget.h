#pragma once

#include "framework/Bitmap.h"

// Where a screen copy writes its pixels (blue, green, red and a spare byte, the display's layout) for a
// destination bitmap of any format: the destination itself when it has that layout, else a scratch
// bitmap of its size that Finish converts into the destination.
class DevicePixelTarget {
public:
    explicit DevicePixelTarget(TBitmap& dest);

    TBitmap& Pixels() { return direct_ ? dest_ : scratch_; }
    // Paints the whole target black: what lies outside the screen.
    void Clear();
    // Converts the scratch bitmap into the destination's format; nothing when it was written directly.
    void Finish();

private:
    TBitmap& dest_;
    bool direct_;
    TBitmap scratch_;
};
