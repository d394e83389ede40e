#include "X11TestSupport.h"
#include "capture/CaptureOverlayForms.h"
#include "capture/CaptureTheObject.h"
#include "capture/CaptureTheRect.h"
#include "capture/CursorTable.h"
#include "capture/OxaCapture.h"
#include "capture/X11CapturePlatform.h"

#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <xcb/xfixes.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>

// The two overlay forms on the X display that scripts/test starts (Xvfb with openbox), driven with
// xdotool like a user would: the capture component with the X11 platform and the real overlays.

namespace {

// Known colours at known places: a window of the window manager's (the overlays stay above those) holding
// a grid of child windows whose neighbours all differ, so that a shift by one pixel shows.
class Scene {
public:
    Scene(X11TestDisplay& display, const TRect& wanted, int cell)
    {
        container = display.CreateWindow(wanted, 0x808080, false);
        managed = display.WaitUntilManagedAndActive(container);
        inside = display.InsideRect(container);
        int index = 0;
        for (int top = 0; top + cell <= wanted.Height(); top += cell)
            for (int left = 0; left + cell <= wanted.Width(); left += cell, ++index)
                cells.push_back(display.CreateWindow({left, top, left + cell, top + cell},
                                                     0x102030u + 0x3B1F07u * static_cast<uint32_t>(index) % 0xEFEFEF,
                                                     false, container));
    }
    xcb_window_t container = 0;
    bool managed = false;
    TRect inside;  // the container's inside in root coordinates
    std::vector<xcb_window_t> cells;
};

template <typename T>
std::unique_ptr<T, decltype(&std::free)> Owned(T* reply)
{
    return {reply, &std::free};
}

struct CursorImage {
    int width = 0;
    int height = 0;
    int hotX = -1;
    int hotY = -1;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB, row by row
};

// The cursor the X server shows now (XFixes).
CursorImage ShownCursor(xcb_connection_t* c)
{
    CursorImage image;
    auto version = Owned(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    if (!version)
        return image;
    auto reply = Owned(xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!reply)
        return image;
    image.width = reply->width;
    image.height = reply->height;
    image.hotX = reply->xhot;
    image.hotY = reply->yhot;
    const uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(reply.get());
    image.pixels.assign(pixels, pixels + xcb_xfixes_get_cursor_image_cursor_image_length(reply.get()));
    return image;
}

// The hand cursor as the X server should show it: black, white and transparent pixels.
std::vector<uint32_t> HandPixels()
{
    const QCursor hand = LoadCursor("CURSOR_1");
    const QImage black = hand.bitmap().toImage();
    const QImage opaque = hand.mask().toImage();
    std::vector<uint32_t> pixels;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            pixels.push_back(qGray(opaque.pixel(x, y)) >= 128 ? 0u
                             : qGray(black.pixel(x, y)) < 128  ? 0xFF000000u
                                                               : 0xFFFFFFFFu);
    return pixels;
}

// The visible top-level widget of the class, once the X server shows it.
QWidget* ShownOverlay(const char* className)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits(className) && widget->isVisible() && widget->windowHandle() &&
            widget->windowHandle()->isExposed())
            return widget;
    return nullptr;
}

constexpr int kStuck = 99;

// Runs the action once, inside the overlay's modal display, after the overlay has come up; ends the
// display with kStuck when the action did not end it.
class WhileShown {
public:
    WhileShown(const char* className, std::function<void(QWidget&)> action) : className_(className), action_(std::move(action))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* overlay = ShownOverlay(className_);
            if (!overlay)
                return;
            timer_.stop();
            ran = true;
            // Qt paints the overlay in answer to its first expose event.
            WaitUntil([] { return false; }, std::chrono::milliseconds(150));
            action_(*overlay);
            // An overlay that did not end would keep the test waiting for ever.
            auto* screenOverlay = static_cast<ScreenOverlay*>(overlay);
            if (!WaitUntil([&] { return screenOverlay->ModalResult() != 0; }, std::chrono::seconds(3))) {
                ADD_FAILURE() << className_ << " did not end";
                screenOverlay->SetModalResult(kStuck);
            }
        });
        timer_.start(10);
    }
    bool ran = false;

