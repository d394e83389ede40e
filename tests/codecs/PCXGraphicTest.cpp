#include "codecs/PCXGraphic.h"

#include "framework/DialogHooks.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Bgr = std::array<uint8_t, 3>;

struct PcxFields {
    uint8_t manufacturer = 0x0A;
    uint8_t version = 5;
    uint8_t encoding = 0;
    uint8_t bitsPerPixel = 8;
    uint16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    std::array<uint8_t, 48> palette{};
    uint8_t planes = 1;
    uint16_t bytesPerLine = 1;
    uint16_t paletteInfo = 1;
};

Bytes Header(const PcxFields& f)
{
    Bytes h(128, 0);
    h[0] = f.manufacturer;
    h[1] = f.version;
    h[2] = f.encoding;
    h[3] = f.bitsPerPixel;
    auto put = [&](int at, uint16_t v) {
        h[at] = static_cast<uint8_t>(v);
        h[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    put(4, f.xMin);
    put(6, f.yMin);
    put(8, f.xMax);
    put(10, f.yMax);
    std::copy(f.palette.begin(), f.palette.end(), h.begin() + 16);
    h[65] = f.planes;
    put(66, f.bytesPerLine);
    put(68, f.paletteInfo);
    return h;
}

constexpr auto Load = LoadAs<TPCXGraphic>;
constexpr auto LoadError = LoadErrorAs<TPCXGraphic>;

// The trailing palette: the marker and 256 entries, entry i = (i, 255 - i, 7).
Bytes TrailingPalette(uint8_t marker = 0x0C)
{
    Bytes p = {marker};
    for (int i = 0; i < 256; ++i) {
        p.push_back(static_cast<uint8_t>(i));
        p.push_back(static_cast<uint8_t>(255 - i));
        p.push_back(7);
    }
    return p;
}

// The palette index of pixel x in a 4-bit row.
int Nibble(const TBitmap& bitmap, int x, int y)
{
    const uint8_t b = bitmap.ScanLine(y)[x / 2];
    return x % 2 ? b & 0xF : b >> 4;
}

int beeps = 0;
void CountBeep()
{
    ++beeps;
}

struct BeepCounter {
    BeepCounter()
    {
        beeps = 0;
        SetBeepHandler(&CountBeep);
    }
    ~BeepCounter() { SetBeepHandler(nullptr); }
};

TEST(PCXRead, SignatureAndPixelFormat)
{
    PcxFields f;
    const Bytes body = Concat({Bytes{42}, TrailingPalette()});
    const TPCXGraphic pcx = Load(Concat({Header(f), body}));
    f.manufacturer = 0xCD;
    const TPCXGraphic scr = Load(Concat({Header(f), body}));
    EXPECT_EQ(scr.PixelFormat(), pf8bit);
    EXPECT_EQ(scr.ScanLine(0)[0], pcx.ScanLine(0)[0]);
    EXPECT_EQ(scr.ColorTable(), pcx.ColorTable());

    f.manufacturer = 0x0B;
    EXPECT_EQ(LoadError(Concat({Header(f), body})), "Not a PCX or SCR file.");
    EXPECT_EQ(LoadError({}), "Not a PCX or SCR file.");
    EXPECT_EQ(LoadError({0x0A, 5, 1}), "Stream read error");

    f.manufacturer = 0x0A;
    for (auto [bits, planes] : {std::pair{2, 1}, {8, 4}, {1, 3}, {4, 1}, {24, 1}}) {
        f.bitsPerPixel = static_cast<uint8_t>(bits);
        f.planes = static_cast<uint8_t>(planes);
        EXPECT_EQ(LoadError(Concat({Header(f), body})), "PCX: wrong pixel format") << bits << " x " << planes;
    }
}

TEST(PCXRead, MonochromeRowsKeepEveryPixel)
{
    // 10 pixels wide: two bytes a row, white where a bit is set.
    PcxFields f;
    f.bitsPerPixel = 1;
    f.xMax = 9;
    f.yMax = 1;
    f.bytesPerLine = 2;
    const TPCXGraphic g = Load(Concat({Header(f), {0x80, 0x40, 0x01, 0xC0}}));
    ASSERT_EQ(g.PixelFormat(), pf1bit);
    ASSERT_EQ(g.Width(), 10);
    EXPECT_EQ(g.ColorTable(), (std::vector<TPaletteEntry>{{0, 0, 0, 0}, {255, 255, 255, 0}}));
    EXPECT_EQ(PixelBgr(g, 0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelBgr(g, 1, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelBgr(g, 9, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelBgr(g, 8, 1), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelBgr(g, 9, 1), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelBgr(g, 7, 1), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelBgr(g, 6, 1), (Bgr{0, 0, 0}));

    // Version 3 leaves monochrome images black and white.
    f.version = 3;
    EXPECT_EQ(Load(Concat({Header(f), {0, 0, 0, 0}})).ColorTable().size(), 2u);
}

TEST(PCXRead, SixteenColourPlanes)
{
    PcxFields f;
    f.bitsPerPixel = 1;
    f.planes = 4;
    f.xMax = 8;  // 9 pixels: the ninth comes from the second byte of each plane
    f.bytesPerLine = 2;
    for (int i = 0; i < 16; ++i)
        f.palette[3 * i] = static_cast<uint8_t>(i * 10);
    // Plane 0: 0x80 (first pixel), plane 3: 0x40 (second pixel), plane 1: the ninth pixel.
    const Bytes row = {0x80, 0x00, 0x00, 0x80, 0x00, 0x00, 0x40, 0x00};
    const TPCXGraphic g = Load(Concat({Header(f), row}));
    ASSERT_EQ(g.PixelFormat(), pf4bit);
    EXPECT_EQ(Nibble(g, 0, 0), 1);
    EXPECT_EQ(Nibble(g, 1, 0), 8);
    for (int x = 2; x < 8; ++x)
        EXPECT_EQ(Nibble(g, x, 0), 0) << x;
    EXPECT_EQ(Nibble(g, 8, 0), 2);
    ASSERT_EQ(g.ColorTable().size(), 16u);
    EXPECT_EQ(g.ColorTable()[8], (TPaletteEntry{80, 0, 0, 0}));

    f.paletteInfo = 2;
    const TPCXGraphic grey = Load(Concat({Header(f), row}));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(grey.ColorTable()[i], (TPaletteEntry{uint8_t(16 * i), uint8_t(16 * i), uint8_t(16 * i), 0}));
}

TEST(PCXRead, VersionThreeUsesTheDefaultColours)
{
    const std::vector<TPaletteEntry> expected = {
        {0, 0, 0, 0},       {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0}, {0, 0, 128, 0},   {128, 0, 128, 0},
        {0, 128, 128, 0},   {128, 128, 128, 0}, {192, 192, 192, 0}, {255, 0, 0, 0}, {0, 255, 0, 0},   {255, 255, 0, 0},
        {0, 0, 255, 0},     {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0}};
    PcxFields f;
    f.version = 3;
    f.palette.fill(77);
    f.paletteInfo = 2;
    EXPECT_EQ(Load(Concat({Header(f), {5}, TrailingPalette()})).ColorTable(), expected);
    f.bitsPerPixel = 1;
    f.planes = 4;
    EXPECT_EQ(Load(Concat({Header(f), {0, 0, 0, 0}})).ColorTable(), expected);
}

TEST(PCXRead, EightBitPalettes)
{
    PcxFields f;
    f.xMax = 1;
    f.bytesPerLine = 2;
    {
        BeepCounter counter;
        const TPCXGraphic g = Load(Concat({Header(f), {3, 4}, TrailingPalette()}));
        ASSERT_EQ(g.ColorTable().size(), 256u);
        EXPECT_EQ(g.ColorTable()[3], (TPaletteEntry{3, 252, 7, 0}));
        EXPECT_EQ(g.ScanLine(0)[1], 4);
        EXPECT_EQ(beeps, 0);
    }
    {
        // No marker, grey-scale palette info: a ramp without a beep.
        BeepCounter counter;
        f.paletteInfo = 2;
        const TPCXGraphic g = Load(Concat({Header(f), {3, 4}, TrailingPalette(0x0D)}));
        EXPECT_EQ(g.ColorTable()[200], (TPaletteEntry{200, 200, 200, 0}));
        EXPECT_EQ(beeps, 0);
    }
    {
        // Neither: a beep, and still a ramp.
        BeepCounter counter;
        f.paletteInfo = 1;
        const TPCXGraphic g = Load(Concat({Header(f), {3, 4}, TrailingPalette(0x0D)}));
        EXPECT_EQ(g.ColorTable()[200], (TPaletteEntry{200, 200, 200, 0}));
        EXPECT_EQ(beeps, 1);
    }
}

TEST(PCXRead, TheLastBytesOfEightBitFilesAreNeverPixels)
{
    // Two rows declared, one row of data: the second row stays blank rather than taking palette bytes.
    PcxFields f;
    f.xMax = 2;
    f.yMax = 1;
    f.bytesPerLine = 3;
    const TPCXGraphic g = Load(Concat({Header(f), {1, 2, 3}, TrailingPalette()}));
    EXPECT_EQ(g.ScanLine(0)[2], 3);
    EXPECT_EQ(g.ScanLine(1)[0], 0);
    EXPECT_EQ(g.ScanLine(1)[2], 0);

    // Fewer than 769 bytes after the header leaves no image data at all.
    EXPECT_EQ(LoadError(Concat({Header(f), Bytes(769, 0x0C)})), "Stream read error");
    EXPECT_EQ(LoadError(Header(f)), "Stream read error");
}

TEST(PCXRead, TrueColourPlanesSkipTheirPadding)
{
    PcxFields f;
    f.planes = 3;
    f.xMax = 1;
    f.bytesPerLine = 4;  // two pixels and two padding bytes per plane
    const Bytes row = {10, 11, 99, 99, 20, 21, 99, 99, 30, 31, 99, 99};
    const TPCXGraphic g = Load(Concat({Header(f), row}));
    ASSERT_EQ(g.PixelFormat(), pf24bit);
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 6), (Bytes{30, 20, 10, 31, 21, 11}));
    EXPECT_EQ(g.Palette(), nullptr);
}

TEST(PCXRead, RunLengthDataDecodeAsOnePiece)
{
    PcxFields f;
    f.encoding = 1;
    f.planes = 3;
    f.xMax = 1;
    f.yMax = 1;
    f.bytesPerLine = 2;
    // A run of 8 crosses from row 0 into row 1; literal bytes below 0xC0 stand for themselves.
    const Bytes packed = {0xC8, 50, 0xC1, 0xC5, 1, 2, 3};
    const TPCXGraphic g = Load(Concat({Header(f), packed}));
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 6), (Bytes{50, 50, 50, 50, 50, 50}));
    // Row 1: red 50, 50; green 0xC5, 1; blue 2, 3.
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 6), (Bytes{2, 0xC5, 50, 3, 1, 50}));

    // A long picture of runs of two: the reader takes its packed bytes a piece at a time, and wherever a piece
    // ends, a run's count must find its byte. One stream starts with a byte that stands for itself, so that
    // the counts fall at odd offsets in one and at even offsets in the other.
    PcxFields wide = f;
    wide.xMax = 999;
    wide.yMax = 119;
    wide.bytesPerLine = 1000;
    for (bool leadingLiteral : { false, true }) {
        Bytes decoded(3000 * 120);
        Bytes stream;
        size_t i = 0;
        if (leadingLiteral) {
            decoded[i++] = 5;
            stream.push_back(5);
        }
        for (; i < decoded.size(); i += 2) {
            const auto value = static_cast<uint8_t>(i * 7 + 3);
            const size_t count = std::min<size_t>(2, decoded.size() - i);
            std::fill_n(decoded.begin() + static_cast<ptrdiff_t>(i), count, value);
            stream.insert(stream.end(), { static_cast<uint8_t>(0xC0 | count), value });
        }
        const TPCXGraphic big = Load(Concat({ Header(wide), stream }));
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 1000; ++x)
                for (int plane = 0; plane < 3; ++plane)
                    ASSERT_EQ(big.ScanLine(y)[3 * x + 2 - plane], decoded[y * 3000 + plane * 1000 + x])
                        << x << ", " << y << " plane " << plane;
    }

    // Packed data that end early leave the rest blank.
    const TPCXGraphic cut = Load(Concat({Header(f), {0xC3, 9}}));
    EXPECT_EQ(Bytes(cut.ScanLine(0), cut.ScanLine(0) + 6), (Bytes{0, 9, 9, 0, 0, 9}));
    EXPECT_EQ(Bytes(cut.ScanLine(1), cut.ScanLine(1) + 6), (Bytes(6, 0)));
}

