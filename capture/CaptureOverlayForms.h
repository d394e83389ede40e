#pragma once

#include "capture/CaptureOverlays.h"
#include "capture/CapturePlatform.h"

#include <memory>

class TOxaScreenCapture;

// The capture overlays as forms on the screen of the given platform: TCaptureObjectForm and
// TCaptureRectForm, each new one top-level and destroyed by its owner once its result has been read.
class CaptureOverlayForms : public ICaptureOverlays {
public:
    // The platform must outlive the overlays.
    explicit CaptureOverlayForms(ICapturePlatform& platform) : platform_(platform) {}

    std::unique_ptr<IObjectOverlay> CreateObjectOverlay() override;
    std::unique_ptr<IAreaOverlay> CreateAreaOverlay() override;

private:
    ICapturePlatform& platform_;
};

// The overlays on the program's capture platform (DefaultCapturePlatform()).
CaptureOverlayForms& DefaultCaptureOverlays();

// The program's capture component: the session's platform and these overlays, every property at its
// default.
std::unique_ptr<TOxaScreenCapture> CreateScreenCapture();