private:
    const char* className_;
    std::function<void(QWidget&)> action_;
    QTimer timer_;
};

bool Xdotool(const QStringList& arguments)
{
    int status = -1;
    RunPumping("xdotool", arguments, &status);
    return status == 0;
}

TBitmap Crop(const TBitmap& bitmap, const TRect& rect)
{
    TBitmap part;
    part.SetSize(rect.Width(), rect.Height());
    for (int y = 0; y < rect.Height(); ++y)
        std::copy_n(bitmap.ScanLine(rect.Top + y) + 4 * rect.Left, 4 * rect.Width(), part.ScanLine(y));
    return part;
}

long Differences(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return -1;
    long count = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            count += Rgb(a, x, y) != Rgb(b, x, y);
    return count;
}

class OverlaysX11Test : public testing::Test {
protected:
    void SetUp() override
    {
        KAVREL_REQUIRE_QT_ON_X11();
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        display_ = std::make_unique<X11TestDisplay>();
        platform_ = std::make_unique<X11CapturePlatform>();
        if (!platform_->WindowManagerRunning())
            GTEST_SKIP() << "no window manager (scripts/test runs openbox)";
        overlays_ = std::make_unique<CaptureOverlayForms>(*platform_);
        capture_ = std::make_unique<TOxaScreenCapture>(*platform_, overlays_.get());
        capture_->SetDelay(0);
        capture_->SetMinimize(false);
        capture_->SetAuto(false);
        screen_ = {0, 0, display_->Screen()->width_in_pixels, display_->Screen()->height_in_pixels};
        // ctest's capture_x11_two_monitors splits the screen into monitors side by side.
        const int monitors = qEnvironmentVariableIntValue("KAVREL_TEST_MONITORS");
        if (monitors > 1) {
            ASSERT_EQ(QGuiApplication::screens().size(), monitors);
        }
        // A panel along the top that keeps the window manager's windows out of its strut: the overlays
        // cover it all the same.
        const uint32_t strut[12] = {0, 0, kDockHeight, 0, 0, 0, 0, 0, 0, static_cast<uint32_t>(screen_.Right - 1), 0, 0};
        display_->CreateWindow({0, 0, screen_.Right, static_cast<int>(kDockHeight)}, 0x3050A0, false, 0,
                               {{"_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {display_->Atom("_NET_WM_WINDOW_TYPE_DOCK")}},
                                {"_NET_WM_STRUT_PARTIAL", XCB_ATOM_CARDINAL, {strut, strut + 12}}});
        ASSERT_TRUE(WaitUntil([&] {
            const std::optional<uint32_t> top = WorkAreaTop();
            return !top || *top == kDockHeight;
        })) << "the window manager ignores the panel";
    }

    static constexpr uint32_t kDockHeight = 40;

    // The top of the work area that the window manager publishes, if it does.
    std::optional<uint32_t> WorkAreaTop()
    {
        xcb_connection_t* c = display_->Connection();
        auto reply = Owned(xcb_get_property_reply(
            c, xcb_get_property(c, 0, display_->Root(), display_->Atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL, 0, 4), nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) < 16)
            return std::nullopt;
        return static_cast<const uint32_t*>(xcb_get_property_value(reply.get()))[1];
    }

    std::unique_ptr<TBitmap> Desktop()
    {
        TOxaScreenCapture plain(*platform_);
        plain.SetDelay(0);
        plain.SetMinimize(false);
        plain.SetAuto(false);
        return plain.CaptureDesktop();
    }

    // The overlay's X windows (one, or one per monitor) cover exactly the whole screen, above every other
    // window, the panel included.
    void ExpectCoversTheScreen(QWidget& overlay, TPoint probe)
    {
        std::set<HWND> ids;
        long area = 0;
        for (QWidget* surface : static_cast<ScreenOverlay&>(overlay).Surfaces()) {
            const auto id = static_cast<xcb_window_t>(surface->winId());
            const TRect rect = display_->InsideRect(id);
            EXPECT_TRUE(rect.Left >= 0 && rect.Top >= 0 && rect.Right <= screen_.Right && rect.Bottom <= screen_.Bottom);
            area += long{rect.Width()} * rect.Height();
            ids.insert(id);
            // In the window manager's full-screen state, which no window manager moves or fits between panels.
            xcb_connection_t* c = display_->Connection();
            auto state = Owned(xcb_get_property_reply(
                c, xcb_get_property(c, 0, id, display_->Atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 32), nullptr));
            ASSERT_TRUE(state);
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(state.get()));
            const int count = xcb_get_property_value_length(state.get()) / 4;
            EXPECT_NE(std::find(atoms, atoms + count, display_->Atom("_NET_WM_STATE_FULLSCREEN")), atoms + count);
        }
        EXPECT_EQ(area, long{screen_.Width()} * screen_.Height());
        for (const TPoint point : {probe, TPoint{0, 0}, TPoint{screen_.Right - 1, 0}, TPoint{0, screen_.Bottom - 1},
                                   TPoint{screen_.Right - 1, screen_.Bottom - 1}})
            EXPECT_EQ(ids.count(platform_->WindowFromPoint(point)), 1u) << point.X << ", " << point.Y;
    }