TEST(PCXRead, BrokenHeadersAndShortData)
{
    PcxFields f;
    f.planes = 3;
    f.xMin = 5;
    f.xMax = 4;
    f.bytesPerLine = 4;
    EXPECT_EQ(LoadError(Concat({Header(f), Bytes(12, 1)})), "Not a PCX or SCR file.");
    f.xMin = 0;
    f.xMax = 7;  // eight pixels do not fit in four bytes per plane
    EXPECT_EQ(LoadError(Concat({Header(f), Bytes(12, 1)})), "Not a PCX or SCR file.");

    // Raw data shorter than the image: the rows present are read, a partial row completed with zeros.
    f.xMax = 1;
    f.yMax = 2;
    f.bytesPerLine = 2;
    const TPCXGraphic g = Load(Concat({Header(f), {1, 2, 3, 4, 5, 6, 7, 8}}));
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 6), (Bytes{5, 3, 1, 6, 4, 2}));
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 6), (Bytes{0, 0, 7, 0, 0, 8}));
    EXPECT_EQ(Bytes(g.ScanLine(2), g.ScanLine(2) + 6), (Bytes(6, 0)));

    // A header that claims a large picture over a few bytes of data.
    f.encoding = 1;
    f.xMax = 65534;
    f.yMax = 200;
    f.bytesPerLine = 65535;
    EXPECT_NO_THROW(Load(Concat({Header(f), {0xFF, 1}})));
}

TEST(PCXRead, EveryPrefixLoadsOrFailsCleanly)
{
    PcxFields f;
    f.encoding = 1;
    f.xMax = 9;
    f.yMax = 3;
    f.bytesPerLine = 10;
    Bytes packed;
    for (int i = 0; i < 4; ++i)
        packed.insert(packed.end(), {0xC4, uint8_t(i), 0xC1, 0xC7, 7, 8, 9, 10});
    const Bytes file = Concat({Header(f), packed, TrailingPalette()});
    for (size_t n = 0; n <= file.size(); ++n) {
        try {
            Load(Bytes(file.begin(), file.begin() + n));
        } catch (const Exception&) {
        }
    }
    EXPECT_NO_THROW(Load(file));
}

TEST(PCXWrite, SavingWritesNothing)
{
    PcxFields f;
    TPCXGraphic g = Load(Concat({Header(f), {1}, TrailingPalette()}));
    TMemoryStream out;
    g.SaveStream(out);
    EXPECT_EQ(out.Size(), 0);
}

}  // namespace
