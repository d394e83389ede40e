#include "codecs/PCDGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"

#include <array>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr int kNeutralC1 = 156;
constexpr int kNeutralC2 = 137;

struct Layout {
    size_t dataOffset;
    int width;  // luminance samples per stored line
    int lines;
};
constexpr Layout kLayouts[3] = {{8192, 192, 128}, {0xB800, 384, 256}, {0x30000, 768, 512}};

// A Photo-CD image pack made in memory: the signature, the orientation byte and the line pairs of
// one resolution, the samples given by functions of their stored position.
struct PcdImage {
    int resolution = 2;
    uint8_t orientationByte = 0;
    std::function<uint8_t(int x, int line)> luma = [](int, int) { return uint8_t{100}; };
    // Chroma sample k (covering columns 2k and 2k + 1) of line pair `pair`.
    std::function<uint8_t(int k, int pair)> c1 = [](int, int) { return uint8_t{kNeutralC1}; };
    std::function<uint8_t(int k, int pair)> c2 = [](int, int) { return uint8_t{kNeutralC2}; };

    std::vector<uint8_t> Bytes() const
    {
        const Layout& l = kLayouts[resolution];
        const size_t pairBytes = 3 * size_t(l.width);
        std::vector<uint8_t> bytes(std::max<size_t>(l.dataOffset + l.lines / 2 * pairBytes, 194636), 0xEE);
        const char signature[] = "PCD_IPI";
        std::copy(signature, signature + 7, bytes.begin() + 2048);
        bytes[194635] = orientationByte;
        for (int pair = 0; pair < l.lines / 2; ++pair) {
            uint8_t* p = bytes.data() + l.dataOffset + pair * pairBytes;
            for (int x = 0; x < l.width; ++x) {
                p[x] = luma(x, 2 * pair);
                p[l.width + x] = luma(x, 2 * pair + 1);
            }
            for (int k = 0; k < l.width / 2; ++k) {
                p[2 * l.width + k] = c1(k, pair);
                p[2 * l.width + l.width / 2 + k] = c2(k, pair);
            }
        }
        return bytes;
    }
};

std::array<uint8_t, 3> Pixel(const TBitmap& bitmap, int column, int row)
{
    const uint8_t* p = bitmap.ScanLine(row) + 3 * column;
    return {p[0], p[1], p[2]};
}

std::array<uint8_t, 3> Convert(int y, int c1, int c2)
{
    std::array<uint8_t, 3> bgr{};
    PhotoYccToBgr(static_cast<uint8_t>(y), static_cast<uint8_t>(c1), static_cast<uint8_t>(c2), bgr.data());
    return bgr;
}

TEST(PCDGraphicTest, PhotoYccConversion)
{
    using Bgr = std::array<uint8_t, 3>;
    EXPECT_EQ(Convert(0, 156, 137), (Bgr{0, 0, 0}));
    // 1.3584 x 188 = 255.3792, clamped.
    EXPECT_EQ(Convert(188, 156, 137), (Bgr{255, 255, 255}));
    // 135.84 rounds up.
    EXPECT_EQ(Convert(100, 156, 137), (Bgr{136, 136, 136}));
    // Colour differences of 10: blue 135.84 + 22.179 = 158.019; green 135.84 - 9.271435 - 4.302726
    // = 122.27; red 135.84 + 18.215 = 154.055.
    EXPECT_EQ(Convert(100, 166, 147), (Bgr{158, 122, 154}));
    // Clamped below: blue 2.2179 x -156 and red 1.8215 x -137 are negative; green
    // 0.9271435 x 137 + 0.4302726 x 156 = 194.14.
    EXPECT_EQ(Convert(0, 0, 0), (Bgr{0, 194, 0}));
}

TEST(PCDGraphicTest, DefaultResolutionGives768By512TrueColour)
{
    PcdImage image;
    image.luma = [](int x, int) { return uint8_t(x < 384 ? 0 : 188); };
    TPCDGraphic graphic;
    EXPECT_EQ(graphic.Resolution(), 2);
    LoadInto(graphic, image.Bytes());
    EXPECT_EQ(graphic.Width(), 768);
    EXPECT_EQ(graphic.Height(), 512);
    EXPECT_EQ(graphic.PixelFormat(), pf24bit);
    EXPECT_EQ(Pixel(graphic, 0, 0), (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(Pixel(graphic, 767, 511), (std::array<uint8_t, 3>{255, 255, 255}));
}

TEST(PCDGraphicTest, SmallerResolutionsAndUnsupportedOnes)
{
    for (int resolution : {0, 1}) {
        PcdImage image;
        image.resolution = resolution;
        image.luma = [](int x, int line) { return uint8_t((x + line) % 188); };
        TPCDGraphic graphic;
        graphic.SetResolution(resolution);
        LoadInto(graphic, image.Bytes());
        const Layout& l = kLayouts[resolution];
        ASSERT_EQ(graphic.Width(), l.width);
        ASSERT_EQ(graphic.Height(), l.lines);
        EXPECT_EQ(Pixel(graphic, l.width - 1, l.lines - 1), Convert((l.width - 1 + l.lines - 1) % 188, 156, 137));
    }
    TPCDGraphic graphic;
    graphic.SetResolution(3);
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, PcdImage {}.Bytes()); }), "PCD: image size currently not supported");
    EXPECT_EQ(graphic.Width(), 0);
}

