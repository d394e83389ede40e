#pragma once

#include "framework/Bitmap.h"

#include <memory>

// The four capture operations as the frame uses them, each returning a new bitmap that the caller owns,
// or none when the user cancelled an overlay. The capture component implements it; tests give the frame
// a scripted one.
class ICaptureSource {
public:
    virtual ~ICaptureSource() = default;
    virtual std::unique_ptr<TBitmap> CaptureDesktop() = 0;
    virtual std::unique_ptr<TBitmap> CaptureActiveWindow() = 0;
    virtual std::unique_ptr<TBitmap> CaptureObject() = 0;
    virtual std::unique_ptr<TBitmap> CaptureArea() = 0;
};
