#include "capture/DesktopLayout.h"
#include "capture/OxaCapture.h"
#include "capture/SwayTree.h"
#include "capture/WaylandCapturePlatform.h"
#include "framework/Exception.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cstdlib>

// The Wayland platform's pure parts: how a compositor's layout lies on the desktop picture, what the
// capture reads from sway's window tree, and the platform over scripted pictures without a compositor
// (where the user picks windows in the desktop's own dialog).

namespace {

TEST(DesktopLayout, OutputsOfMixedScalesOnOnePicture)
{
    // Two outputs side by side, the second at scale 2, a third below the first at scale 1.5.
    DesktopLayout layout({{"A", {0, 0, 1280, 720}, 1, {}}, {"B", {1280, 0, 1920, 360}, 2, {}}, {"C", {0, 720, 800, 1120}, 1.5, {}}});
    // Predicted at the highest scale over the bounding box.
    EXPECT_EQ(layout.PictureSize(), (TPoint{3840, 2240}));
    EXPECT_EQ(layout.Monitors()[1].device, (TRect{2560, 0, 3840, 720}));
    EXPECT_EQ(layout.Monitors()[2].device, (TRect{0, 1440, 1600, 2240}));
    // A real picture at another resolution moves every mapping with it.
    layout.SetPictureSize({1920, 1120});
    EXPECT_EQ(layout.Monitors()[1].device, (TRect{1280, 0, 1920, 360}));
    EXPECT_EQ(layout.DeviceRect({100, 100, 301, 151}), (TRect{100, 100, 301, 151}));
    const TLogicalPoint centre = layout.LogicalPoint({1300, 10});
    EXPECT_DOUBLE_EQ(centre.X, 1300.5);
    EXPECT_DOUBLE_EQ(centre.Y, 10.5);

    // A layout that does not start at the origin, and one with no outputs known.
    DesktopLayout shifted({{"A", {-640, 0, 0, 480}, 2, {}}, {"B", {0, 0, 640, 480}, 1, {}}});
    EXPECT_EQ(shifted.Monitors()[1].device, (TRect{1280, 0, 2560, 960}));
    EXPECT_DOUBLE_EQ(shifted.LogicalPoint({1280, 0}).X, 0.25);
    DesktopLayout unknown;
    unknown.SetPictureSize({800, 600});
    ASSERT_EQ(unknown.Monitors().size(), 1u);
    EXPECT_EQ(unknown.Monitors()[0].device, (TRect{0, 0, 800, 600}));
}

// An answer of sway's get_tree, cut down to what is read: a tiled window with a title bar, a floating one
// with a title bar above its rectangle, two tabs on a second output, a fullscreen window on a third.
constexpr char kTree[] = R"({"id": 1, "type": "root", "rect": {"x": 0, "y": 0, "width": 3200, "height": 720}, "nodes": [
 {"id": 3, "type": "output", "rect": {"x": 0, "y": 0, "width": 1280, "height": 720}, "nodes": [
  {"id": 4, "type": "workspace", "rect": {"x": 0, "y": 0, "width": 1280, "height": 720}, "nodes": [
   {"id": 5, "type": "con", "name": "tiled", "pid": 11, "visible": true, "rect": {"x": 0, "y": 25, "width": 640, "height": 695},
    "deco_rect": {"x": 0, "y": 0, "width": 640, "height": 25}, "window_rect": {"x": 2, "y": 0, "width": 636, "height": 693}, "nodes": []}],
   "floating_nodes": [
   {"id": 7, "type": "floating_con", "name": "floating", "pid": 12, "visible": true, "rect": {"x": 100, "y": 125, "width": 304, "height": 202},
    "deco_rect": {"x": 100, "y": 100, "width": 304, "height": 25}, "window_rect": {"x": 2, "y": 0, "width": 300, "height": 200}, "nodes": []}]}]},
 {"id": 8, "type": "output", "rect": {"x": 1280, "y": 0, "width": 640, "height": 360}, "nodes": [
  {"id": 9, "type": "workspace", "rect": {"x": 1280, "y": 0, "width": 640, "height": 360}, "nodes": [
   {"id": 10, "type": "con", "layout": "tabbed", "rect": {"x": 1280, "y": 0, "width": 640, "height": 360}, "nodes": [
    {"id": 11, "type": "con", "name": "hidden tab", "pid": 13, "visible": false, "rect": {"x": 1280, "y": 25, "width": 640, "height": 335},
     "deco_rect": {"x": 0, "y": 0, "width": 320, "height": 25}, "nodes": []},
    {"id": 12, "type": "con", "name": "shown tab", "pid": 14, "visible": true, "focused": true, "rect": {"x": 1280, "y": 25, "width": 640, "height": 335},
     "deco_rect": {"x": 320, "y": 0, "width": 320, "height": 25}, "nodes": []}]}]}]},
 {"id": 20, "type": "output", "rect": {"x": 1920, "y": 0, "width": 1280, "height": 720}, "nodes": [
  {"id": 21, "type": "workspace", "rect": {"x": 1920, "y": 0, "width": 1280, "height": 720}, "nodes": [
   {"id": 22, "type": "con", "name": "under", "pid": 15, "visible": true, "rect": {"x": 1920, "y": 0, "width": 640, "height": 720}, "nodes": []},
   {"id": 23, "type": "con", "name": "full", "pid": 11, "visible": true, "fullscreen_mode": 1, "rect": {"x": 1920, "y": 0, "width": 1280, "height": 720}, "nodes": []}]}]}]})";

