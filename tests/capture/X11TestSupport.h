#pragma once

#include "capture/CapturePlatform.h"
#include "framework/Bitmap.h"

#include <QByteArray>
#include <QStringList>

#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Skips the test with a message when there is no X display, or when Qt does not run on it.
#define KAVREL_REQUIRE_X11()                                                                                \
    if (!X11TestDisplay::Available())                                                                       \
    GTEST_SKIP() << "no X display (DISPLAY is not set); scripts/test runs these tests under Xvfb and openbox"
#define KAVREL_REQUIRE_QT_ON_X11()                                                                          \
    KAVREL_REQUIRE_X11();                                                                                   \
    if (!X11TestDisplay::QtOnX11())                                                                         \
    GTEST_SKIP() << "Qt does not run on the X display here"

// A connection of the test's own to the X display, for windows of known colours at known places. The
// windows are destroyed with the object.
class X11TestDisplay {
public:
    X11TestDisplay();
    ~X11TestDisplay();
    X11TestDisplay(const X11TestDisplay&) = delete;
    X11TestDisplay& operator=(const X11TestDisplay&) = delete;

    static bool Available();
    static bool QtOnX11();

    xcb_connection_t* Connection() const { return connection_; }
    xcb_screen_t* Screen() const { return screen_; }
    xcb_window_t Root() const { return screen_->root; }
    int Depth() const { return screen_->root_depth; }
    bool PaletteDisplay() const;

    xcb_atom_t Atom(const char* name);

    // A property of 32-bit values, set before the window is mapped.
    struct Property {
        const char* name;
        xcb_atom_t type;
        std::vector<uint32_t> values;
    };

    // The pixel value that shows the colour 0xRRGGBB (allocated in the default colour map on palette
    // displays); `shown` receives the colour the display really shows for it.
    uint32_t PixelFor(uint32_t rgb, uint32_t* shown = nullptr);
    // A window filled with its background colour by the server itself. Override-redirect windows stay
    // exactly where they are put and get no frame; the others are managed by the window manager.
    xcb_window_t CreateWindow(const TRect& rect, uint32_t rgb, bool overrideRedirect, xcb_window_t parent = 0,
                              const std::vector<Property>& properties = {});
    void Destroy(xcb_window_t window);
    void Sync();

    // The window named active by the window manager (0 when none).
    xcb_window_t ActiveWindow();
    // Asks the window manager to activate the window and waits until it has.
    bool Activate(xcb_window_t window);
    // Waits until the window manager has put the window into a frame, shown it and made it active.
    bool WaitUntilManagedAndActive(xcb_window_t window);
    // The window's inside rectangle in root coordinates.
    TRect InsideRect(xcb_window_t window);
    // The frame widths the window manager announces: left, right, top, bottom (empty when none).
    std::vector<uint32_t> FrameExtents(xcb_window_t window);
    void WarpPointer(TPoint point);

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    std::vector<xcb_window_t> windows_;
};

// Repeats the check while Qt's events are served, until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Runs a program to its end while Qt's events are served (so that our clipboard can answer it);
// returns its standard output, and its exit status through `status` (-1 when it did not finish).
QByteArray RunPumping(const QString& program, const QStringList& arguments, int* status = nullptr);

// The pixel of a display-format bitmap as 0xRRGGBB.
uint32_t Rgb(const TBitmap& bitmap, int x, int y);
// How many pixels inside the rectangle (clipped to the bitmap) have the colour.
long CountColor(const TBitmap& bitmap, uint32_t rgb, const TRect& rect);
// The smallest rectangle that holds every pixel of the colour (empty when there is none).
TRect BoundsOfColor(const TBitmap& bitmap, uint32_t rgb);
