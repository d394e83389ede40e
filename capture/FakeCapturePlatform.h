#pragma once

#include "capture/CaptureOverlays.h"
#include "capture/CapturePlatform.h"
#include "framework/Bitmap.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// A scripted platform for tests: a screen held in a bitmap, windows given by their rectangles, and a
// log of every call in the order it was made ("GetDC(1) -> 100", "BitBlt(100, 0, 0, 640x480)").
class FakeCapturePlatform : public ICapturePlatform {
public:
    FakeCapturePlatform();

    // The script. The screen's size is the desktop's size.
    TBitmap screen;
    HWND desktopWindow = 1;
    HWND foregroundWindow = 1;
    std::map<HWND, TRect> windows;  // rectangles of windows other than the desktop
    // The window at a point; by default the window of `windows` with the highest handle that contains
    // it, or the desktop.
    std::function<HWND(TPoint)> windowAt;
    TPoint cursor;
    bool paletteDevice = false;
    std::vector<TPaletteEntry> systemPalette;
    bool minimized = false;
    // Called after every Sleep is logged, for instance to move the cursor during a wait.
    std::function<void(int)> onSleep;
    // The call (by name, as logged without arguments) that raises Exception("fake failure").
    std::string failOn;

    // What happened.
    std::vector<std::string> log;
    std::vector<TBitmap> clipboard;  // every image placed on the clipboard, oldest first
    std::set<HDC> openContexts;
    int badReleases = 0;  // releases of a context that was not open

    // Fills the screen with a pattern in which every pixel differs from its neighbours.
    void SetScreenSize(int width, int height);
    // The screen pixel as 0x00RRGGBB (black outside the screen).
    static uint32_t PixelAt(const TBitmap& bitmap, int x, int y);

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

private:
    void Record(const std::string& name, const std::string& details = "");

    HDC nextContext_ = 100;
    std::map<HDC, TPoint> origins_;
};

// Scripted overlays that log to the platform's log: each ShowModal returns modalResult; the area
// overlay's selection is `selection`.
class FakeCaptureOverlays : public ICaptureOverlays {
public:
    explicit FakeCaptureOverlays(FakeCapturePlatform& platform) : platform_(platform) {}

    int modalResult = mrOk;
    TBitmap selection;
    // Called while the overlay is shown, for instance to move the cursor.
    std::function<void()> whileShown;
    int liveOverlays = 0;

    std::unique_ptr<IObjectOverlay> CreateObjectOverlay() override;
    std::unique_ptr<IAreaOverlay> CreateAreaOverlay() override;

private:
    friend class FakeObjectOverlay;
    friend class FakeAreaOverlay;
    FakeCapturePlatform& platform_;
};
