#include "capture/SelectionBand.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The area overlay's band: the points of its four lines and their colours, and the pixels that drawing
// and removing it touch.

namespace {

using Points = std::vector<std::pair<int, int>>;

Points Line(int x1, int y1, int x2, int y2)
{
    Points points;
    LineDDA(x1, y1, x2, y2, [&](int x, int y) { points.emplace_back(x, y); });
    return points;
}

Points Band(TPoint anchor, TPoint moving)
{
    Points points;
    TraceBand(anchor, moving, [&](int x, int y) { points.emplace_back(x, y); });
    return points;
}

// The outline of the ordered rectangle with its right column and bottom row included.
std::set<std::pair<int, int>> Perimeter(TPoint a, TPoint b)
{
    const TRect r = OrderedRect(a, b);
    std::set<std::pair<int, int>> points;
    for (int x = r.Left; x <= r.Right; ++x) {
        points.emplace(x, r.Top);
        points.emplace(x, r.Bottom);
    }
    for (int y = r.Top; y <= r.Bottom; ++y) {
        points.emplace(r.Left, y);
        points.emplace(r.Right, y);
    }
    return points;
}

std::set<std::pair<int, int>> PixelsOf(const std::vector<TRect>& rects, long* total = nullptr)
{
    std::set<std::pair<int, int>> pixels;
    long count = 0;
    for (const TRect& r : rects)
        for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Right; ++x, ++count)
                pixels.emplace(x, y);
    if (total)
        *total = count;
    return pixels;
}

// "r" and "w" for the colours of the first n points of a drawing that starts with the phase.
std::string Colours(uint8_t phase, int n)
{
    std::string colours;
    uint8_t bits = phase;
    for (int i = 0; i < n; ++i) {
        bits = NextDashBits(bits);
        colours += DashColor(bits) == clRed ? 'r' : 'w';
    }
    return colours;
}

TEST(SelectionBand, LineDDAStopsBeforeTheEndPoint)
{
    EXPECT_EQ(Line(2, 7, 5, 7), (Points{{2, 7}, {3, 7}, {4, 7}}));
    EXPECT_EQ(Line(5, 7, 2, 7), (Points{{5, 7}, {4, 7}, {3, 7}}));
    EXPECT_EQ(Line(0, 3, 0, 0), (Points{{0, 3}, {0, 2}, {0, 1}}));
    EXPECT_EQ(Line(-1, 0, -1, 2), (Points{{-1, 0}, {-1, 1}}));
    EXPECT_TRUE(Line(4, 4, 4, 4).empty());
    // A slanted line: one point per step of the longer axis, each a neighbour of the one before.
    const Points slanted = Line(0, 0, 7, -3);
    ASSERT_EQ(slanted.size(), 7u);
    EXPECT_EQ(slanted.front(), (std::pair{0, 0}));
    for (size_t i = 1; i < slanted.size(); ++i) {
        EXPECT_EQ(slanted[i].first - slanted[i - 1].first, 1);
        EXPECT_LE(std::abs(slanted[i].second - slanted[i - 1].second), 1);
    }
    EXPECT_GE(slanted.back().second, -3);
}

TEST(SelectionBand, FourLinesInDrawingOrderEachCornerOnce)
{
    // Along the anchor's row, down the moving corner's column, back along its row, up the anchor's column.
    EXPECT_EQ(Band({2, 3}, {6, 5}), (Points{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {6, 4}, {6, 5}, {5, 5}, {4, 5},
                                            {3, 5}, {2, 5}, {2, 4}}));
    // Dragged to the upper left the path starts at the anchor all the same and runs the other way.
    EXPECT_EQ(Band({6, 5}, {2, 3}), (Points{{6, 5}, {5, 5}, {4, 5}, {3, 5}, {2, 5}, {2, 4}, {2, 3}, {3, 3}, {4, 3},
                                            {5, 3}, {6, 3}, {6, 4}}));
    EXPECT_TRUE(Band({9, 9}, {9, 9}).empty());
    EXPECT_TRUE(BandOutline({9, 9}, {9, 9}).empty());
}

