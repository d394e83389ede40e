#include "capture/CaptureOverlayForms.h"

#include "capture/CaptureTheObject.h"
#include "capture/CaptureTheRect.h"
#include "capture/OxaCapture.h"
#include "capture/SessionCapturePlatform.h"

std::unique_ptr<IObjectOverlay> CaptureOverlayForms::CreateObjectOverlay()
{
    return std::make_unique<TCaptureObjectForm>(platform_);
}

std::unique_ptr<IAreaOverlay> CaptureOverlayForms::CreateAreaOverlay()
{
    return std::make_unique<TCaptureRectForm>(platform_);
}

CaptureOverlayForms& DefaultCaptureOverlays()
{
    static CaptureOverlayForms overlays(DefaultCapturePlatform());
    return overlays;
}

std::unique_ptr<TOxaScreenCapture> CreateScreenCapture()
{
    return std::make_unique<TOxaScreenCapture>(DefaultCapturePlatform(), &DefaultCaptureOverlays());
}