TEST(SwayTree, WindowsWithTheirDecorations)
{
    const QJsonObject tree = QJsonDocument::fromJson(kTree).object();
    const std::optional<TCompositorWindow> focused = FocusedWindow(tree);
    ASSERT_TRUE(focused);
    EXPECT_EQ(focused->id, 12u);
    EXPECT_EQ(focused->rect, (TRect{1280, 0, 1920, 360})) << "the tab's title lies above its rectangle";

    const auto at = [&](double x, double y) {
        const std::optional<TCompositorWindow> w = WindowAtPoint(tree, x, y);
        return w ? w->id : 0;
    };
    EXPECT_EQ(at(10, 10), 5u) << "a title bar belongs to its window";
    EXPECT_EQ(at(150, 110), 7u) << "floating windows lie above tiled ones";
    EXPECT_EQ(at(700, 300), 0u) << "nothing but the desktop";
    EXPECT_EQ(at(1300, 100), 12u) << "the hidden tab is not there";
    EXPECT_EQ(at(2000, 100), 23u) << "a fullscreen window covers the others";
    const std::optional<TCompositorWindow> floating = WindowById(tree, 7);
    ASSERT_TRUE(floating);
    EXPECT_EQ(floating->rect, (TRect{100, 100, 404, 327}));
    EXPECT_EQ(floating->client, (TRect{102, 125, 402, 325}));
    EXPECT_EQ(ShownWindowsOfProcess(tree, 11).size(), 2u);

    const std::vector<TMonitor> outputs = OutputsFromAnswer(QJsonDocument::fromJson(R"([
        {"name": "HEADLESS-1", "active": true, "scale": 1.0, "rect": {"x": 0, "y": 0, "width": 1280, "height": 720}},
        {"name": "OFF", "active": false, "scale": 1.0, "rect": {"x": 0, "y": 0, "width": 0, "height": 0}},
        {"name": "HEADLESS-2", "active": true, "scale": 2.0, "rect": {"x": 1280, "y": 0, "width": 640, "height": 360}}])").array());
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[1].name, "HEADLESS-2");
    EXPECT_EQ(outputs[1].scale, 2.0);
}

// Without a compositor to ask, the active window and the window under the mouse come from the desktop's
// own dialog: its picture is the window, and cancelling it cancels the capture.
class WaylandWithoutCompositor : public testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("SWAYSOCK");
        unsetenv("I3SOCK");
    }

    static TBitmap Picture(int width, int height, uint8_t shade)
    {
        TBitmap bitmap;
        bitmap.SetSize(width, height);
        for (int y = 0; y < height; ++y)
            std::fill_n(bitmap.ScanLine(y), bitmap.RowBytes(), shade);
        return bitmap;
    }

    std::vector<bool> requests;  // interactive or not, in order
    bool cancel = false;
    WaylandCapturePlatform platform{[this](bool interactive) {
        requests.push_back(interactive);
        if (interactive && cancel)
            throw ECaptureCancelled();
        return interactive ? Picture(30, 20, 0x40) : Picture(64, 48, 0x80);
    }};
};

TEST_F(WaylandWithoutCompositor, PickedWindowsAndCancelledPicks)
{
    TOxaScreenCapture capture(platform);
    capture.SetDelay(0);
    capture.SetAuto(false);
    EXPECT_TRUE(platform.PicksWindowsInteractively());

    const std::unique_ptr<TBitmap> desktop = capture.CaptureDesktop();
    EXPECT_EQ(desktop->Width(), 64);
    EXPECT_EQ(platform.GetScreenSize(), (TPoint{64, 48}));
    const std::unique_ptr<TBitmap> active = capture.CaptureActiveWindow();
    ASSERT_TRUE(active);
    EXPECT_EQ(active->Width(), 30);
    EXPECT_EQ(active->ScanLine(19)[4 * 29], 0x40);
    EXPECT_EQ(requests, (std::vector<bool>{false, true}));

    // The object under the mouse: picked after the overlay, the picture then copied.
    platform.OverlayPointerMoved({5, 6});
    EXPECT_EQ(platform.GetCursorPos(), (TPoint{5, 6}));
    const HWND picked = platform.WindowFromPoint({5, 6});
    EXPECT_EQ(platform.GetWindowRect(picked), (TRect{0, 0, 30, 20}));
    const HDC dc = platform.GetDC(0);
    TBitmap copy;
    copy.SetSize(40, 20);
    platform.BitBlt(copy, dc, 0, 0);
    EXPECT_EQ(copy.ScanLine(0)[4 * 29], 0x40);
    EXPECT_EQ(copy.ScanLine(0)[4 * 30], 0) << "beyond the picture is black";
    EXPECT_EQ(platform.ReleaseDC(0, dc), 1);
    EXPECT_EQ(requests.size(), 3u) << "the pick's picture is the context's, not a new one";

    cancel = true;
    EXPECT_EQ(capture.CaptureActiveWindow(), nullptr);
    EXPECT_EQ(platform.OpenContexts(), 0);
    EXPECT_EQ(capture.Bitmap().Width(), 30) << "the working bitmap keeps the last capture";
}

}  // namespace
