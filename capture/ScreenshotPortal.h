#pragma once

#include "framework/Bitmap.h"

// The message for a Wayland desktop without the screenshot service.
extern const char* const kNoScreenshotService;

// Pictures of the screen from the desktop's screenshot service (org.freedesktop.portal.Screenshot on the
// session bus). Needs a Qt application object (the answer arrives as a signal). Never returns a picture
// it did not get: a missing service, an error or a refusal raise Exception; a dialog the user cancelled
// raises ECaptureCancelled when the request was interactive.
class ScreenshotPortal {
public:
    // The whole desktop, or with `interactive` what the user picks in the desktop's own dialog. The
    // service's file (PNG) is read into a pf32bit bitmap and deleted.
    static TBitmap Take(bool interactive);
};
