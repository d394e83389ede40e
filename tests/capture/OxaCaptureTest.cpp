#include "capture/FakeCapturePlatform.h"
#include "capture/OxaCapture.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The capture component against the scripted platform: the order of its steps, its settings, the
// cancel paths and what happens when a step fails.

namespace {

using Log = std::vector<std::string>;

class OxaCaptureTest : public testing::Test {
protected:
    OxaCaptureTest() : overlays(platform), capture(platform, &overlays)
    {
        platform.SetScreenSize(64, 48);
        platform.windows[7] = {10, 5, 30, 25};  // a 20 x 20 window
        capture.SetOnCapture([this](TOxaScreenCapture& sender) {
            EXPECT_EQ(&sender, &capture);
            platform.log.push_back("OnCapture");
            ++events;
        });
    }

    // Every pixel of the bitmap equals the screen's pixel at the offset.
    static void ExpectScreenPart(const TBitmap& bitmap, const TBitmap& screen, int left, int top)
    {
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                ASSERT_EQ(FakeCapturePlatform::PixelAt(bitmap, x, y), FakeCapturePlatform::PixelAt(screen, left + x, top + y))
                    << "at " << x << ", " << y;
    }

    FakeCapturePlatform platform;
    FakeCaptureOverlays overlays;
    TOxaScreenCapture capture;
    int events = 0;
};

TEST_F(OxaCaptureTest, DefaultsAndVersion)
{
    TOxaScreenCapture fresh(platform);
    EXPECT_TRUE(fresh.Auto());
    EXPECT_EQ(fresh.Delay(), 500);
    EXPECT_TRUE(fresh.Minimize());
    EXPECT_FALSE(fresh.OnCapture());
    EXPECT_TRUE(fresh.Bitmap().Empty());
    EXPECT_EQ(fresh.Bitmap().PixelFormat(), pfDevice);
    EXPECT_EQ(fresh.Version(), "TOxaScreenCapture v1.0");
    fresh.SetVersion("something else");
    EXPECT_EQ(fresh.Version(), "TOxaScreenCapture v1.0");
    fresh.SetDelay(0);
    fresh.SetAuto(false);
    fresh.SetMinimize(false);
    EXPECT_EQ(fresh.Delay(), 0);
    EXPECT_FALSE(fresh.Auto());
    EXPECT_FALSE(fresh.Minimize());
    EXPECT_TRUE(platform.log.empty()) << "assigning a property has no side effect";
}

TEST_F(OxaCaptureTest, DesktopStepsInOrder)
{
    const std::unique_ptr<TBitmap> result = capture.CaptureDesktop();
    EXPECT_EQ(platform.log, (Log{"MinimizeApplication", "Sleep(500)", "GetDesktopWindow -> 1", "GetDC(1) -> 100",
                                 "GetWindowRect(1)", "IsPaletteDevice(100)", "BitBlt(100, 0, 0, 64x48)",
                                 "ReleaseDC(1, 100)", "CopyToClipboard(64x48)", "OnCapture", "RestoreApplication"}));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->PixelFormat(), pfDevice);
    ASSERT_EQ(result->Width(), 64);
    ASSERT_EQ(result->Height(), 48);
    ExpectScreenPart(*result, platform.screen, 0, 0);
    ExpectScreenPart(platform.clipboard.at(0), platform.screen, 0, 0);
    ExpectScreenPart(capture.Bitmap(), platform.screen, 0, 0);
    EXPECT_TRUE(platform.openContexts.empty());
    EXPECT_FALSE(platform.minimized);
}

TEST_F(OxaCaptureTest, ActiveWindowStepsInOrder)
{
    platform.foregroundWindow = 7;
    const std::unique_ptr<TBitmap> result = capture.CaptureActiveWindow();
    EXPECT_EQ(platform.log, (Log{"MinimizeApplication", "Sleep(500)", "GetForegroundWindow -> 7", "GetWindowDC(7) -> 100",
                                 "IsPaletteDevice(100)", "GetWindowRect(7)", "BitBlt(100, 0, 0, 20x20)",
                                 "ReleaseDC(7, 100)", "CopyToClipboard(20x20)", "OnCapture", "RestoreApplication"}));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->Width(), 20);
    ASSERT_EQ(result->Height(), 20);
    ExpectScreenPart(*result, platform.screen, 10, 5);
}

