#pragma once

#include "framework/Exception.h"
#include "framework/Palette.h"

#include <cstdint>
#include <string>
#include <vector>

class TBitmap;

// Every coordinate here is in device pixels of the whole screen (all monitors), origin at its top-left
// corner, whatever scale factor the toolkit applies to its own windows.
struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and Bottom are exclusive: the width is Right - Left.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

// One monitor of the desktop: its place in the compositor's logical layout, its scale (its own pixels per
// logical unit) and the device pixels of the desktop that show it.
struct TMonitor {
    std::string name;
    TRect logical;
    double scale = 1;
    TRect device;
    friend bool operator==(const TMonitor&, const TMonitor&) = default;
};

// Raised by a platform when the user cancelled a pick in the desktop's own dialog: the capture then
// yields no bitmap, as after a cancelled overlay.
class ECaptureCancelled : public Exception {
public:
    ECaptureCancelled() : Exception("The capture was cancelled") {}
};

// A window of the display (0: none). On X11 this is the window's id.
using HWND = uint32_t;
// A device context: a source of screen pixels with an origin, obtained from GetDC or GetWindowDC and
// given back with ReleaseDC. 0 is never a valid context.
using HDC = uint32_t;

// What the capture component needs from the windowing system. Results of the window queries and of
// the copy are not checked by the callers: a window that vanished gives an empty rectangle, a copy that
// failed leaves the bitmap as it was. Failures that make the display unusable (no display, a broken
// connection) are raised as Exception.
class ICapturePlatform {
public:
    virtual ~ICapturePlatform() = default;

    // The desktop window: the whole screen. Its rectangle is (0, 0, screen width, screen height).
    virtual HWND GetDesktopWindow() = 0;
    // The window the user works in; the desktop window when there is none.
    virtual HWND GetForegroundWindow() = 0;
    // The deepest window shown at the point (a control inside a window when there is one); a point on a
    // window's frame or title bar gives the window itself; the desktop window when nothing else is there.
    virtual HWND WindowFromPoint(TPoint point) = 0;
    // The outer rectangle in screen coordinates: for a top-level window frame and title bar included.
    virtual TRect GetWindowRect(HWND window) = 0;
    virtual TPoint GetCursorPos() = 0;
    // The size of the whole screen.
    virtual TPoint GetScreenSize() = 0;

    // A context for the client area of the window, or for the whole screen when window is 0 or the
    // desktop window.
    virtual HDC GetDC(HWND window) = 0;
    // A context for the whole window, frame and title bar included: its origin is the top-left corner of
    // the window's GetWindowRect.
    virtual HDC GetWindowDC(HWND window) = 0;
    // Returns 1 when the context was released, 0 when it was not a context of this platform.
    virtual int ReleaseDC(HWND window, HDC dc) = 0;

    // Whether the display shows palette indices (the colours of a pixel depend on the system palette).
    virtual bool IsPaletteDevice(HDC dc) = 0;
    // Copies up to count entries of the system palette from start on; returns how many were copied.
    virtual unsigned GetSystemPaletteEntries(HDC dc, unsigned start, unsigned count, TPaletteEntry* entries) = 0;
    // Copies the screen pixels shown at (x, y) relative to the context's origin into dest at (0, 0),
    // dest's width by dest's height. Parts outside the screen become black.
    virtual void BitBlt(TBitmap& dest, HDC source, int x, int y) = 0;

    // Minimises the whole application: all its windows leave the screen before this returns. Nothing
    // happens when it is already minimised.
    virtual void MinimizeApplication() = 0;
    // Brings the application's windows back as they were. Nothing happens when it is not minimised.
    virtual void RestoreApplication() = 0;
    virtual bool IsApplicationMinimized() = 0;

    // Replaces the clipboard's content with a copy of the image.
    virtual void CopyToClipboard(const TBitmap& bitmap) = 0;

    // Blocks the calling thread; 0 or less returns at once.
    virtual void Sleep(int milliseconds) = 0;

    // The monitors, when the overlays have to cover each on its own (a Wayland compositor places every
    // window on one output, and so does a window manager that spreads a full-screen window over one
    // monitor only); empty when one window covers the whole screen.
    virtual std::vector<TMonitor> GetMonitors() { return {}; }
    // Whether an overlay window goes into the window manager's full-screen state, so that the window
    // manager neither moves it nor keeps it out of a panel's strut (its close still works).
    virtual bool OverlaysFullScreen() { return false; }
    // Asks the window manager to spread the full-screen window (shown already) over every monitor.
    virtual void SpanAllMonitors(HWND window) {}
    // Returns once the display shows the program's windows as the program last set them: windows it hid
    // are off the screen.
    virtual void WaitForWindowChanges() {}
    // Where an overlay saw the pointer last. A display that cannot be asked for the pointer answers
    // GetCursorPos with it.
    virtual void OverlayPointerMoved(TPoint) {}
    // Whether the active window and the window under the mouse are picked by the user in the desktop's own
    // dialog, because the display cannot tell windows apart.
    virtual bool PicksWindowsInteractively() { return false; }
};

// Gives a device context back exactly once: explicitly on the normal path, so that a failure of the
// release itself is seen, or on destruction when a failure passes through.
class DeviceContextLease {
public:
    DeviceContextLease(ICapturePlatform& platform, HWND window, HDC dc) : platform_(platform), window_(window), dc_(dc)
    {
    }
    DeviceContextLease(const DeviceContextLease&) = delete;
    DeviceContextLease& operator=(const DeviceContextLease&) = delete;
    ~DeviceContextLease()
    {
        if (held_) {
            try {
                platform_.ReleaseDC(window_, dc_);
            } catch (...) {
                // The failure already on its way matters more than one from the release.
            }
        }
    }
    HDC Get() const { return dc_; }
    void Release()
    {
        held_ = false;
        platform_.ReleaseDC(window_, dc_);
    }

private:
    ICapturePlatform& platform_;
    HWND window_;
    HDC dc_;
    bool held_ = true;
};

// The palette step of a capture: on a palette display, gives the bitmap a palette made of the system
// palette's entries (when there is at least one); nothing on other displays.
void ApplySystemPalette(ICapturePlatform& platform, HDC dc, TBitmap& bitmap);
