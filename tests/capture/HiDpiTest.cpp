#include "X11TestSupport.h"
#include "capture/OxaCapture.h"
#include "capture/ScreenGeometry.h"
#include "capture/X11CapturePlatform.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

// Device pixels against the toolkit's logical coordinates. The HiDpi tests need a scale factor
// (ctest runs them as capture_hidpi with QT_SCALE_FACTOR=2) and skip without one.

namespace {

TEST(ScreenGeometry, LogicalAndDeviceCoordinates)
{
    EXPECT_EQ(DeviceRectFromLogical({100, 50, 300, 150}, 2), (TRect{200, 100, 600, 300}));
    EXPECT_EQ(DeviceRectFromLogical({1, 1, 2, 2}, 1.5), (TRect{2, 2, 3, 3}));
    // Adjacent logical rectangles stay adjacent at fractional ratios.
    EXPECT_EQ(DeviceRectFromLogical({0, 0, 3, 3}, 1.25).Right, DeviceRectFromLogical({3, 3, 6, 6}, 1.25).Left);
    EXPECT_EQ(DevicePointFromLogical(300, 200, 2), (TPoint{600, 400}));
    EXPECT_EQ(DevicePointFromLogical(10.5, 0.25, 2), (TPoint{21, 1}));
    EXPECT_EQ(LogicalRectFromDevice({200, 100, 600, 300}, 2), (TRect{100, 50, 300, 150}));
    EXPECT_EQ(LogicalRectFromDevice({201, 101, 599, 299}, 2), (TRect{100, 50, 300, 150})) << "rounded outwards";
    EXPECT_EQ(LogicalRectFromDevice({0, 0, 7, 7}, 3), (TRect{0, 0, 3, 3}));
    EXPECT_EQ(DeviceRectFromLogical({3, 4, 5, 6}, 1), (TRect{3, 4, 5, 6}));
}

TEST(ScreenGeometry, EventPositionsRoundedToLogicalPixels)
{
    // Device pixels 319 and 320 both arrive as logical 160 at a ratio of 2: the pointer tells them apart.
    EXPECT_EQ(DevicePointOfEvent(160, 122, 2, {319, 244}), (TPoint{319, 244}));
    EXPECT_EQ(DevicePointOfEvent(160, 122, 2, {320, 245}), (TPoint{320, 245}));
    // The pointer has moved on since the event: the event's own position counts.
    EXPECT_EQ(DevicePointOfEvent(160, 122, 2, {330, 244}), (TPoint{320, 244}));
    EXPECT_EQ(DevicePointOfEvent(160, 122, 2, {320, 250}), (TPoint{320, 244}));
    EXPECT_EQ(DevicePointOfEvent(10, 10, 1.5, {16, 14}), (TPoint{15, 15}));
    EXPECT_EQ(DevicePointOfEvent(10, 10, 3, {29, 31}), (TPoint{29, 31}));
    EXPECT_EQ(DevicePointOfEvent(10, 10, 3, {32, 30}), (TPoint{30, 30}));
}

class HiDpi : public testing::Test {
protected:
    void SetUp() override
    {
        KAVREL_REQUIRE_QT_ON_X11();
        ratio_ = QGuiApplication::primaryScreen()->devicePixelRatio();
        if (ratio_ == 1)
            GTEST_SKIP() << "no scale factor (ctest runs these as capture_hidpi with QT_SCALE_FACTOR=2)";
        capture_ = std::make_unique<TOxaScreenCapture>(platform_);
        capture_->SetDelay(0);
        capture_->SetMinimize(false);
        capture_->SetAuto(false);
    }

    static std::unique_ptr<QWidget> Coloured(uint32_t rgb, const QRect& geometry, Qt::WindowFlags flags = {})
    {
        auto widget = std::make_unique<QWidget>(nullptr, flags);
        widget->setAutoFillBackground(true);
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(rgb));
        widget->setPalette(palette);
        widget->setGeometry(geometry);
        widget->show();
        return widget;
    }

    bool WaitForColour(uint32_t rgb, long pixels)
    {
        return WaitUntil([&] {
            const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
            return CountColor(*desktop, rgb, {0, 0, desktop->Width(), desktop->Height()}) == pixels;
        });
    }

    double ratio_ = 1;
    X11CapturePlatform platform_;
    std::unique_ptr<TOxaScreenCapture> capture_;
};

TEST_F(HiDpi, CapturesAreInDevicePixels)
{
    const uint32_t colour = 0xFF00FF;
    const auto widget = Coloured(colour, QRect(100, 50, 200, 100), Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    const TRect device = DeviceRectFromLogical({100, 50, 300, 150}, ratio_);
    ASSERT_TRUE(WaitForColour(colour, long(device.Width()) * device.Height()));

    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    const QSize logicalScreen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(desktop->Width(), qRound(logicalScreen.width() * ratio_));
    EXPECT_EQ(desktop->Height(), qRound(logicalScreen.height() * ratio_));
    EXPECT_EQ(BoundsOfColor(*desktop, colour), device);

    const HWND id = static_cast<HWND>(widget->winId());
    EXPECT_EQ(platform_.WindowFromPoint({device.Left + 1, device.Top + 1}), id);
    EXPECT_EQ(platform_.GetWindowRect(id), device);

    QCursor::setPos(300, 200);
    EXPECT_TRUE(WaitUntil([&] { return platform_.GetCursorPos() == DevicePointFromLogical(300, 200, ratio_); }));
}

TEST_F(HiDpi, ActiveWindowAndMinimize)
{
    const uint32_t colour = 0x00C0FF;
    const auto widget = Coloured(colour, QRect(400, 300, 150, 80));
    const long pixels = long(qRound(150 * ratio_)) * qRound(80 * ratio_);
    ASSERT_TRUE(WaitForColour(colour, pixels));
    widget->activateWindow();
    const HWND id = static_cast<HWND>(widget->winId());
    ASSERT_TRUE(WaitUntil([&] { return platform_.GetForegroundWindow() == id; }));

    const std::unique_ptr<TBitmap> active = capture_->CaptureActiveWindow();
    const TRect bounds = BoundsOfColor(*active, colour);
    EXPECT_EQ(bounds.Width(), qRound(150 * ratio_));
    EXPECT_EQ(bounds.Height(), qRound(80 * ratio_));
    EXPECT_GT(active->Height(), bounds.Height()) << "frame and title bar included";
    EXPECT_EQ((TPoint{active->Width(), active->Height()}),
              (TPoint{platform_.GetWindowRect(id).Width(), platform_.GetWindowRect(id).Height()}));

    capture_->SetMinimize(true);
    capture_->SetDelay(100);
    const std::unique_ptr<TBitmap> desktop = capture_->CaptureDesktop();
    EXPECT_EQ(CountColor(*desktop, colour, {0, 0, desktop->Width(), desktop->Height()}), 0);
    EXPECT_TRUE(WaitUntil([&] { return platform_.IsWindowShown(id) && !widget->isMinimized(); }));
}

}  // namespace