TEST_F(OxaCaptureTest, RectStepsInOrderAndTheCopyIsTakenAtTheRectangle)
{
    const std::unique_ptr<TBitmap> result = capture.CaptureRect({ 12, 7, 52, 40 });
    EXPECT_EQ(platform.log,
        (Log { "MinimizeApplication", "Sleep(500)", "GetDC(0) -> 100", "IsPaletteDevice(100)",
            "BitBlt(100, 12, 7, 40x33)", "ReleaseDC(0, 100)", "CopyToClipboard(40x33)", "OnCapture",
            "RestoreApplication" }));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->Width(), 40);
    ASSERT_EQ(result->Height(), 33);
    ExpectScreenPart(*result, platform.screen, 12, 7);

    platform.log.clear();
    for (const TRect& empty : { TRect { 5, 5, 5, 9 }, TRect { 5, 5, 9, 4 } })
        EXPECT_THROW(capture.CaptureRect(empty), Exception);
    EXPECT_TRUE(platform.log.empty()) << "nothing happens for an empty rectangle";
}

TEST_F(OxaCaptureTest, ObjectStepsInOrderAndTheMouseIsReadAfterTheSecondWait)
{
    platform.cursor = {1, 1};  // on the desktop while the overlay is up
    overlays.whileShown = [this] { platform.cursor = {2, 2}; };
    int sleeps = 0;
    platform.onSleep = [&](int) {
        // The mouse moves onto window 7 during the wait after the overlay has closed.
        if (++sleeps == 2)
            platform.cursor = {15, 10};
    };
    const std::unique_ptr<TBitmap> result = capture.CaptureObject();
    EXPECT_EQ(platform.log,
              (Log{"MinimizeApplication", "Sleep(500)", "CreateObjectOverlay", "ShowObjectOverlay -> 1", "Sleep(500)",
                   "GetCursorPos -> 15, 10", "WindowFromPoint(15, 10) -> 7", "GetWindowRect(7)", "GetDC(0) -> 100",
                   "IsPaletteDevice(100)", "BitBlt(100, 10, 5, 20x20)", "CopyToClipboard(20x20)", "OnCapture",
                   "ReleaseDC(0, 100)", "DestroyObjectOverlay", "RestoreApplication"}));
    ASSERT_TRUE(result);
    ExpectScreenPart(*result, platform.screen, 10, 5);
    EXPECT_EQ(overlays.liveOverlays, 0);
}

TEST_F(OxaCaptureTest, ObjectCopiesWhateverTheScreenShowsInsideTheRectangle)
{
    // A window partly off the screen: its visible part as the screen shows it, black beyond the edge.
    platform.windows[8] = {50, 40, 70, 60};
    platform.cursor = {55, 45};
    const std::unique_ptr<TBitmap> result = capture.CaptureObject();
    ASSERT_TRUE(result);
    ASSERT_EQ(result->Width(), 20);
    ASSERT_EQ(result->Height(), 20);
    EXPECT_EQ(FakeCapturePlatform::PixelAt(*result, 0, 0), FakeCapturePlatform::PixelAt(platform.screen, 50, 40));
    EXPECT_EQ(FakeCapturePlatform::PixelAt(*result, 13, 7), FakeCapturePlatform::PixelAt(platform.screen, 63, 47));
    EXPECT_EQ(FakeCapturePlatform::PixelAt(*result, 14, 8), 0u);
}

TEST_F(OxaCaptureTest, AreaStepsInOrder)
{
    overlays.selection.SetSize(3, 2);
    overlays.selection.ScanLine(1)[8] = 0x42;  // blue of the last pixel
    const std::unique_ptr<TBitmap> result = capture.CaptureArea();
    EXPECT_EQ(platform.log, (Log{"MinimizeApplication", "Sleep(500)", "CreateAreaOverlay", "ShowAreaOverlay -> 1",
                                 "Sleep(500)", "Selection", "CopyToClipboard(3x2)", "OnCapture", "DestroyAreaOverlay",
                                 "RestoreApplication"}));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->Width(), 3);
    ASSERT_EQ(result->Height(), 2);
    EXPECT_EQ(FakeCapturePlatform::PixelAt(*result, 2, 1), 0x42u);
    EXPECT_EQ(FakeCapturePlatform::PixelAt(capture.Bitmap(), 2, 1), 0x42u);
}

TEST_F(OxaCaptureTest, EmptyAreaSelectionStillFinishes)
{
    capture.CaptureDesktop();  // the working bitmap holds an earlier capture
    platform.log.clear();
    platform.clipboard.clear();
    const std::unique_ptr<TBitmap> result = capture.CaptureArea();
    ASSERT_TRUE(result) << "a click without a drag ends with OK";
    EXPECT_TRUE(result->Empty());
    EXPECT_EQ(result->Width(), 0);
    EXPECT_EQ(result->Height(), 0);
    EXPECT_TRUE(capture.Bitmap().Empty());
    EXPECT_TRUE(platform.clipboard.empty()) << "no pixels: the clipboard stays as it was";
    EXPECT_EQ(events, 2) << "OnCapture still fires";
}

