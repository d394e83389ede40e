#include "capture/XImageConversion.h"
#include "framework/Bitmap.h"

#include <gtest/gtest.h>

#include <vector>

// The conversion of the X server's image layouts into the display format of our bitmaps.

namespace {

// The pixel as blue, green, red, fourth byte.
std::vector<uint8_t> PixelBytes(const TBitmap& bitmap, int x, int y)
{
    const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

TEST(XImageConversion, PlainThirtyTwoBitsClearsTheUnusedByte)
{
    XImageLayout layout;  // 32 bits, least significant byte first, 8 bits per channel
    const uint8_t data[] = {0x11, 0x22, 0x33, 0xFF, 0x44, 0x55, 0x66, 0x77,  // row 0
                            0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    TBitmap dest;
    dest.SetSize(4, 3);
    ConvertXImage(data, sizeof data, layout, 2, 2, dest, 1, 1);
    EXPECT_EQ(PixelBytes(dest, 1, 1), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0}));
    EXPECT_EQ(PixelBytes(dest, 2, 1), (std::vector<uint8_t>{0x44, 0x55, 0x66, 0}));
    EXPECT_EQ(PixelBytes(dest, 2, 2), (std::vector<uint8_t>{0x05, 0x06, 0x07, 0}));
    EXPECT_EQ(PixelBytes(dest, 0, 0), (std::vector<uint8_t>{0, 0, 0, 0})) << "outside the target area";
    EXPECT_EQ(PixelBytes(dest, 3, 2), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(XImageConversion, SixteenBitsWidenByRepeatingBits)
{
    XImageLayout layout;
    layout.bitsPerPixel = 16;
    layout.redMask = 0xF800;
    layout.greenMask = 0x07E0;
    layout.blueMask = 0x001F;
    // Three pixels and the padding to 32 bits: white, pure red, and r=1 g=2 b=3 in 5-6-5.
    const uint8_t lsb[] = {0xFF, 0xFF, 0x00, 0xF8, 0x43, 0x08, 0xEE, 0xEE};
    const uint8_t msb[] = {0xFF, 0xFF, 0xF8, 0x00, 0x08, 0x43, 0xEE, 0xEE};
    for (const bool msbFirst : {false, true}) {
        layout.msbFirst = msbFirst;
        TBitmap dest;
        dest.SetSize(3, 1);
        ConvertXImage(msbFirst ? msb : lsb, 8, layout, 3, 1, dest, 0, 0);
        EXPECT_EQ(PixelBytes(dest, 0, 0), (std::vector<uint8_t>{255, 255, 255, 0}));
        EXPECT_EQ(PixelBytes(dest, 1, 0), (std::vector<uint8_t>{0, 0, 255, 0}));
        // 3 in 5 bits is 00011 -> 00011000 | 000 = 0x18 | 0x00; 2 in 6 bits is 000010 -> 00001000 | 00 = 0x08.
        EXPECT_EQ(PixelBytes(dest, 2, 0), (std::vector<uint8_t>{0x18, 0x08, 0x08, 0}));
    }
}

TEST(XImageConversion, TwentyFourBitsPackedAndPaddedRows)
{
    XImageLayout layout;
    layout.bitsPerPixel = 24;
    // Rows of 2 pixels take 6 bytes, padded to 8.
    EXPECT_EQ(layout.Stride(2), 8u);
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 7, 8, 9, 10, 11, 12};
    TBitmap dest;
    dest.SetSize(2, 2);
    ConvertXImage(data, sizeof data, layout, 2, 2, dest, 0, 0);
    EXPECT_EQ(PixelBytes(dest, 1, 0), (std::vector<uint8_t>{4, 5, 6, 0}));
    EXPECT_EQ(PixelBytes(dest, 0, 1), (std::vector<uint8_t>{7, 8, 9, 0}));
    EXPECT_EQ(PixelBytes(dest, 1, 1), (std::vector<uint8_t>{10, 11, 12, 0})) << "the last row needs no padding";
}

TEST(XImageConversion, IndexedPixelsGoThroughTheColormap)
{
    XImageLayout layout;
    layout.bitsPerPixel = 8;
    layout.indexed = true;
    layout.colormap = {{10, 20, 30, 0}, {40, 50, 60, 0}};
    const uint8_t data[] = {1, 0, 200, 0};
    TBitmap dest;
    dest.SetSize(3, 1);
    ConvertXImage(data, sizeof data, layout, 3, 1, dest, 0, 0);
    EXPECT_EQ(PixelBytes(dest, 0, 0), (std::vector<uint8_t>{60, 50, 40, 0}));
    EXPECT_EQ(PixelBytes(dest, 1, 0), (std::vector<uint8_t>{30, 20, 10, 0}));
    EXPECT_EQ(PixelBytes(dest, 2, 0), (std::vector<uint8_t>{0, 0, 0, 0})) << "beyond the colormap: black";
}

TEST(XImageConversion, ShortDataAndOversizedImagesStayInBounds)
{
    XImageLayout layout;
    std::vector<uint8_t> data(4 * 4 * 2 + 8, 0xAB);  // two full rows of 4 pixels and half a third
    TBitmap dest;
    dest.SetSize(3, 3);
    ConvertXImage(data.data(), data.size(), layout, 4, 3, dest, 0, 0);
    EXPECT_EQ(PixelBytes(dest, 2, 1), (std::vector<uint8_t>{0xAB, 0xAB, 0xAB, 0}));
    EXPECT_EQ(PixelBytes(dest, 0, 2), (std::vector<uint8_t>{0, 0, 0, 0})) << "a row the data does not fully hold";

    // Unsupported layouts and impossible targets write nothing.
    XImageLayout odd;
    odd.bitsPerPixel = 4;
    EXPECT_FALSE(odd.Supported());
    ConvertXImage(data.data(), data.size(), odd, 2, 2, dest, 0, 0);
    ConvertXImage(data.data(), data.size(), layout, 2, 2, dest, 5, 0);
    ConvertXImage(data.data(), data.size(), layout, 2, 2, dest, -1, 0);
    ConvertXImage(nullptr, 0, layout, 2, 2, dest, 0, 0);
    EXPECT_EQ(PixelBytes(dest, 0, 2), (std::vector<uint8_t>{0, 0, 0, 0}));
}

}  // namespace