    std::unique_ptr<X11TestDisplay> display_;
    std::unique_ptr<X11CapturePlatform> platform_;
    std::unique_ptr<CaptureOverlayForms> overlays_;
    std::unique_ptr<TOxaScreenCapture> capture_;
    TRect screen_;
};

TEST_F(OverlaysX11Test, AreaCaptureTakesTheDraggedRectangleOfTheFrozenScreen)
{
    // Placed relative to the screen's size, whatever it is.
    Scene scene(*display_, {screen_.Width() / 3, screen_.Height() / 3, screen_.Width() / 3 + 360, screen_.Height() / 3 + 240},
                40);
    ASSERT_TRUE(scene.managed);
    const TRect& area = scene.inside;
    const std::unique_ptr<TBitmap> before = Desktop();
    // Dragged to the upper left, across the middle of the screen (from one monitor to the other where
    // there are two).
    const TPoint anchor{area.Left + 340, area.Top + 205};
    const TPoint moving{area.Left + 37, area.Top + 21};

    WhileShown drive("TCaptureRectForm", [&](QWidget& overlay) {
        ExpectCoversTheScreen(overlay, anchor);
        // The overlay may still be painting when it is first shown.
        EXPECT_TRUE(WaitUntil([&] { return Differences(*Desktop(), *before) == 0; }))
            << "the overlay shows the screen as it was";
        ASSERT_TRUE(Xdotool({"mousemove", "--sync", QString::number(anchor.X), QString::number(anchor.Y), "mousedown",
                             "1", "mousemove", "--sync", QString::number(moving.X + 40), QString::number(moving.Y + 30),
                             "mousemove", "--sync", QString::number(moving.X), QString::number(moving.Y)}));
        // The band runs along the outline in red and white; everything else is the frozen screen.
        std::map<std::pair<int, int>, bool> path;
        TraceBand(anchor, moving, [&](int x, int y) { path[{x, y}] = true; });
        long lastOff = 0, lastBand = 0, lastRed = 0;
        const bool drawn = WaitUntil([&] {
            const std::unique_ptr<TBitmap> shown = Desktop();
            long off = 0, band = 0, red = 0;
            for (int y = 0; y < shown->Height(); ++y) {
                for (int x = 0; x < shown->Width(); ++x) {
                    const uint32_t pixel = Rgb(*shown, x, y);
                    if (path.count({x, y})) {
                        band += pixel == 0xFF0000 || pixel == 0xFFFFFF;
                        red += pixel == 0xFF0000;
                    } else {
                        off += pixel != Rgb(*before, x, y);
                    }
                }
            }
            lastOff = off, lastBand = band, lastRed = red;
            return off == 0 && band == static_cast<long>(path.size()) && red * 8 >= band * 3 - 8 && red * 8 <= band * 3 + 8;
        });
        EXPECT_TRUE(drawn) << "no red and white band on the frozen screen: " << lastOff << " pixels off the band differ, "
                           << lastBand << " of " << path.size() << " band pixels red or white, " << lastRed << " red";
        ASSERT_TRUE(Xdotool({"mouseup", "1"}));
    });
    const std::unique_ptr<TBitmap> result = capture_->CaptureArea();
    ASSERT_TRUE(drive.ran);
    ASSERT_NE(result, nullptr);
    const TRect rect = {moving.X, moving.Y, anchor.X, anchor.Y};
    EXPECT_EQ(Differences(*result, Crop(*before, rect)), 0) << "the frozen image of the rectangle, without the band";
    EXPECT_EQ(ShownOverlay("TCaptureRectForm"), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return Differences(*Desktop(), *before) == 0; })) << "the overlay left the screen";
    EXPECT_EQ(platform_->OpenContexts(), 0);
}