TEST_F(OxaCaptureTest, CancelledOverlaysYieldNothingAndTouchNothing)
{
    const std::unique_ptr<TBitmap> first = capture.CaptureDesktop();
    const TBitmap before = capture.Bitmap();
    for (const int modalResult : {0, 2, -1}) {
        for (const bool area : {false, true}) {
            SCOPED_TRACE((area ? "area, result " : "object, result ") + std::to_string(modalResult));
            platform.log.clear();
            platform.clipboard.clear();
            events = 0;
            overlays.modalResult = modalResult;
            const std::unique_ptr<TBitmap> result = area ? capture.CaptureArea() : capture.CaptureObject();
            EXPECT_FALSE(result);
            const std::string kind = area ? "Area" : "Object";
            EXPECT_EQ(platform.log, (Log{"MinimizeApplication", "Sleep(500)", "Create" + kind + "Overlay",
                                         "Show" + kind + "Overlay -> " + std::to_string(modalResult),
                                         "Destroy" + kind + "Overlay", "RestoreApplication"}));
            EXPECT_TRUE(platform.clipboard.empty());
            EXPECT_EQ(events, 0);
            EXPECT_FALSE(platform.minimized);
            ASSERT_EQ(capture.Bitmap().Width(), before.Width());
            ExpectScreenPart(capture.Bitmap(), platform.screen, 0, 0);
        }
    }
}

TEST_F(OxaCaptureTest, SettingsChangeTheSteps)
{
    capture.SetDelay(0);
    capture.SetMinimize(false);
    capture.SetAuto(false);
    capture.SetOnCapture(nullptr);
    capture.CaptureDesktop();
    EXPECT_EQ(platform.log, (Log{"Sleep(0)", "GetDesktopWindow -> 1", "GetDC(1) -> 100", "GetWindowRect(1)",
                                 "IsPaletteDevice(100)", "BitBlt(100, 0, 0, 64x48)", "ReleaseDC(1, 100)"}));

    // The delay goes to the platform unchanged, also after an overlay.
    platform.log.clear();
    capture.SetDelay(1234);
    overlays.selection.SetSize(1, 1);
    capture.CaptureArea();
    EXPECT_EQ(platform.log, (Log{"Sleep(1234)", "CreateAreaOverlay", "ShowAreaOverlay -> 1", "Sleep(1234)", "Selection",
                                 "DestroyAreaOverlay"}));
    EXPECT_TRUE(platform.clipboard.empty());
}

TEST_F(OxaCaptureTest, AnApplicationMinimisedBeforeIsRestoredAtTheEnd)
{
    platform.minimized = true;
    capture.CaptureDesktop();
    EXPECT_EQ(platform.log.front(), "MinimizeApplication (already)");
    EXPECT_EQ(platform.log.back(), "RestoreApplication");
    EXPECT_FALSE(platform.minimized);

    // With Minimize False the application stays as it is.
    platform.log.clear();
    platform.minimized = true;
    capture.SetMinimize(false);
    capture.CaptureDesktop();
    EXPECT_TRUE(platform.minimized);
    for (const std::string& call : platform.log)
        EXPECT_EQ(call.find("Application"), std::string::npos) << call;
}

TEST_F(OxaCaptureTest, ResultsAreIndependentOfLaterCaptures)
{
    const std::unique_ptr<TBitmap> desktop = capture.CaptureDesktop();
    platform.foregroundWindow = 7;
    const std::unique_ptr<TBitmap> window = capture.CaptureActiveWindow();
    ASSERT_EQ(desktop->Width(), 64);
    ExpectScreenPart(*desktop, platform.screen, 0, 0);
    ExpectScreenPart(*window, platform.screen, 10, 5);
    ExpectScreenPart(platform.clipboard.at(0), platform.screen, 0, 0);
    EXPECT_EQ(platform.clipboard.at(1).Width(), 20);
}

TEST_F(OxaCaptureTest, PaletteDisplaysGiveTheSystemPalette)
{
    platform.paletteDevice = true;
    for (int i = 0; i < 256; ++i)
        platform.systemPalette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
    const std::unique_ptr<TBitmap> result = capture.CaptureDesktop();
    EXPECT_EQ(platform.log[5], "IsPaletteDevice(100)");
    EXPECT_EQ(platform.log[6], "GetSystemPaletteEntries(100, 0, 256)");
    ASSERT_TRUE(result->Palette());
    EXPECT_EQ(result->Palette()->Entries(), platform.systemPalette);
    ASSERT_TRUE(platform.clipboard.at(0).Palette());
    EXPECT_EQ(platform.clipboard.at(0).Palette()->Count(), 256);

    // No entries: no palette (and the one from before stays).
    TOxaScreenCapture other(platform);
    platform.systemPalette.clear();
    other.CaptureDesktop();
    EXPECT_FALSE(other.Bitmap().Palette());
}

