#pragma once

#include "framework/Bitmap.h"

#include <memory>

// The frame's view of its capture component: the four capture operations, each returning a new bitmap
// that the caller owns, or none when the user cancelled an overlay. The capture component implements
// it; while the frame has none, every capture yields none.
class ICaptureSource {
public:
    virtual ~ICaptureSource() = default;
    virtual std::unique_ptr<TBitmap> CaptureDesktop() = 0;
    virtual std::unique_ptr<TBitmap> CaptureActiveWindow() = 0;
    virtual std::unique_ptr<TBitmap> CaptureObject() = 0;
    virtual std::unique_ptr<TBitmap> CaptureArea() = 0;
};
