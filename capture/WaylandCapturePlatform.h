#pragma once

#include "capture/CapturePlatform.h"

#include <functional>
#include <memory>

class TBitmap;

// The capture platform on a Wayland desktop. Each device context freezes the screen in one picture of the
// whole desktop (every output, in device pixels) and BitBlt crops from it. Pictures come straight from
// the compositor where it offers a copy (wlroots), else from the desktop's screenshot service
// (TakeDesktopPicture). Windows are told apart through the compositor's IPC socket where it
// offers one (sway and i3-compatible compositors); elsewhere the active window and the window under the
// mouse are picked by the user in the desktop's own screenshot dialog (PicksWindowsInteractively). The
// program's windows leave the screen by being hidden, since compositors may ignore a minimise request.
class WaylandCapturePlatform : public ICapturePlatform {
public:
    // How pictures are taken; TakeDesktopPicture by default.
    using PictureSource = std::function<TBitmap(bool interactive)>;
    explicit WaylandCapturePlatform(PictureSource source = {});
    ~WaylandCapturePlatform() override;
    WaylandCapturePlatform(const WaylandCapturePlatform&) = delete;
    WaylandCapturePlatform& operator=(const WaylandCapturePlatform&) = delete;

    HWND GetDesktopWindow() override;
    HWND GetForegroundWindow() override;
    HWND WindowFromPoint(TPoint point) override;
    TRect GetWindowRect(HWND window) override;
    TPoint GetCursorPos() override;
    TPoint GetScreenSize() override;
    HDC GetDC(HWND window) override;
    HDC GetWindowDC(HWND window) override;
    int ReleaseDC(HWND window, HDC dc) override;
    bool IsPaletteDevice(HDC dc) override;
    unsigned GetSystemPaletteEntries(HDC dc, unsigned start, unsigned count, TPaletteEntry* entries) override;
    void BitBlt(TBitmap& dest, HDC source, int x, int y) override;
    void MinimizeApplication() override;
    void RestoreApplication() override;
    bool IsApplicationMinimized() override;
    // Puts the image on the clipboard at once when one of the program's windows has the keyboard focus,
    // otherwise as soon as one gets it (a Wayland client may set the clipboard only then).
    void CopyToClipboard(const TBitmap& bitmap) override;
    void Sleep(int milliseconds) override;
    // Waits until the compositor has taken hidden windows (the overlays) off the screen.
    void WaitForWindowChanges() override;
    std::vector<TMonitor> GetMonitors() override;
    void OverlayPointerMoved(TPoint point) override;
    bool PicksWindowsInteractively() override;

    // The image that CopyToClipboard still keeps for a focus that has not come; none when there is none.
    std::unique_ptr<TBitmap> TakeWaitingClipboardImage();

    // Device contexts handed out and not yet released.
    int OpenContexts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// A picture of the whole desktop, or with `interactive` what the user picks in the desktop's own dialog:
// for the whole desktop a copy straight from the compositor when it offers one and KAVREL_WAYLAND_CAPTURE
// is not "portal", else the screenshot service (ScreenshotPortal).
TBitmap TakeDesktopPicture(bool interactive);

// Whether the program runs in a Wayland session (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland),
// whatever Qt platform it uses itself.
bool IsWaylandSession();