TEST_F(OxaCaptureTest, FailureWhileSizingReleasesAndRestores)
{
    // A rectangle the framework refuses to allocate.
    platform.windows[9] = {0, 0, 200000, 200000};
    platform.foregroundWindow = 9;
    platform.cursor = {5, 5};
    platform.windowAt = [](TPoint) { return HWND{9}; };
    for (int operation = 0; operation < 2; ++operation) {
        SCOPED_TRACE(operation == 0 ? "active window" : "object");
        platform.log.clear();
        EXPECT_THROW(operation == 0 ? capture.CaptureActiveWindow() : capture.CaptureObject(), EOutOfResources);
        EXPECT_TRUE(platform.openContexts.empty());
        EXPECT_EQ(platform.badReleases, 0);
        EXPECT_EQ(platform.log.back(), "RestoreApplication");
        EXPECT_FALSE(platform.minimized);
        EXPECT_EQ(events, 0);
        EXPECT_TRUE(platform.clipboard.empty());
    }
}

TEST_F(OxaCaptureTest, FailuresReleaseEveryContextOnceAndRestore)
{
    struct Case {
        const char* failOn;
        int operation; // 0 desktop, 1 active window, 2 object, 3 rectangle
        int expectedEvents;
    };
    const Case cases[] = {
        { "BitBlt", 0, 0 },
        { "BitBlt", 1, 0 },
        { "BitBlt", 2, 0 },
        { "IsPaletteDevice", 0, 0 },
        { "IsPaletteDevice", 2, 0 },
        { "GetWindowRect", 1, 0 },
        { "CopyToClipboard", 0, 0 },
        { "CopyToClipboard", 2, 0 },
        { "ReleaseDC", 0, 0 },
        { "BitBlt", 3, 0 },
        { "CopyToClipboard", 3, 0 },
        { "ReleaseDC", 3, 0 },
    };
    platform.foregroundWindow = 7;
    platform.cursor = {15, 10};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.failOn) + " in operation " + std::to_string(c.operation));
        platform.log.clear();
        platform.failOn = c.failOn;
        events = 0;
        try {
            if (c.operation == 0)
                capture.CaptureDesktop();
            else if (c.operation == 1)
                capture.CaptureActiveWindow();
            else if (c.operation == 2)
                capture.CaptureObject();
            else
                capture.CaptureRect({ 3, 4, 13, 14 });
            ADD_FAILURE() << "no failure";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "fake failure") << "the failure reaches the caller unchanged";
        }
        platform.failOn.clear();
        EXPECT_TRUE(platform.openContexts.empty());
        EXPECT_EQ(platform.badReleases, 0);
        int releases = 0;
        for (const std::string& call : platform.log)
            releases += call.rfind("ReleaseDC", 0) == 0;
        EXPECT_EQ(releases, 1);
        EXPECT_EQ(platform.log.back(), "RestoreApplication");
        EXPECT_FALSE(platform.minimized);
        EXPECT_EQ(events, c.expectedEvents);
    }
}

TEST_F(OxaCaptureTest, FailingEventHandlerStillRestores)
{
    capture.SetOnCapture([](TOxaScreenCapture&) { throw Exception("handler failed"); });
    EXPECT_THROW(capture.CaptureDesktop(), Exception);
    EXPECT_EQ(platform.log.back(), "RestoreApplication");
    EXPECT_TRUE(platform.openContexts.empty());
    ASSERT_EQ(platform.clipboard.size(), 1u) << "the clipboard comes before the event";
}

TEST_F(OxaCaptureTest, FailuresBeforeTheReadStillRestore)
{
    // Minimising itself fails half-way, or the overlay cannot be made.
    platform.failOn = "Sleep";
    EXPECT_THROW(capture.CaptureArea(), Exception);
    EXPECT_EQ(platform.log, (Log{"MinimizeApplication", "Sleep(500)", "RestoreApplication"}));
    platform.failOn.clear();

    platform.log.clear();
    TOxaScreenCapture withoutOverlays(platform);
    EXPECT_THROW(withoutOverlays.CaptureObject(), Exception);
    EXPECT_EQ(platform.log, (Log{"MinimizeApplication", "Sleep(500)", "RestoreApplication"}));
    EXPECT_FALSE(platform.minimized);
}

}  // namespace
