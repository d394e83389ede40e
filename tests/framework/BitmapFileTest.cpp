#include "framework/Bitmap.h"
#include "framework/BitmapFile.h"
#include "framework/Exception.h"
#include "framework/Stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

uint32_t Long(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

TBitmap RandomBitmap(TPixelFormat format, int width, int height, unsigned seed)
{
    TBitmap b;
    b.SetPixelFormat(format);
    if (IsIndexed(format)) {
        TLogPalette log{};
        log.palVersion = kPaletteVersion;
        log.palNumEntries = static_cast<uint16_t>(1 << BitsPerPixel(format));
        for (int i = 0; i < log.palNumEntries; ++i)
            log.palPalEntry[i] = {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 0};
        b.SetPalette(CreatePalette(log));
    }
    b.SetSize(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < b.RowBytes(); ++i)
            row[i] = static_cast<uint8_t>(random());
        // Keep the bits beyond the last pixel clear: a file cannot carry them.
        const int bits = width * b.BitsPerPixel();
        if (bits % 8)
            row[b.RowBytes() - 1] &= static_cast<uint8_t>(0xFF << (8 - bits % 8));
        if (format == pfDevice)
            for (int x = 0; x < width; ++x)
                row[4 * x + 3] = 0;
    }
    return b;
}

std::vector<uint8_t> Save(TBitmap& b)
{
    TMemoryStream s;
    b.SaveStream(s);
    return s.Bytes();
}

TBitmap Load(const std::vector<uint8_t>& bytes)
{
    TMemoryStream s(bytes);
    TBitmap b;
    b.LoadStream(s);
    return b;
}

void ExpectSamePixels(const TBitmap& a, const TBitmap& b)
{
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    for (int y = 0; y < a.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowBytes())) << "row " << y;
}

TEST(BitmapFileTest, RoundTripsAtEveryDepth)
{
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfDevice}) {
        SCOPED_TRACE(PixelFormatName(format));
        TBitmap original = RandomBitmap(format, 13, 5, format);
        const std::vector<uint8_t> bytes = Save(original);
        TBitmap loaded = Load(bytes);
        // Device bitmaps are written as plain 32-bit files.
        EXPECT_EQ(loaded.PixelFormat(), format == pfDevice ? pf32bit : format);
        ExpectSamePixels(original, loaded);
        EXPECT_EQ(loaded.ColorTable(), original.ColorTable());
        // The clipboard's .dib layout: no file header, the pixels right after the masks and the colour table.
        TBitmap packed = Load(std::vector<uint8_t>(bytes.begin() + 14, bytes.end()));
        ExpectSamePixels(original, packed);
        EXPECT_EQ(packed.ColorTable(), original.ColorTable());
    }
}

TEST(BitmapFileTest, WritesTheStandardLayout)
{
    TBitmap b = RandomBitmap(pf8bit, 3, 2, 1);
    const std::vector<uint8_t> bytes = Save(b);
    const uint32_t offset = 14 + 40 + 256 * 4;
    const uint32_t stride = 4;  // 3 bytes padded to 4
    ASSERT_EQ(bytes.size(), offset + stride * 2);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(Long(bytes, 2), bytes.size());
    EXPECT_EQ(Long(bytes, 6), 0u);
    EXPECT_EQ(Long(bytes, 10), offset);
    EXPECT_EQ(Long(bytes, 14), 40u);
    EXPECT_EQ(Long(bytes, 18), 3u);
    EXPECT_EQ(Long(bytes, 22), 2u);  // positive height: bottom-up rows
    EXPECT_EQ(bytes[26], 1);         // planes
    EXPECT_EQ(bytes[28], 8);         // bits per pixel
    EXPECT_EQ(Long(bytes, 30), 0u);  // uncompressed
    // Colour table entries are blue, green, red, 0.
    const TPaletteEntry& e = b.ColorTable()[5];
    EXPECT_EQ(bytes[54 + 5 * 4], e.peBlue);
    EXPECT_EQ(bytes[54 + 5 * 4 + 2], e.peRed);
    // The bottom row comes first.
    EXPECT_EQ(0, std::memcmp(&bytes[offset], b.ScanLine(1), 3));
    EXPECT_EQ(0, std::memcmp(&bytes[offset + stride], b.ScanLine(0), 3));

    TBitmap empty;
    EXPECT_TRUE(Save(empty).empty());
}