TEST_F(OverlaysX11Test, ObjectCaptureShowsTheHandAndTakesTheControlUnderTheMouse)
{
    Scene scene(*display_, {screen_.Width() / 2 - 100, screen_.Height() / 2 - 60, screen_.Width() / 2 + 100,
                            screen_.Height() / 2 + 60},
                40);
    ASSERT_TRUE(scene.managed);
    // A control inside the window: one cell of the grid.
    const TRect target = display_->InsideRect(scene.cells.at(6));
    const std::unique_ptr<TBitmap> before = Desktop();
    const std::vector<uint32_t> hand = HandPixels();

    WhileShown drive("TCaptureObjectForm", [&](QWidget& overlay) {
        ExpectCoversTheScreen(overlay, {target.Left + 5, target.Top + 5});
        EXPECT_TRUE(WaitUntil([&] { return Differences(*Desktop(), *before) == 0; }))
            << "the screen stays visible as it was";
        ASSERT_TRUE(Xdotool({"mousemove", "--sync", "40", "30"}));
        const bool handShown = WaitUntil([&] {
            const CursorImage cursor = ShownCursor(display_->Connection());
            return cursor.width == 32 && cursor.height == 32 && cursor.hotX == 0 && cursor.hotY == 0 &&
                   cursor.pixels == hand;
        });
        EXPECT_TRUE(handShown) << "the X server does not show the hand cursor";
        // Pressed in one place, released over the target: the object under the mouse afterwards counts.
        ASSERT_TRUE(Xdotool({"mousedown", "3", "mousemove", "--sync", QString::number(target.Left + 17),
                             QString::number(target.Top + 9), "mouseup", "3"}));
    });
    const std::unique_ptr<TBitmap> result = capture_->CaptureObject();
    ASSERT_TRUE(drive.ran);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(Differences(*result, Crop(*before, target)), 0);
    EXPECT_EQ(CursorTable::Application().Override(), crDefault);
    EXPECT_EQ(platform_->OpenContexts(), 0);
}

TEST_F(OverlaysX11Test, AClickWithoutADragLeavesTheClipboardAsItWas)
{
    if (QStandardPaths::findExecutable("xclip").isEmpty())
        GTEST_SKIP() << "xclip is not installed";
    QGuiApplication::clipboard()->setText("before");
    capture_->SetAuto(true);
    WhileShown drive("TCaptureRectForm", [&](QWidget&) {
        ASSERT_TRUE(Xdotool({"mousemove", "--sync", "700", "500", "click", "1"}));
    });
    const std::unique_ptr<TBitmap> result = capture_->CaptureArea();
    ASSERT_TRUE(drive.ran);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->Empty());
    EXPECT_EQ(RunPumping("xclip", {"-selection", "clipboard", "-o"}), QByteArray("before"));
}

TEST_F(OverlaysX11Test, AltF4CancelsEitherOverlay)
{
    if (!platform_->WindowManagerRunning())
        GTEST_SKIP() << "no window manager to close the overlay";
    capture_->CaptureDesktop();
    const TBitmap working = capture_->Bitmap();
    for (const char* className : {"TCaptureRectForm", "TCaptureObjectForm"}) {
        SCOPED_TRACE(className);
        WhileShown drive(className, [&](QWidget& overlay) {
            // One of its windows (there is one per monitor where the window manager cannot spread one).
            const std::vector<QWidget*> surfaces = static_cast<ScreenOverlay&>(overlay).Surfaces();
            EXPECT_TRUE(WaitUntil([&] {
                return std::any_of(surfaces.begin(), surfaces.end(),
                                   [&](QWidget* surface) { return display_->ActiveWindow() == surface->winId(); });
            })) << "the window manager did not activate the overlay";
            ASSERT_TRUE(Xdotool({"key", "alt+F4"}));
            EXPECT_TRUE(WaitUntil([&] { return static_cast<ScreenOverlay&>(overlay).ModalResult() == mrCancel; },
                                  std::chrono::seconds(3)));
        });
        const std::unique_ptr<TBitmap> result =
            std::string(className) == "TCaptureRectForm" ? capture_->CaptureArea() : capture_->CaptureObject();
        ASSERT_TRUE(drive.ran);
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(Differences(capture_->Bitmap(), working), 0) << "the working bitmap is untouched";
    }
}

