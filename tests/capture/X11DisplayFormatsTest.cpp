#include "X11TestSupport.h"
#include "capture/OxaCapture.h"
#include "capture/X11CapturePlatform.h"

#include <QWidget>

#include <gtest/gtest.h>

// The X11 platform on the displays that run-on-xvfb.sh starts for them: 16 bits per pixel, 8-bit palette
// displays, and a display without a window manager. On other displays these tests skip.

namespace {

class X11DisplayFormats : public testing::Test {
protected:
    void SetUp() override
    {
        KAVREL_REQUIRE_X11();
        display_ = std::make_unique<X11TestDisplay>();
        capture_ = std::make_unique<TOxaScreenCapture>(platform_);
        capture_->SetDelay(0);
        capture_->SetMinimize(false);
        capture_->SetAuto(false);
    }

    std::unique_ptr<X11TestDisplay> display_;
    X11CapturePlatform platform_;
    std::unique_ptr<TOxaScreenCapture> capture_;
};

TEST_F(X11DisplayFormats, SixteenBitDisplays)
{
    if (display_->Depth() != 16)
        GTEST_SKIP() << "the display is not 16 bits deep (ctest runs this as capture_x11_depth16)";
    // 5-6-5 colours widen by repeating their top bits: full scale stays full scale, and 0x123456 keeps
    // red 00010, green 001101, blue 01010, shown as 0x10, 0x34, 0x52.
    const uint32_t requested[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x080408, 0x123456};
    const uint32_t shown[] = {0xFF0000, 0x00FF00, 0x0000FF, 0x080408, 0x103452};
    for (int i = 0; i < 5; ++i)
        display_->CreateWindow({100 * i, 0, 100 * i + 50, 40}, requested[i], true);
    for (const bool sharedMemory : {true, false}) {
        platform_.SetSharedMemoryAllowed(sharedMemory);
        const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
        EXPECT_FALSE(desktop->Palette());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(CountColor(*desktop, shown[i], {100 * i, 0, 100 * i + 50, 40}), 50L * 40)
                << std::hex << shown[i] << (sharedMemory ? " with MIT-SHM" : " with xcb_get_image");
    }
}

TEST_F(X11DisplayFormats, PaletteDisplays)
{
    if (!display_->PaletteDisplay())
        GTEST_SKIP() << "the display has no palette (ctest runs this as capture_x11_palette)";
    uint32_t shownA = 0, shownB = 0;
    const uint32_t pixelA = display_->PixelFor(0xC81E64, &shownA);
    const uint32_t pixelB = display_->PixelFor(0x30A0F0, &shownB);
    display_->CreateWindow({10, 10, 110, 60}, 0xC81E64, true);
    display_->CreateWindow({200, 10, 260, 60}, 0x30A0F0, true);

    EXPECT_TRUE(platform_.IsPaletteDevice(1));
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    ASSERT_TRUE(desktop->Palette()) << "a palette display gives the capture the system palette";
    const std::vector<TPaletteEntry>& palette = desktop->Palette()->Entries();
    ASSERT_EQ(palette.size(), 256u);
    ASSERT_LT(pixelA, 256u);
    ASSERT_LT(pixelB, 256u);
    EXPECT_EQ(palette[pixelA], (TPaletteEntry{uint8_t(shownA >> 16), uint8_t(shownA >> 8), uint8_t(shownA), 0}));
    EXPECT_EQ(CountColor(*desktop, shownA, {10, 10, 110, 60}), 100L * 50);
    EXPECT_EQ(CountColor(*desktop, shownB, {200, 10, 260, 60}), 60L * 50);
    platform_.SetSharedMemoryAllowed(false);
    const std::unique_ptr<TBitmap> again = capture_->CaptureDesktop();
    EXPECT_EQ(CountColor(*again, shownB, {200, 10, 260, 60}), 60L * 50);
}

class X11WithoutWindowManager : public X11DisplayFormats {};

TEST_F(X11WithoutWindowManager, OwnWindowsAreHiddenAndShownAgain)
{
    if (!X11TestDisplay::QtOnX11())
        GTEST_SKIP() << "Qt does not run on the X display here";
    if (platform_.WindowManagerRunning())
        GTEST_SKIP() << "a window manager runs (ctest runs this as capture_x11_no_window_manager)";
    const uint32_t colour = 0xFF8000;
    QWidget widget;
    widget.setAutoFillBackground(true);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(colour));
    widget.setPalette(palette);
    widget.setGeometry(300, 300, 100, 80);
    widget.show();
    ASSERT_TRUE(WaitUntil([&] {
        const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
        return CountColor(*desktop, colour, {0, 0, desktop->Width(), desktop->Height()}) == 100L * 80;
    }));
    const HWND id = static_cast<HWND>(widget.winId());
    widget.activateWindow();
    EXPECT_TRUE(WaitUntil([&] { return platform_.GetForegroundWindow() == id; }))
        << "without a window manager: the window with the keyboard focus";

    capture_->SetMinimize(true);
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    EXPECT_EQ(CountColor(*desktop, colour, {0, 0, desktop->Width(), desktop->Height()}), 0);
    EXPECT_TRUE(WaitUntil([&] { return platform_.IsWindowShown(id) && widget.isVisible(); }));
    EXPECT_FALSE(platform_.IsApplicationMinimized());
}

}  // namespace