TEST(SelectionBand, PathCoversTheOutlineWithTheStatedNumberOfPoints)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-3, 40);
    for (int round = 0; round < 400; ++round) {
        const TPoint anchor{coordinate(random), coordinate(random)};
        // Every fourth pair shares a row or a column.
        TPoint moving{coordinate(random), coordinate(random)};
        if (round % 8 == 1)
            moving.Y = anchor.Y;
        if (round % 8 == 5)
            moving.X = anchor.X;
        SCOPED_TRACE(testing::Message() << "anchor " << anchor.X << "," << anchor.Y << " moving " << moving.X << ","
                                        << moving.Y);
        const Points path = Band(anchor, moving);
        const int dx = std::abs(moving.X - anchor.X);
        const int dy = std::abs(moving.Y - anchor.Y);
        ASSERT_EQ(path.size(), static_cast<size_t>(2 * dx + 2 * dy));
        if (path.empty())
            continue;
        EXPECT_EQ(path.front(), (std::pair{anchor.X, anchor.Y}));
        const std::set<std::pair<int, int>> distinct(path.begin(), path.end());
        EXPECT_EQ(distinct, Perimeter(anchor, moving));
        if (dx != 0 && dy != 0) {
            EXPECT_EQ(distinct.size(), path.size()) << "a point drawn twice";
        }
        // Drawing repaints exactly the outline.
        long outlineArea = 0;
        EXPECT_EQ(PixelsOf(BandOutline(anchor, moving), &outlineArea), distinct);
        EXPECT_EQ(outlineArea, static_cast<long>(distinct.size())) << "outline rectangles overlap";
        // Erasing repaints the two-pixel ring, which holds every point of the band.
        long ringArea = 0;
        const std::set<std::pair<int, int>> ring = PixelsOf(BandRing(anchor, moving), &ringArea);
        EXPECT_EQ(ringArea, static_cast<long>(ring.size())) << "ring rectangles overlap";
        for (const auto& point : distinct)
            EXPECT_TRUE(ring.count(point)) << point.first << "," << point.second;
    }
}

TEST(SelectionBand, RingIsTwoPixelsWide)
{
    // Rectangle (10, 20) - (15, 30): the band lies on columns 10 and 15, rows 20 and 30.
    const std::set<std::pair<int, int>> ring = PixelsOf(BandRing({15, 30}, {10, 20}));
    std::set<std::pair<int, int>> expected;
    for (int y = 19; y <= 30; ++y)
        for (int x = 9; x <= 15; ++x)
            if (x <= 10 || x >= 14 || y <= 20 || y >= 29)
                expected.emplace(x, y);
    EXPECT_EQ(ring, expected);
    // Left and top: the outline's own column or row and the one outside; right and bottom: its own and
    // the one inside.
    EXPECT_TRUE(ring.count({9, 25}) && ring.count({10, 25}) && !ring.count({11, 25}));
    EXPECT_TRUE(ring.count({14, 25}) && ring.count({15, 25}) && !ring.count({16, 25}) && !ring.count({13, 25}));
    EXPECT_TRUE(ring.count({12, 19}) && ring.count({12, 20}) && !ring.count({12, 21}));
    EXPECT_TRUE(ring.count({12, 29}) && ring.count({12, 30}) && !ring.count({12, 31}));

    // Too narrow for an inside: the whole enlarged rectangle.
    EXPECT_EQ(BandRing({5, 5}, {7, 9}), (std::vector<TRect>{{4, 4, 8, 10}}));
    EXPECT_EQ(BandRing({5, 5}, {5, 5}), (std::vector<TRect>{{4, 4, 6, 6}}));
    EXPECT_EQ(BandRing({3, 8}, {9, 8}), (std::vector<TRect>{{2, 7, 10, 9}}));
}

TEST(SelectionBand, ColoursOfEachPhase)
{
    EXPECT_EQ(Colours(0x80, 8), "wwwwwrrr");
    EXPECT_EQ(Colours(0x20, 8), "rrwwwwwr");
    EXPECT_EQ(Colours(0x08, 8), "wrrrwwww");
    EXPECT_EQ(Colours(0x02, 8), "wwwrrrww");
    for (const uint8_t phase : {0x80, 0x20, 0x08, 0x02}) {
        const std::string colours = Colours(phase, 64);
        // Eight points repeat: three red, five white.
        for (size_t i = 8; i < colours.size(); ++i)
            EXPECT_EQ(colours[i], colours[i - 8]);
        EXPECT_EQ(std::count(colours.begin(), colours.begin() + 8, 'r'), 3);
        // The next phase moves the dashes two points along the path.
        EXPECT_EQ(Colours(NextDashPhase(phase), 64).substr(2), colours.substr(0, 62));
    }
}

TEST(SelectionBand, PhaseCyclesThroughFourValues)
{
    EXPECT_EQ(NextDashPhase(0x80), 0x20);
    EXPECT_EQ(NextDashPhase(0x20), 0x08);
    EXPECT_EQ(NextDashPhase(0x08), 0x02);
    EXPECT_EQ(NextDashPhase(0x02), 0x80);
    EXPECT_EQ(NextDashBits(0x80), 0x01);
    EXPECT_EQ(NextDashBits(0x01), 0x02);
    EXPECT_EQ(DashColor(0x10), clWhite);
    EXPECT_EQ(DashColor(0x20), clRed);
    EXPECT_EQ(clRed, 0x0000FFu) << "framework colour values are 0x00BBGGRR";
}

}  // namespace
