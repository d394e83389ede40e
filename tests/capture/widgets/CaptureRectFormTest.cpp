#include "OverlayTestSupport.h"
#include "capture/CaptureTheRect.h"
#include "capture/FakeCapturePlatform.h"
#include "framework/Exception.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QTimerEvent>

#include <gtest/gtest.h>

#include <set>
#include <utility>

// The area overlay on the offscreen platform over a scripted 160 x 120 screen whose neighbouring
// pixels all differ.

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

class CaptureRectFormTest : public testing::Test {
protected:
    void SetUp() override
    {
        platform.SetScreenSize(kWidth, kHeight);
        form = std::make_unique<TCaptureRectForm>(platform);
        // The timer is driven by hand, so that every step is seen.
        form->Timer1->stop();
        ASSERT_TRUE(ShowAndWait(*form));
    }

    // The screen's pixel as the window shows it (0xRRGGBB).
    uint32_t Screen(int x, int y) const { return FakeCapturePlatform::PixelAt(platform.screen, x, y); }

    void Tick()
    {
        // What the timer does every 100 ms.
        form->Timer1->start();
        QTimerEvent event(form->Timer1->timerId());
        QCoreApplication::sendEvent(form->Timer1, &event);
        form->Timer1->stop();
    }

    // Every pixel that the window shows: the band's colours (starting with the phase) along the path
    // through the corners, the frozen screen everywhere else.
    void ExpectShows(TPoint anchor, TPoint moving, uint8_t phase)
    {
        std::map<std::pair<int, int>, uint32_t> band;
        uint8_t bits = phase;
        TraceBand(anchor, moving, [&](int x, int y) {
            bits = NextDashBits(bits);
            band[{x, y}] = DashColor(bits) == clRed ? 0xFF0000 : 0xFFFFFF;
        });
        const QImage shown = Shown(*form);
        ASSERT_EQ(shown.size(), QSize(kWidth, kHeight));
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const auto it = band.find({x, y});
                const uint32_t expected = it != band.end() ? it->second : Screen(x, y);
                const uint32_t actual = shown.pixel(x, y) & 0xFFFFFF;
                if (actual != expected && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << ", " << y << ": " << std::hex << actual << " instead of "
                                  << expected;
            }
        }
    }

    void ExpectNoBand() { ExpectShows({0, 0}, {0, 0}, 0x80); }

    void ExpectSelectionIsScreenAt(int left, int top, int width, int height)
    {
        const TBitmap& selection = form->Selection();
        ASSERT_EQ(selection.Width(), width);
        ASSERT_EQ(selection.Height(), height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(FakeCapturePlatform::PixelAt(selection, x, y), Screen(left + x, top + y)) << x << ", " << y;
    }

    FakeCapturePlatform platform;
    std::unique_ptr<TCaptureRectForm> form;
};

TEST_F(CaptureRectFormTest, CreationFreezesTheScreen)
{
    // The size is asked again after the copy: a display may measure the screen by its picture.
    EXPECT_EQ(platform.log, (std::vector<std::string>{"GetScreenSize", "GetDC(0) -> 100", "IsPaletteDevice(100)",
                                                      "BitBlt(100, 0, 0, 160x120)", "GetScreenSize",
                                                      "ReleaseDC(0, 100)", "GetScreenSize"}));
    EXPECT_TRUE(platform.openContexts.empty());
    EXPECT_EQ(form->geometry(), QRect(0, 0, kWidth, kHeight));
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("CaptureRectForm"));
    EXPECT_EQ(form->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(form->CurrentDashPhase(), 0x80);
    EXPECT_EQ(form->Timer1->interval(), 100);
    EXPECT_TRUE(form->Selection().Empty());
    EXPECT_EQ(form->Anchor(), (TPoint{0, 0}));
    EXPECT_EQ(form->MovingCorner(), (TPoint{0, 0}));

    // The screen changes; the overlay keeps showing it as it was.
    const TBitmap before = platform.screen;
    platform.SetScreenSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        std::fill_n(platform.screen.ScanLine(y), platform.screen.RowBytes(), uint8_t{0x55});
    form->repaint();
    platform.screen = before;
    ExpectNoBand();
}

