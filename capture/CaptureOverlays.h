#pragma once

#include <memory>

class TBitmap;

// The modal result with which an overlay reports a pick; any other result is a cancel.
constexpr int mrOk = 1;
// The result of an overlay closed from outside, for instance by the window manager.
constexpr int mrCancel = 2;

// The object picking overlay (TCaptureObjectForm) as the capture component uses it.
class IObjectOverlay {
public:
    virtual ~IObjectOverlay() = default;
    // Shows the overlay modally and returns its modal result: mrOk on the first mouse-button release.
    // The overlay is hidden when this returns.
    virtual int ShowModal() = 0;
};

// The area selection overlay (TCaptureRectForm) as the capture component uses it.
class IAreaOverlay {
public:
    virtual ~IAreaOverlay() = default;
    // Shows the overlay modally and returns its modal result: mrOk on the left-button release.
    virtual int ShowModal() = 0;
    // The image of the chosen rectangle in device pixels, taken on the release; 0 x 0 when the
    // rectangle was empty.
    virtual const TBitmap& Selection() const = 0;
};

// Makes the overlays. Each capture creates a new overlay and destroys it once its result is read.
class ICaptureOverlays {
public:
    virtual ~ICaptureOverlays() = default;
    // Sets the hand cursor and covers the whole screen.
    virtual std::unique_ptr<IObjectOverlay> CreateObjectOverlay() = 0;
    // Takes the frozen copy of the whole screen that the overlay shows.
    virtual std::unique_ptr<IAreaOverlay> CreateAreaOverlay() = 0;
};