// With a scale factor (ctest runs these as capture_hidpi with QT_SCALE_FACTOR=2) the overlay's corners,
// band and selection are the screen's device pixels, odd ones included.
class HiDpiOverlays : public OverlaysX11Test {
protected:
    void SetUp() override
    {
        OverlaysX11Test::SetUp();
        if (IsSkipped())
            return;
        if (QGuiApplication::primaryScreen()->devicePixelRatio() == 1)
            GTEST_SKIP() << "no scale factor (ctest runs these as capture_hidpi with QT_SCALE_FACTOR=2)";
    }
};

TEST_F(HiDpiOverlays, AreaCaptureInDevicePixels)
{
    Scene scene(*display_, {301, 211, 301 + 320, 211 + 200}, 40);
    ASSERT_TRUE(scene.managed);
    const std::unique_ptr<TBitmap> before = Desktop();
    const TPoint anchor{scene.inside.Left + 17, scene.inside.Top + 13};
    const TPoint moving{scene.inside.Left + 251, scene.inside.Top + 177};
    WhileShown drive("TCaptureRectForm", [&](QWidget& overlay) {
        ExpectCoversTheScreen(overlay, anchor);
        auto& form = static_cast<TCaptureRectForm&>(overlay);
        // Pressed, then dragged, as a hand does: the overlay sees the press before the pointer moves on.
        ASSERT_TRUE(Xdotool({"mousemove", "--sync", QString::number(anchor.X), QString::number(anchor.Y), "mousedown",
                             "1"}));
        EXPECT_TRUE(WaitUntil([&] { return form.Anchor() == anchor; }))
            << form.Anchor().X << "," << form.Anchor().Y << " instead of " << anchor.X << "," << anchor.Y;
        ASSERT_TRUE(Xdotool({"mousemove", "--sync", QString::number(moving.X), QString::number(moving.Y)}));
        EXPECT_TRUE(WaitUntil([&] { return form.MovingCorner() == moving; }))
            << form.MovingCorner().X << "," << form.MovingCorner().Y << " instead of " << moving.X << "," << moving.Y;
        std::map<std::pair<int, int>, bool> path;
        TraceBand(anchor, moving, [&](int x, int y) { path[{x, y}] = true; });
        const bool drawn = WaitUntil([&] {
            const std::unique_ptr<TBitmap> shown = Desktop();
            for (const auto& [point, unused] : path) {
                const uint32_t pixel = Rgb(*shown, point.first, point.second);
                if (pixel != 0xFF0000 && pixel != 0xFFFFFF)
                    return false;
            }
            // Just outside the band, the frozen screen.
            return Rgb(*shown, anchor.X - 1, anchor.Y + 5) == Rgb(*before, anchor.X - 1, anchor.Y + 5) &&
                   Rgb(*shown, anchor.X + 5, anchor.Y + 1) == Rgb(*before, anchor.X + 5, anchor.Y + 1) &&
                   Rgb(*shown, moving.X + 1, moving.Y - 5) == Rgb(*before, moving.X + 1, moving.Y - 5);
        });
        EXPECT_TRUE(drawn) << "the band is not on the device pixels of the corners";
        ASSERT_TRUE(Xdotool({"mouseup", "1"}));
    });
    const std::unique_ptr<TBitmap> result = capture_->CaptureArea();
    ASSERT_TRUE(drive.ran);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(Differences(*result, Crop(*before, {anchor.X, anchor.Y, moving.X, moving.Y})), 0);
}

}  // namespace
