#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"

#include <gtest/gtest.h>

#include <array>

namespace {

HPALETTE MakePalette(std::initializer_list<TPaletteEntry> entries)
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = static_cast<uint16_t>(entries.size());
    std::copy(entries.begin(), entries.end(), log.palPalEntry);
    return CreatePalette(log);
}

std::array<uint8_t, 4> PixelBgra(const TBitmap& b, int x, int y)
{
    std::vector<uint8_t> row(static_cast<size_t>(b.Width()) * 4);
    RowToBgra(b, y, row.data());
    return {row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
}

TEST(PaletteTest, RecordLayoutAndCreation)
{
    TLogPalette log{};
    EXPECT_EQ(sizeof log, 1028u);
    EXPECT_EQ(log.palPalEntry[255], TPaletteEntry{});  // value-initialised: black
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 3;
    log.palPalEntry[2] = {10, 20, 30, 0};
    HPALETTE p = CreatePalette(log);
    ASSERT_EQ(p->Count(), 3);
    EXPECT_EQ(p->Entries()[2], (TPaletteEntry{10, 20, 30, 0}));
    EXPECT_EQ(p->Entries()[0], TPaletteEntry{});

    log.palNumEntries = 1000;  // the record has room for 256 only
    EXPECT_EQ(CreatePalette(log)->Count(), 256);
}

TEST(PaletteTest, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(255, 128, 255), 128);
    EXPECT_EQ(MulDiv(1, 1, 2), 1);     // 0.5 -> 1
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);   // -0.5 -> -1
    EXPECT_EQ(MulDiv(1, 1, 3), 0);
    EXPECT_EQ(MulDiv(2, 1, 3), 1);
    EXPECT_EQ(MulDiv(5, 3, -2), -8);   // -7.5 -> -8
    EXPECT_EQ(MulDiv(65535, 65535, 65535), 65535);  // no 32-bit overflow in the product
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(BitmapTest, NewBitmapsAreEmptyAndDeviceDependent)
{
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_EQ(b.BitsPerPixel(), 32);
    EXPECT_THROW(b.ScanLine(0), Exception);
}

TEST(BitmapTest, RowsAreZeroFilledAndRowBytesFollowTheDepth)
{
    const std::pair<TPixelFormat, int> cases[] = {{pf1bit, 2}, {pf4bit, 5}, {pf8bit, 9},   {pf15bit, 18},
                                                  {pf16bit, 18}, {pf24bit, 27}, {pf32bit, 36}, {pfDevice, 36}};
    for (auto [format, rowBytes] : cases) {
        TBitmap b;
        b.SetPixelFormat(format);
        b.SetSize(9, 3);
        EXPECT_EQ(b.RowBytes(), rowBytes) << PixelFormatName(format);
        for (int y = 0; y < 3; ++y)
            for (int i = 0; i < rowBytes; ++i)
                ASSERT_EQ(b.ScanLine(y)[i], 0);
    }
}

TEST(BitmapTest, ResizingKeepsTheTopLeftAndZeroesTheRest)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 2);
    b.ScanLine(0)[0] = 7;
    b.ScanLine(1)[5] = 9;
    b.SetSize(3, 3);
    EXPECT_EQ(b.ScanLine(0)[0], 7);
    EXPECT_EQ(b.ScanLine(1)[5], 9);
    EXPECT_EQ(b.ScanLine(1)[6], 0);
    EXPECT_EQ(b.ScanLine(2)[0], 0);

    // A partial last byte: pixels beyond the old width must not inherit stale bits.
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(3, 1);
    mono.ScanLine(0)[0] = 0xFF;  // bits beyond the third pixel are garbage a reader may leave
    mono.SetWidth(8);
    EXPECT_EQ(mono.ScanLine(0)[0], 0xE0);
}

TEST(BitmapTest, LargePicturesAreZeroFilledResizedAndCopiedAlike)
{
    // Large pictures live in memory of their own (whole pages); small ones on the heap. Moving between the two
    // keeps the same rules.
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(1500, 1000);
    const int last = b.RowBytes() - 1;
    for (int y : { 0, 999 })
        for (int i : { 0, last })
            ASSERT_EQ(b.ScanLine(y)[i], 0);
    b.ScanLine(0)[0] = 1;
    b.ScanLine(999)[last] = 2;
    b.SetSize(1600, 1100);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(999)[last], 2);
    EXPECT_EQ(b.ScanLine(999)[last + 1], 0);
    EXPECT_EQ(b.ScanLine(1099)[b.RowBytes() - 1], 0);
    TBitmap copy(b);
    copy.ScanLine(0)[0] = 3;
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(copy.ScanLine(999)[last], 2);
    b.SetSize(10, 10);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    b.SetSize(1500, 1000);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(999)[last], 0);
}

