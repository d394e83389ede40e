#pragma once

#include "capture/CaptureOverlays.h"
#include "capture/CapturePlatform.h"
#include "capture/CaptureSource.h"
#include "framework/Bitmap.h"

#include <functional>
#include <memory>
#include <string>

class TOxaScreenCapture;

using TNotifyEvent = std::function<void(TOxaScreenCapture& sender)>;

// The screen capture component: four capture operations around one working bitmap. Each operation
// optionally minimises the application, waits Delay milliseconds, reads the screen into the working
// bitmap, returns a copy of it (which the caller owns), optionally puts it on the clipboard (an empty
// image leaves the clipboard as it was) and fires OnCapture; the application is restored on every path,
// also when a failure passes through. A platform that raises ECaptureCancelled ends the operation like a
// cancelled overlay.
class TOxaScreenCapture : public ICaptureSource {
public:
    // The platform (and the overlays, when given) must outlive the component.
    explicit TOxaScreenCapture(ICapturePlatform& platform, ICaptureOverlays* overlays = nullptr);
    ~TOxaScreenCapture() override;
    TOxaScreenCapture(const TOxaScreenCapture&) = delete;
    TOxaScreenCapture& operator=(const TOxaScreenCapture&) = delete;

    // After every successful capture, also place the image on the clipboard (unless it has no pixels).
    bool Auto() const { return auto_; }
    void SetAuto(bool value) { auto_ = value; }
    // Milliseconds waited before the screen is read (and once more after an overlay closes).
    int Delay() const { return delay_; }
    void SetDelay(int value) { delay_ = value; }
    // Minimise the application for the duration of a capture.
    bool Minimize() const { return minimize_; }
    void SetMinimize(bool value) { minimize_ = value; }
    // Fired after every successful capture, with the component as the sender.
    const TNotifyEvent& OnCapture() const { return onCapture_; }
    void SetOnCapture(TNotifyEvent handler) { onCapture_ = std::move(handler); }
    // Always "TOxaScreenCapture v1.0"; writing is accepted and ignored.
    std::string Version() const;
    void SetVersion(const std::string& value);

    // The overlays that CaptureObject and CaptureArea show (not owned).
    void SetOverlays(ICaptureOverlays* overlays) { overlays_ = overlays; }

    // The whole desktop. Never null.
    std::unique_ptr<TBitmap> CaptureDesktop() override;
    // The foreground window, frame and title bar included; null only when the platform lets the user pick
    // the window in the desktop's own dialog and the user cancelled it (ECaptureCancelled).
    std::unique_ptr<TBitmap> CaptureActiveWindow() override;
    // The window or control under the mouse after the object overlay; null when the overlay was cancelled.
    std::unique_ptr<TBitmap> CaptureObject() override;
    // The rectangle chosen on the area overlay; null when the overlay was cancelled.
    std::unique_ptr<TBitmap> CaptureArea() override;

    // A rectangle of the screen given by the caller (device pixels), without an overlay: the same steps
    // as the desktop, with the copy taken at the rectangle. Parts beyond the screen come out black.
    // Never null; an empty or negative rectangle raises Exception before anything happens.
    std::unique_ptr<TBitmap> CaptureRect(const TRect& rect);

    // Places the working bitmap on the clipboard.
    void CopyToClipboard();

    // The working bitmap: the most recent capture (OnCapture handlers may read it).
    const TBitmap& Bitmap() const { return *bitmap_; }

private:
    void HideStep();
    void WaitStep();
    void PaletteStep(HDC dc);
    void SizeStep(const TRect& rect);
    void CopyStep(HDC source, int x, int y);
    std::unique_ptr<TBitmap> FinishingStep();
    void RestoreStep();
    // Runs the operation's body and then the restore step, which also runs when the body fails.
    std::unique_ptr<TBitmap> WithRestore(const std::function<std::unique_ptr<TBitmap>()>& body);
    ICaptureOverlays& Overlays();

    bool auto_ = true;
    std::unique_ptr<TBitmap> bitmap_;
    int delay_ = 500;
    bool minimize_ = true;
    TNotifyEvent onCapture_;

    ICapturePlatform& platform_;
    ICaptureOverlays* overlays_;
};
