#pragma once

#include "capture/CapturePlatform.h"

#include <memory>

// The capture platform on an X11 display. Screen pixels and window queries go through a connection of
// its own (opened on first use), with MIT-SHM when the server offers it and xcb_get_image otherwise;
// the whole X screen (all monitors) is the desktop. A window that draws its own decorations is the part
// the user sees, without the transparent margin that it announces (_GTK_FRAME_EXTENTS). X errors come
// back as replies and never end the process: a window that vanished between two calls simply gives an
// empty answer. The application's own windows and the clipboard are reached through Qt; without a Qt
// application there are no windows to minimise.
class X11CapturePlatform : public ICapturePlatform {
public:
    X11CapturePlatform();
    ~X11CapturePlatform() override;
    X11CapturePlatform(const X11CapturePlatform&) = delete;
    X11CapturePlatform& operator=(const X11CapturePlatform&) = delete;

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
    void CopyToClipboard(const TBitmap& bitmap) override;
    void Sleep(int milliseconds) override;
    // Overlays are full-screen when a window manager runs that knows the full-screen state; spread over
    // every monitor when it knows how, else one surface per monitor (GetMonitors).
    bool OverlaysFullScreen() override;
    std::vector<TMonitor> GetMonitors() override;
    void SpanAllMonitors(HWND window) override;
    // Waits until the frames of the program's hidden windows have left the screen as well.
    void WaitForWindowChanges() override;

    // Whether a window manager runs on the display.
    bool WindowManagerRunning();
    // Whether the window, or the frame around it, is shown on the screen.
    bool IsWindowShown(HWND window);
    // Device contexts handed out and not yet released.
    int OpenContexts() const;
    // Grabs through MIT-SHM when the server offers it (the default) or always with xcb_get_image.
    void SetSharedMemoryAllowed(bool allowed);
    // Whether the last grab went through shared memory.
    bool LastGrabUsedSharedMemory() const;

private:
    void WaitUntilOffScreen(const std::vector<unsigned long>& windows);

    struct Impl;
    std::unique_ptr<Impl> d_;
};