TEST(BitmapTest, HugeSizesAreRefusedBeforeAllocating)
{
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetWidth(65535);
    EXPECT_THROW(b.SetHeight(65535), EOutOfResources);
    EXPECT_EQ(b.Height(), 0);  // unchanged after the refusal
    EXPECT_THROW(TBitmap::CheckSize(-1, 5, pf8bit), EOutOfResources);
    EXPECT_NO_THROW(TBitmap::CheckSize(4000, 3000, pf24bit));
    // A 1-bit picture is shown at 32 bits: it may not claim more pixels than a 32-bit one.
    EXPECT_THROW(TBitmap::CheckSize(40000, 40000, pf1bit), EOutOfResources);
    // Without rows, a width alone may not claim gigabytes either.
    EXPECT_THROW(TBitmap::CheckSize(int64_t{1} << 30, 0, pf32bit), EOutOfResources);
}

TEST(BitmapTest, RowsOfAPictureWithoutColumnsExist)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(0, 3);
    EXPECT_TRUE(b.Empty());
    EXPECT_NE(b.ScanLine(2), nullptr);
    EXPECT_EQ(b.RowBytes(), 0);
    EXPECT_THROW(b.ScanLine(3), Exception);
    uint8_t untouched = 7;
    RowToBgra(b, 0, &untouched);
    EXPECT_EQ(untouched, 7);
}

TEST(BitmapTest, ReleaseHandleForgetsImagePaletteAndFormat)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetPalette(MakePalette({{1, 2, 3, 0}}));
    b.SetSize(4, 4);
    b.ReleaseHandle();
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_EQ(b.Palette(), nullptr);
}

TEST(BitmapTest, PaletteBecomesTheColourTable)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.ColorTable().size(), 256u);  // a default table until a palette is given
    b.SetPalette(MakePalette({{255, 0, 0, 0}, {0, 0, 255, 0}}));
    b.SetSize(3, 1);
    b.ScanLine(0)[0] = 1;
    b.ScanLine(0)[2] = 200;  // beyond the table: black
    EXPECT_EQ(PixelBgra(b, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_EQ(PixelBgra(b, 2, 0), (std::array<uint8_t, 4>{0, 0, 0, 255}));
}

TEST(BitmapTest, CopiesAreIndependent)
{
    TBitmap a;
    a.SetPixelFormat(pf8bit);
    a.SetPalette(MakePalette({{9, 9, 9, 0}}));
    a.SetSize(2, 2);
    a.ScanLine(1)[1] = 5;
    TBitmap b(a);
    b.ScanLine(1)[1] = 6;
    EXPECT_EQ(a.ScanLine(1)[1], 5);
    ASSERT_NE(b.Palette(), nullptr);
    EXPECT_NE(b.Palette(), a.Palette());
    EXPECT_EQ(b.Palette()->Entries(), a.Palette()->Entries());
    std::unique_ptr<TGraphic> clone = a.Clone();
    EXPECT_EQ(clone->ClassType().name, std::string("TBitmap"));
    EXPECT_EQ(clone->Width(), 2);
}

TEST(BitmapTest, WideningIndexedFormatsKeepsIndicesAndColours)
{
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetPalette(MakePalette({{10, 20, 30, 0}, {200, 100, 50, 0}}));
    b.SetSize(10, 2);
    b.ScanLine(0)[0] = 0xA0;  // pixels 0 and 2 set
    b.ScanLine(1)[1] = 0x40;  // pixel 9 set
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(0)[1], 0);
    EXPECT_EQ(b.ScanLine(0)[2], 1);
    EXPECT_EQ(b.ScanLine(1)[9], 1);
    EXPECT_EQ(PixelBgra(b, 9, 1), (std::array<uint8_t, 4>{50, 100, 200, 255}));
}

TEST(BitmapTest, TrueColourConversionsKeepColours)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 1);
    uint8_t* row = b.ScanLine(0);
    row[0] = 255, row[1] = 0, row[2] = 0;      // blue
    row[3] = 0, row[4] = 255, row[5] = 255;    // yellow
    b.SetPixelFormat(pf32bit);
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 255, 255, 255}));  // opaque once it has alpha
    b.SetPixelFormat(pf15bit);
    EXPECT_EQ(PixelBgra(b, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    b.SetPixelFormat(pf16bit);
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 255, 255, 255}));
    // Down to a palette: colours map to the nearest entry of the default table.
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(PixelBgra(b, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 255, 255, 255}));
    b.SetPixelFormat(pf1bit);
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{255, 255, 255, 255}));  // yellow is nearer white
}

TEST(ColorMatcherTest, FindsTheNearestEntry)
{
    TColorMatcher m({{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 250, 0}});
    EXPECT_EQ(m.Nearest(0, 0, 200), 1);    // arguments are blue, green, red
    EXPECT_EQ(m.Nearest(240, 10, 10), 2);
    EXPECT_EQ(m.Nearest(20, 20, 20), 0);
    TColorMatcher empty({});
    EXPECT_EQ(empty.Nearest(1, 2, 3), 0);
}

}  // namespace
