#include "capture/CursorTable.h"
#include "framework/Exception.h"

#include <QBitmap>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// The application's cursor table and the program's hand cursor.

namespace {

bool Set(const QImage& plane, int x, int y)
{
    return qGray(plane.pixel(x, y)) < 128;
}

TEST(CursorTable, StandardIdentifiers)
{
    CursorTable table;
    EXPECT_EQ(table.Cursor(crDefault).shape(), Qt::ArrowCursor);
    EXPECT_EQ(table.Cursor(crArrow).shape(), Qt::ArrowCursor);
    EXPECT_EQ(table.Cursor(crCross).shape(), Qt::CrossCursor);
    EXPECT_EQ(table.Cursor(crUpArrow).shape(), Qt::UpArrowCursor);
    EXPECT_EQ(table.Cursor(crNo).shape(), Qt::ForbiddenCursor);
    EXPECT_EQ(table.Cursor(crHandPoint).shape(), Qt::PointingHandCursor);
    EXPECT_EQ(table.Cursor(5).shape(), Qt::ArrowCursor) << "an identifier with nothing installed";
}

TEST(CursorTable, ControlsFollowTheirEntry)
{
    CursorTable table;
    QWidget cross;
    QWidget no;
    table.SetControlCursor(&cross, crCross);
    table.SetControlCursor(&no, crNo);
    EXPECT_EQ(cross.cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(table.ControlCursor(&no), crNo);
    {
        auto gone = std::make_unique<QWidget>();
        table.SetControlCursor(gone.get(), crNo);
    }
    table.SetCursor(crNo, QCursor(Qt::WaitCursor));
    EXPECT_EQ(no.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(cross.cursor().shape(), Qt::CrossCursor);
    table.SetControlCursor(&no, crIBeam);
    EXPECT_EQ(no.cursor().shape(), Qt::IBeamCursor);
    table.SetCursor(crNo, QCursor(Qt::BusyCursor));
    EXPECT_EQ(no.cursor().shape(), Qt::IBeamCursor) << "the control asks for another identifier now";
}

TEST(CursorTable, OverrideIsOneEntryOfQtsStack)
{
    CursorTable table;
    QGuiApplication::setOverrideCursor(QCursor(Qt::IBeamCursor));  // someone else's
    table.SetOverride(crHourGlass);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    table.SetOverride(crCross);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    table.SetCursor(crCross, QCursor(Qt::SizeAllCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::SizeAllCursor) << "the entry changed under the override";
    table.SetOverride(crDefault);
    table.SetOverride(crDefault);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::IBeamCursor);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(HandCursor, WhiteHandWithBlackOutlinePointingUpperLeft)
{
    const QCursor hand = LoadCursor("CURSOR_1");
    EXPECT_EQ(hand.shape(), Qt::BitmapCursor);
    EXPECT_EQ(hand.hotSpot(), QPoint(0, 0));
    const QImage black = hand.bitmap().toImage();
    const QImage opaque = hand.mask().toImage();
    ASSERT_EQ(black.size(), QSize(32, 32));
    ASSERT_EQ(opaque.size(), QSize(32, 32));

    int whites = 0;
    long sumX = 0, sumY = 0, count = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (!Set(opaque, x, y)) {
                EXPECT_FALSE(Set(black, x, y)) << "a transparent pixel that would invert: " << x << ", " << y;
                continue;
            }
            ++count, sumX += x, sumY += y;
            whites += !Set(black, x, y);
            // The outline: every opaque pixel next to a transparent one (or the edge) is black.
            const bool edge = x == 0 || y == 0 || x == 31 || y == 31 || !Set(opaque, x - 1, y) ||
                              !Set(opaque, x + 1, y) || !Set(opaque, x, y - 1) || !Set(opaque, x, y + 1);
            if (edge) {
                EXPECT_TRUE(Set(black, x, y)) << "outline gap at " << x << ", " << y;
            }
        }
    }
    EXPECT_GT(whites, 200) << "a white hand";
    // The finger tip is the hot spot; the finger runs along the diagonal to the hand at the lower right.
    EXPECT_TRUE(Set(opaque, 0, 0) && Set(black, 0, 0));
    for (int i = 1; i < 8; ++i)
        EXPECT_TRUE(Set(opaque, i, i) && !Set(black, i, i)) << "finger at " << i;
    EXPECT_GT(sumX / count, 12);
    EXPECT_GT(sumY / count, 10);

    EXPECT_THROW(LoadCursor("CURSOR_2"), Exception);
}

}  // namespace
