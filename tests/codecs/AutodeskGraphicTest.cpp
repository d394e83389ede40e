#include "codecs/AutodeskGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// An Autodesk file: magic 0x9119, width and height little-endian, 26 unused header bytes, 256
// palette entries of 6-bit red, green, blue (entry i = i & 63, (i * 2) & 63, 63 - (i & 63) unless
// set), then the pixel indices row by row.
std::vector<uint8_t> AutodeskFile(int width, int height, const std::vector<uint8_t>& pixels)
{
    std::vector<uint8_t> bytes = {0x19, 0x91, uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8)};
    bytes.resize(32, 0xEE);
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(uint8_t(i & 63));
        bytes.push_back(uint8_t((i * 2) & 63));
        bytes.push_back(uint8_t(63 - (i & 63)));
    }
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

TEST(AutodeskGraphicTest, ReadsRowsTopFirstWithoutPadding)
{
    TAutodeskGraphic g;
    LoadInto(g, AutodeskFile(3, 2, { 1, 2, 3, 4, 5, 6 }));
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    ASSERT_EQ(g.Width(), 3);
    ASSERT_EQ(g.Height(), 2);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Row(g, 1), (std::vector<uint8_t>{4, 5, 6}));
}

TEST(AutodeskGraphicTest, PaletteValuesAreTimesFourInEightBits)
{
    std::vector<uint8_t> bytes = AutodeskFile(1, 1, {7});
    const size_t entry7 = 32 + 3 * 7;
    bytes[entry7] = 63;
    bytes[entry7 + 1] = 0;
    bytes[entry7 + 2] = 32;
    const size_t entry8 = 32 + 3 * 8;
    bytes[entry8] = 0x41;  // not a 6-bit value: 0x104 keeps its low byte
    bytes[entry8 + 1] = 0xFF;
    bytes[entry8 + 2] = 1;
    TAutodeskGraphic g;
    LoadInto(g, bytes);
    ASSERT_EQ(g.ColorTable().size(), 256u);
    EXPECT_EQ(g.ColorTable()[7], (TPaletteEntry{252, 0, 128, 0}));
    EXPECT_EQ(g.ColorTable()[8], (TPaletteEntry{0x04, 0xFC, 4, 0}));
    for (int i = 9; i < 256; ++i)
        ASSERT_EQ(g.ColorTable()[i], (TPaletteEntry{uint8_t((i & 63) * 4), uint8_t(((i * 2) & 63) * 4),
                                                    uint8_t((63 - (i & 63)) * 4), 0}))
            << i;
}

TEST(AutodeskGraphicTest, WrongMagicRaisesTheAutodeskMessage)
{
    const std::string message = "Cannot load image. Only old style Autodesk images are supported.";
    std::vector<uint8_t> swapped = AutodeskFile(1, 1, {0});
    std::swap(swapped[0], swapped[1]);
    for (const auto& bytes : {swapped, std::vector<uint8_t>{}, std::vector<uint8_t>{0x19}}) {
        TAutodeskGraphic g;
        try {
            LoadInto(g, bytes);
            ADD_FAILURE() << "loaded " << bytes.size() << " bytes";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
}

TEST(AutodeskGraphicTest, FileCutShortLoadsWhatItHas)
{
    std::vector<uint8_t> pixels(5 * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(100 + i);
    const std::vector<uint8_t> whole = AutodeskFile(5, 4, pixels);
    for (size_t cut = 2; cut <= whole.size(); ++cut) {
        TAutodeskGraphic g;
        ASSERT_NO_THROW(LoadInto(g, { whole.begin(), whole.begin() + cut })) << cut;
        if (cut < 5) {
            // No height yet.
            EXPECT_TRUE(g.Empty()) << cut;
            continue;
        }
        ASSERT_EQ(g.Width(), 5);
        ASSERT_EQ(g.Height(), 4);
        // Whole rows that the file holds are there; the first missing byte and all after it are 0.
        const size_t present = cut > 800 ? cut - 800 : 0;
        for (size_t i = 0; i < pixels.size(); ++i)
            ASSERT_EQ(g.ScanLine(int(i / 5))[i % 5], i < present ? pixels[i] : 0) << "cut " << cut << " pixel " << i;
    }
}

TEST(AutodeskGraphicTest, NothingOfAnEarlierPictureRemains)
{
    TAutodeskGraphic g;
    LoadInto(g, AutodeskFile(4, 4, std::vector<uint8_t>(16, 0x55)));
    LoadInto(g, AutodeskFile(3, 2, { 1, 2, 3 })); // the second row is missing
    ASSERT_EQ(g.Width(), 3);
    ASSERT_EQ(g.Height(), 2);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Row(g, 1), (std::vector<uint8_t>{0, 0, 0}));
}

TEST(AutodeskGraphicTest, EmptyAndOversizedPictures)
{
    // No columns or no rows: 0 x 0.
    for (const auto& [width, height] : {std::pair{0, 3}, std::pair{3, 0}}) {
        TAutodeskGraphic empty;
        EXPECT_NO_THROW(LoadInto(empty, AutodeskFile(width, height, { 1, 2, 3 })));
        EXPECT_EQ(empty.Width(), 0);
        EXPECT_EQ(empty.Height(), 0);
    }

    // 65535 x 65535 bytes is beyond the bitmap cap.
    TAutodeskGraphic g;
    EXPECT_THROW(LoadInto(g, AutodeskFile(65535, 65535, { 1, 2, 3 })), Exception);
}

}  // namespace