TEST(BitmapFileTest, TrueColourWithPaletteWritesTheTable)
{
    TBitmap b = RandomBitmap(pf24bit, 2, 2, 3);
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 3;
    b.SetPalette(CreatePalette(log));
    const std::vector<uint8_t> bytes = Save(b);
    EXPECT_EQ(Long(bytes, 10), 14u + 40 + 3 * 4);
    EXPECT_EQ(Long(bytes, 46), 3u);  // colours used
    // Without the file header the table still lies between the header and the pixels.
    ExpectSamePixels(Load(std::vector<uint8_t>(bytes.begin() + 14, bytes.end())), b);
}

// Builds a bitmap file around an info header and pixel bytes.
std::vector<uint8_t> MakeFile(int32_t width, int32_t height, int bits, uint32_t compression,
                              const std::vector<uint8_t>& table, const std::vector<uint8_t>& pixels,
                              uint32_t colorsUsed = 0)
{
    std::vector<uint8_t> f;
    auto put16 = [&](uint32_t v) { f.push_back(uint8_t(v)), f.push_back(uint8_t(v >> 8)); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    const uint32_t offset = static_cast<uint32_t>(14 + 40 + table.size());
    f.push_back('B'), f.push_back('M');
    put32(offset + static_cast<uint32_t>(pixels.size()));
    put32(0);
    put32(offset);
    put32(40);
    put32(static_cast<uint32_t>(width));
    put32(static_cast<uint32_t>(height));
    put16(1);
    put16(static_cast<uint32_t>(bits));
    put32(compression);
    put32(static_cast<uint32_t>(pixels.size()));
    put32(0), put32(0);
    put32(colorsUsed);
    put32(0);
    f.insert(f.end(), table.begin(), table.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

std::vector<uint8_t> GreyTable(int n)
{
    std::vector<uint8_t> t;
    for (int i = 0; i < n; ++i)
        t.insert(t.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    return t;
}

TEST(BitmapFileTest, Rle8RunsDeltasAndClipping)
{
    const std::vector<uint8_t> rle = {
        3,   7,            // bottom row: 7 7 7
        0,   2, 1, 0,      // delta: one pixel right, same row
        0,   0,            // end of line
        0,   3, 1, 2, 3, 0,  // absolute run of 3, padded
        9,   5,            // a run longer than the row: clipped at the row's end
        0,   0,
        0,   2, 0, 5,      // delta five rows up: beyond the image, ignored
        0,   1,            // end of bitmap
    };
    TBitmap b = Load(MakeFile(4, 3, 8, 1, GreyTable(256), rle));
    ASSERT_EQ(b.PixelFormat(), pf8bit);
    const uint8_t bottom[] = {7, 7, 7, 0};
    const uint8_t middle[] = {1, 2, 3, 5};
    EXPECT_EQ(0, std::memcmp(b.ScanLine(2), bottom, 4));
    EXPECT_EQ(0, std::memcmp(b.ScanLine(1), middle, 4));
    const uint8_t zero[4] = {};
    EXPECT_EQ(0, std::memcmp(b.ScanLine(0), zero, 4));
}

TEST(BitmapFileTest, Rle4AlternatesNibbles)
{
    const std::vector<uint8_t> rle = {5, 0x12, 0, 0, 0, 3, 0xAB, 0xC0, 0, 1};
    TBitmap b = Load(MakeFile(5, 2, 4, 2, GreyTable(16), rle));
    ASSERT_EQ(b.PixelFormat(), pf4bit);
    EXPECT_EQ(b.ScanLine(1)[0], 0x12);
    EXPECT_EQ(b.ScanLine(1)[1], 0x12);
    EXPECT_EQ(b.ScanLine(1)[2] & 0xF0, 0x10);
    EXPECT_EQ(b.ScanLine(0)[0], 0xAB);
    EXPECT_EQ(b.ScanLine(0)[1] & 0xF0, 0xC0);
}

TEST(BitmapFileTest, TopDownRowsAndShortColourTables)
{
    // Two rows of 8-bit indices, stored top first (negative height), two-entry colour table.
    const std::vector<uint8_t> table = {0, 0, 255, 0, 0, 255, 0, 0};
    const std::vector<uint8_t> pixels = {1, 0, 0, 0, 0, 1, 0, 0};
    TBitmap b = Load(MakeFile(2, -2, 8, 0, table, pixels, 2));
    EXPECT_EQ(b.ColorTable().size(), 2u);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(1)[1], 1);
    EXPECT_EQ(b.ColorTable()[0].peRed, 255);
}

TEST(BitmapFileTest, BitFieldPixels)
{
    // 16-bit 5-6-5 with explicit masks after the info header.
    std::vector<uint8_t> masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    std::vector<uint8_t> pixels = {0x00, 0xF8, 0x1F, 0x00};  // red, blue
    TBitmap b = Load(MakeFile(2, 1, 16, 3, masks, pixels));
    EXPECT_EQ(b.PixelFormat(), pf16bit);
    EXPECT_EQ(b.ScanLine(0)[1], 0xF8);

    // 32-bit with unusual masks: converted channel by channel.
    masks = {0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0};  // red low byte, green, blue
    pixels = {10, 20, 30, 0};
    b = Load(MakeFile(1, 1, 32, 3, masks, pixels));
    EXPECT_EQ(b.PixelFormat(), pf32bit);
    EXPECT_EQ(b.ScanLine(0)[0], 30);  // blue
    EXPECT_EQ(b.ScanLine(0)[1], 20);
    EXPECT_EQ(b.ScanLine(0)[2], 10);
}

TEST(BitmapFileTest, MalformedFilesFailCleanly)
{
    const std::vector<uint8_t> good = MakeFile(2, 2, 24, 0, {}, std::vector<uint8_t>(16, 0x55));
    ASSERT_NO_THROW(Load(good));

    auto expectFailure = [](std::vector<uint8_t> bytes, const char* what) {
        try {
            Load(bytes);
            ADD_FAILURE() << what << " was accepted";
        } catch (const Exception&) {
        }
    };
    std::vector<uint8_t> bad = good;
    bad[0] = 'X';
    expectFailure(bad, "a wrong signature");
    bad = good;
    bad[28] = 7;
    expectFailure(bad, "7 bits per pixel");
    bad = good;
    bad[30] = 9;
    expectFailure(bad, "an unknown compression");
    expectFailure(MakeFile(0, 2, 24, 0, {}, {}), "a zero width");
    expectFailure(MakeFile(65535, 65535, 32, 0, {}, {}), "a huge picture without data");
    expectFailure(MakeFile(60000, 60000, 8, 1, GreyTable(256), {0, 1}), "a huge run-length picture");
    for (size_t cut = 0; cut < good.size(); ++cut)
        expectFailure(std::vector<uint8_t>(good.begin(), good.begin() + cut), "a cut file");
}

TEST(BitmapFileTest, LoadingReplacesEverything)
{
    TBitmap b = RandomBitmap(pf8bit, 5, 5, 9);
    TBitmap small = RandomBitmap(pf24bit, 2, 1, 4);
    b = Load(Save(small));
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(b.Palette(), nullptr);
    EXPECT_EQ(b.Width(), 2);
}

}  // namespace