TEST(PCDGraphicTest, OrientationsPlaceTheStoredSamples)
{
    // Neutral chroma, so every pixel is the grey of its own luminance sample.
    const auto luma = [](int x, int line) { return uint8_t((x * 7 + line * 3) % 188); };
    const int w = 768, h = 512;
    struct Case {
        uint8_t orientationByte;
        int width, height;
        // Where the stored sample (x, line) lands.
        std::function<std::pair<int, int>(int x, int line)> place;
    };
    const Case cases[] = {
        { 0, w, h,
            [](int x, int line) {
                return std::pair { x, line };
            } },
        // Only the two low bits count: 5 is orientation 1, a quarter turn anticlockwise.
        { 5, h, w,
            [](int x, int line) {
                return std::pair { line, w - 1 - x };
            } },
        // A half turn, and a quarter turn clockwise: rotations, never mirror images.
        { 2, w, h,
            [](int x, int line) {
                return std::pair { w - 1 - x, h - 1 - line };
            } },
        { 3, h, w,
            [](int x, int line) {
                return std::pair { h - 1 - line, x };
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.orientationByte));
        PcdImage image;
        image.orientationByte = c.orientationByte;
        image.luma = luma;
        TPCDGraphic graphic;
        LoadInto(graphic, image.Bytes());
        ASSERT_EQ(graphic.Width(), c.width);
        ASSERT_EQ(graphic.Height(), c.height);
        int wrong = 0;
        for (int line = 0; line < h; ++line)
            for (int x = 0; x < w; ++x) {
                const auto [column, row] = c.place(x, line);
                wrong += Pixel(graphic, column, row) != Convert(luma(x, line), 156, 137);
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PCDGraphicTest, ChromaIsUpsampledAcrossColumnsAndLinePairs)
{
    PcdImage image;
    // Luminance 100 everywhere; C1 of pair 0 is 156, 161, ... and of pair 1 176, 181, ...; C2 stays
    // neutral except in the last pair.
    image.c1 = [](int k, int pair) { return uint8_t(pair == 0 ? 156 + 5 * k % 60 : pair == 1 ? 176 + 5 * k % 60 : 156); };
    image.c2 = [](int k, int pair) { return uint8_t(pair == 255 ? (k == 383 ? 200 : 140 + k % 2 * 20) : 137); };
    TPCDGraphic graphic;
    LoadInto(graphic, image.Bytes());

    // Line 0 (the first of pair 0): even columns take the sample, odd ones the mean of two, truncated.
    EXPECT_EQ(Pixel(graphic, 0, 0), Convert(100, 156, 137));
    EXPECT_EQ(Pixel(graphic, 1, 0), Convert(100, (156 + 161) >> 1, 137));  // 158, not 159
    EXPECT_EQ(Pixel(graphic, 2, 0), Convert(100, 161, 137));
    // Line 1 mixes in the chroma of the next pair.
    EXPECT_EQ(Pixel(graphic, 0, 1), Convert(100, (156 + 176) >> 1, 137));
    EXPECT_EQ(Pixel(graphic, 1, 1), Convert(100, (156 + 161 + 176 + 181) >> 2, 137));
    EXPECT_EQ(Pixel(graphic, 3, 1), Convert(100, (161 + 166 + 181 + 186) >> 2, 137));

    // The last pair has no successor: its second line shares its own chroma.
    EXPECT_EQ(Pixel(graphic, 0, 511), Convert(100, 156, 140));
    EXPECT_EQ(Pixel(graphic, 1, 511), Convert(100, 156, (140 + 160) >> 1));
    EXPECT_EQ(Pixel(graphic, 1, 510), Pixel(graphic, 1, 511));
    // The rightmost odd column takes the last chroma sample alone.
    EXPECT_EQ(Pixel(graphic, 767, 510), Convert(100, 156, 200));
    EXPECT_EQ(Pixel(graphic, 767, 511), Convert(100, 156, 200));
    EXPECT_EQ(Pixel(graphic, 766, 511), Convert(100, 156, 200));
}

TEST(PCDGraphicTest, ReadsRelativeToTheStreamsStartPosition)
{
    PcdImage image;
    image.orientationByte = 3;
    image.luma = [](int x, int line) { return uint8_t((x ^ line) % 188); };
    const std::vector<uint8_t> bytes = image.Bytes();
    std::vector<uint8_t> embedded(1234 + bytes.size(), 0x55);
    std::copy(bytes.begin(), bytes.end(), embedded.begin() + 1234);

    TPCDGraphic plain, inner;
    LoadInto(plain, bytes);
    TMemoryStream stream(embedded);
    stream.SetPosition(1234);
    inner.LoadStream(stream);
    ASSERT_EQ(inner.Width(), 512);
    ASSERT_EQ(inner.Height(), 768);
    for (int row = 0; row < inner.Height(); ++row)
        ASSERT_EQ(0, std::memcmp(inner.ScanLine(row), plain.ScanLine(row), plain.RowBytes())) << row;
}

TEST(PCDGraphicTest, BadOrShortFilesFail)
{
    std::vector<uint8_t> bytes = PcdImage{}.Bytes();
    TPCDGraphic graphic;

    std::vector<uint8_t> wrong = bytes;
    wrong[2054] = 'X';
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, wrong); }), "PCD: wrong image format.");
    EXPECT_EQ(graphic.Width(), 0);

    // Too short for the signature, for the orientation byte, for the last line pair.
    for (size_t size : {size_t{100}, size_t{2050}, size_t{194635}, bytes.size() - 1}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(MessageOf([&] { LoadInto(graphic, std::vector<uint8_t>(bytes.begin(), bytes.begin() + size)); }),
            "Stream read error");
    }
}

TEST(PCDGraphicTest, SavingWritesNothing)
{
    TPCDGraphic graphic;
    LoadInto(graphic, PcdImage {}.Bytes());
    TMemoryStream out;
    out.Write("abc", 3);
    graphic.SaveStream(out);
    EXPECT_EQ(out.Size(), 3);
    EXPECT_EQ(out.Position(), 3);
}

}  // namespace