TEST_F(CaptureRectFormTest, TimerRunsFromCreationAndDrawsNothingBeforeAPress)
{
    TCaptureRectForm fresh(platform);
    EXPECT_TRUE(fresh.Timer1->isActive());
    PaintRecorder paints(*form);
    Tick();
    EXPECT_EQ(form->CurrentDashPhase(), 0x20);
    EXPECT_TRUE(paints.regions.empty()) << "corners at (0, 0): nothing to draw";
    ExpectNoBand();
}

TEST_F(CaptureRectFormTest, DragToTheUpperLeftGivesTheOrderedRectangle)
{
    Press(*form, {90, 70}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(form->SelectionRect(), (TRect{90, 70, 90, 70}));
    ExpectNoBand();
    Move(*form, {75, 60}, Qt::LeftButton);
    Move(*form, {60, 50}, Qt::LeftButton);
    EXPECT_EQ(form->Anchor(), (TPoint{90, 70}));
    EXPECT_EQ(form->MovingCorner(), (TPoint{60, 50}));
    EXPECT_EQ(form->SelectionRect(), (TRect{90, 70, 60, 50})) << "provisional until the release";
    ExpectShows({90, 70}, {60, 50}, 0x80);

    // The release position is not used: the rectangle is where the last movement left it.
    Release(*form, {10, 10}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(form->ModalResult(), mrOk);
    EXPECT_EQ(form->SelectionRect(), (TRect{60, 50, 90, 70}));
    // The band's top and left lines lay inside the rectangle: the copy holds the frozen screen there.
    ExpectSelectionIsScreenAt(60, 50, 30, 20);
    ExpectNoBand();
    EXPECT_EQ(platform.log.back(), "GetScreenSize") << "the selection is taken from the frozen copy";

    // The mirrored drag gives the same picture.
    TCaptureRectForm mirrored(platform);
    Press(mirrored, {60, 50}, Qt::LeftButton, Qt::LeftButton);
    Move(mirrored, {90, 70}, Qt::LeftButton);
    Release(mirrored, {90, 70}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(mirrored.SelectionRect(), (TRect{60, 50, 90, 70}));
    ASSERT_EQ(mirrored.Selection().Width(), 30);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(FakeCapturePlatform::PixelAt(mirrored.Selection(), x, y),
                      FakeCapturePlatform::PixelAt(form->Selection(), x, y));
}

TEST_F(CaptureRectFormTest, ClickWithoutDragEndsWithAnEmptySelection)
{
    Press(*form, {40, 30}, Qt::LeftButton, Qt::LeftButton);
    Release(*form, {40, 30}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(form->ModalResult(), mrOk);
    EXPECT_EQ(form->SelectionRect(), (TRect{40, 30, 40, 30}));
    EXPECT_TRUE(form->Selection().Empty());
    EXPECT_EQ(form->Selection().Width(), 0);
    EXPECT_EQ(form->Selection().Height(), 0);
}

TEST_F(CaptureRectFormTest, DragAlongOneRowDrawsTheRowAndSelectsNothing)
{
    Press(*form, {20, 40}, Qt::LeftButton, Qt::LeftButton);
    Move(*form, {50, 40}, Qt::LeftButton);
    // Lines 1 and 3 run along the same row; the later one's colours stay.
    ExpectShows({20, 40}, {50, 40}, 0x80);
    Release(*form, {50, 40}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(form->ModalResult(), mrOk);
    EXPECT_TRUE(form->Selection().Empty());
}

TEST_F(CaptureRectFormTest, RightOrMiddlePressRemovesTheBandAndMovesBothCorners)
{
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        SCOPED_TRACE(button == Qt::RightButton ? "right" : "middle");
        Press(*form, {20, 20}, Qt::LeftButton, Qt::LeftButton);
        Move(*form, {70, 60}, Qt::LeftButton);
        ExpectShows({20, 20}, {70, 60}, 0x80);

        Press(*form, {100, 90}, button, Qt::LeftButton | button);
        EXPECT_EQ(form->Anchor(), (TPoint{100, 90}));
        EXPECT_EQ(form->MovingCorner(), (TPoint{100, 90}));
        ExpectNoBand();
        // Moving with only that button held, and releasing it, change nothing.
        Move(*form, {120, 100}, button);
        Release(*form, {120, 100}, button, Qt::LeftButton);
        EXPECT_EQ(form->MovingCorner(), (TPoint{100, 90}));
        EXPECT_EQ(form->ModalResult(), 0);
        ExpectNoBand();
        // With the left button still held the drag goes on from the new point.
        Move(*form, {110, 95}, Qt::LeftButton);
        ExpectShows({100, 90}, {110, 95}, 0x80);
        Press(*form, {0, 0}, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
        Release(*form, {0, 0}, Qt::RightButton, Qt::LeftButton);
    }
}

TEST_F(CaptureRectFormTest, MovementWithoutTheLeftButtonDoesNothing)
{
    PaintRecorder paints(*form);
    Move(*form, {50, 50}, Qt::NoButton);
    Move(*form, {60, 55}, Qt::RightButton);
    EXPECT_EQ(form->MovingCorner(), (TPoint{0, 0}));
    EXPECT_TRUE(paints.regions.empty());
    Press(*form, {30, 30}, Qt::LeftButton, Qt::LeftButton);
    Release(*form, {30, 30}, Qt::LeftButton, Qt::NoButton);
    Move(*form, {80, 80}, Qt::NoButton);
    EXPECT_EQ(form->MovingCorner(), (TPoint{30, 30}));
    ExpectNoBand();
}

TEST_F(CaptureRectFormTest, TimerTicksCycleThePhases)
{
    Press(*form, {30, 20}, Qt::LeftButton, Qt::LeftButton);
    Move(*form, {100, 80}, Qt::LeftButton);
    ExpectShows({30, 20}, {100, 80}, 0x80);
    PaintRecorder paints(*form);
    for (const uint8_t phase : {0x20, 0x08, 0x02, 0x80, 0x20}) {
        Tick();
        EXPECT_EQ(form->CurrentDashPhase(), phase);
        ExpectShows({30, 20}, {100, 80}, phase);
        // A tick redraws the band where it is, and only the band.
        ASSERT_FALSE(paints.regions.empty());
        EXPECT_EQ(paints.regions.back(), RegionOf(BandOutline({30, 20}, {100, 80})));
    }
}

TEST_F(CaptureRectFormTest, ErasingRepaintsOnlyTheRing)
{
    Press(*form, {40, 30}, Qt::LeftButton, Qt::LeftButton);
    Move(*form, {120, 90}, Qt::LeftButton);
    PaintRecorder paints(*form);
    Move(*form, {70, 60}, Qt::LeftButton);
    // Two paints: the old band's ring from the frozen copy, then the new band.
    ASSERT_EQ(paints.regions.size(), 2u);
    EXPECT_EQ(paints.regions[0], RegionOf(BandRing({40, 30}, {120, 90})));
    EXPECT_EQ(paints.regions[1], RegionOf(BandOutline({40, 30}, {70, 60})));
    // Around the old band (its ring and a pixel either side) the screen shows through again.
    const QImage shown = Shown(*form);
    for (int y = 88; y <= 92; ++y)
        for (int x = 75; x < 118; ++x)
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, Screen(x, y)) << x << ", " << y;
    for (int x = 118; x <= 122; ++x)
        for (int y = 62; y < 88; ++y)
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, Screen(x, y)) << x << ", " << y;
    ExpectShows({40, 30}, {70, 60}, 0x80);

    // The left button's release with a rectangle erases the band too.
    paints.regions.clear();
    Release(*form, {70, 60}, Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(paints.regions.size(), 1u);
    EXPECT_EQ(paints.regions[0], RegionOf(BandRing({40, 30}, {70, 60})));
    ExpectNoBand();
}

TEST_F(CaptureRectFormTest, ModalDisplayEndsOnTheReleaseOrOnClose)
{
    WhenRunning([&] {
        EXPECT_TRUE(form->isVisible());
        Press(*form, {10, 10}, Qt::LeftButton, Qt::LeftButton);
        Move(*form, {30, 25}, Qt::LeftButton);
        Release(*form, {30, 25}, Qt::LeftButton, Qt::NoButton);
    });
    EXPECT_EQ(form->ShowModal(), mrOk);
    EXPECT_FALSE(form->isVisible());
    ExpectSelectionIsScreenAt(10, 10, 20, 15);

    // Keys do nothing; a close from outside (the window manager's Alt+F4) cancels.
    TCaptureRectForm other(platform);
    WhenRunning([&] {
        for (const int key : {int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Space)}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(&other, &press);
        }
        EXPECT_TRUE(other.isVisible());
        EXPECT_EQ(other.ModalResult(), 0);
        other.close();
    });
    EXPECT_EQ(other.ShowModal(), mrCancel);
    EXPECT_FALSE(other.isVisible());
    EXPECT_TRUE(other.Selection().Empty());
}

TEST_F(CaptureRectFormTest, PaletteDisplayGivesTheSnapshotAndSelectionThePalette)
{
    platform.paletteDevice = true;
    platform.systemPalette = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}};
    TCaptureRectForm paletted(platform);
    ASSERT_NE(paletted.Snapshot().Palette(), nullptr);
    EXPECT_EQ(paletted.Snapshot().Palette()->Entries(), platform.systemPalette);
    Press(paletted, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    Move(paletted, {15, 12}, Qt::LeftButton);
    Release(paletted, {15, 12}, Qt::LeftButton, Qt::NoButton);
    ASSERT_NE(paletted.Selection().Palette(), nullptr);
    EXPECT_EQ(paletted.Selection().Palette()->Entries(), platform.systemPalette);
}

TEST_F(CaptureRectFormTest, FailedScreenCopyReleasesTheContextAndFails)
{
    platform.log.clear();
    platform.failOn = "BitBlt";
    EXPECT_THROW(TCaptureRectForm failing(platform), Exception);
    EXPECT_TRUE(platform.openContexts.empty());
    EXPECT_EQ(platform.badReleases, 0);
    EXPECT_EQ(platform.log.back(), "ReleaseDC(0, 101)");
}

// A failure inside an event handler never passes through Qt: it ends the modal display and comes out of
// the display's call, with the window hidden.
class FailingOverlay : public ScreenOverlay {
public:
    explicit FailingOverlay(ICapturePlatform& platform) : ScreenOverlay(platform, nullptr) {}
    void Fail()
    {
        Guarded([] { throw Exception("handler failed"); });
    }
    int Show() { return RunModal(); }
};

TEST(ScreenOverlay, HandlerFailureEndsTheModalDisplayAndIsRaisedThere)
{
    FakeCapturePlatform platform;
    FailingOverlay overlay(platform);
    WhenRunning([&] { overlay.Fail(); });
    try {
        overlay.Show();
        ADD_FAILURE() << "no failure came out";
    } catch (const Exception& failure) {
        EXPECT_STREQ(failure.what(), "handler failed");
    }
    EXPECT_FALSE(overlay.isVisible());
    // The next display starts clean.
    WhenRunning([&] { overlay.SetModalResult(mrOk); });
    EXPECT_EQ(overlay.Show(), mrOk);
}

}  // namespace
