#include "OverlayTestSupport.h"
#include "capture/CaptureTheObject.h"
#include "capture/CursorTable.h"
#include "capture/FakeCapturePlatform.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QGuiApplication>

#include <gtest/gtest.h>

// The object overlay on the offscreen platform over a scripted screen.

namespace {

bool IsHand(const QCursor& cursor)
{
    const QCursor hand = LoadCursor("CURSOR_1");
    return cursor.shape() == Qt::BitmapCursor && cursor.hotSpot() == QPoint(0, 0) &&
           cursor.bitmap().toImage() == hand.bitmap().toImage() && cursor.mask().toImage() == hand.mask().toImage();
}

class CaptureObjectFormTest : public testing::Test {
protected:
    void SetUp() override
    {
        platform.SetScreenSize(120, 90);
        CursorTable::Application().SetCursor(crNo, QCursor(Qt::ForbiddenCursor));
    }
    void TearDown() override { CursorTable::Application().SetOverride(crDefault); }

    FakeCapturePlatform platform;
};

TEST_F(CaptureObjectFormTest, CreationInstallsTheHandAndCoversTheScreen)
{
    QWidget before;
    CursorTable::Application().SetControlCursor(&before, crNo);
    EXPECT_FALSE(IsHand(before.cursor()));

    TCaptureObjectForm form(platform);
    EXPECT_TRUE(IsHand(CursorTable::Application().Cursor(crNo)));
    EXPECT_EQ(CursorTable::Application().ControlCursor(&form), crNo);
    EXPECT_TRUE(IsHand(form.cursor()));
    EXPECT_EQ(form.geometry(), QRect(0, 0, 120, 90));
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Capture Object"));
    EXPECT_TRUE(platform.openContexts.empty());

    // Every control that shows the cursor -18 shows the hand from now on, whenever it asked for it.
    EXPECT_TRUE(IsHand(before.cursor()));
    QWidget after;
    CursorTable::Application().SetControlCursor(&after, crNo);
    EXPECT_TRUE(IsHand(after.cursor()));

    // The screen stays visible as it was.
    ASSERT_TRUE(ShowAndWait(form));
    const QImage shown = Shown(form);
    ASSERT_EQ(shown.size(), QSize(120, 90));
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, FakeCapturePlatform::PixelAt(platform.screen, x, y));
}

TEST_F(CaptureObjectFormTest, ActivationInstallsTheHandAgain)
{
    TCaptureObjectForm form(platform);
    CursorTable::Application().SetCursor(crNo, QCursor(Qt::ForbiddenCursor));
    EXPECT_FALSE(IsHand(form.cursor()));
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&form, &activate);
    EXPECT_TRUE(IsHand(CursorTable::Application().Cursor(crNo)));
    EXPECT_TRUE(IsHand(form.cursor()));
}

TEST_F(CaptureObjectFormTest, FirstReleaseOfAnyButtonEndsWithOk)
{
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        TCaptureObjectForm form(platform);
        WhenRunning([&] {
            // A press alone and movement do nothing.
            Press(form, {30, 20}, button, button);
            Move(form, {60, 50}, button);
            EXPECT_EQ(form.ModalResult(), 0);
            EXPECT_TRUE(form.isVisible());
            Release(form, {60, 50}, button, Qt::NoButton);
        });
        EXPECT_EQ(form.ShowModal(), mrOk) << "button " << button;
        EXPECT_FALSE(form.isVisible());
    }
}

TEST_F(CaptureObjectFormTest, CloseFromOutsideCancels)
{
    TCaptureObjectForm form(platform);
    WhenRunning([&] { form.close(); });
    EXPECT_EQ(form.ShowModal(), mrCancel);
}

TEST_F(CaptureObjectFormTest, DestructionResetsTheCursorOverride)
{
    {
        TCaptureObjectForm form(platform);
        CursorTable::Application().SetOverride(crHourGlass);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(CursorTable::Application().Override(), crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
