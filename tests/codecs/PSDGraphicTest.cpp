#include "codecs/PSDGraphic.h"

#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"
#include "tests/support/TestData.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Bgr = std::array<uint8_t, 3>;

void PutBE(Bytes& b, uint32_t v, int size)
{
    for (int i = size - 1; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct PsdFile {
    int channels = 1;
    uint32_t height = 1;
    uint32_t width = 1;
    int depth = 8;
    int mode = 1;
    Bytes colorData;
    Bytes resources;
    int compression = 0;
    Bytes imageData;  // after the compression word

    Bytes Build() const
    {
        Bytes b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
        PutBE(b, channels, 2);
        PutBE(b, height, 4);
        PutBE(b, width, 4);
        PutBE(b, depth, 2);
        PutBE(b, mode, 2);
        PutBE(b, static_cast<uint32_t>(colorData.size()), 4);
        b.insert(b.end(), colorData.begin(), colorData.end());
        PutBE(b, static_cast<uint32_t>(resources.size()), 4);
        b.insert(b.end(), resources.begin(), resources.end());
        PutBE(b, 0, 4);  // no layers
        PutBE(b, compression, 2);
        b.insert(b.end(), imageData.begin(), imageData.end());
        return b;
    }
};

// PackBits image data: the row count table, then each row packed as literal packets.
Bytes PackRows(const std::vector<Bytes>& rows)
{
    std::vector<Bytes> packed;
    for (const Bytes& row : rows) {
        Bytes p;
        for (size_t i = 0; i < row.size(); i += 128) {
            const size_t n = std::min<size_t>(128, row.size() - i);
            p.push_back(static_cast<uint8_t>(n - 1));
            p.insert(p.end(), row.begin() + i, row.begin() + i + n);
        }
        packed.push_back(p);
    }
    Bytes out;
    for (const Bytes& p : packed)
        PutBE(out, static_cast<uint32_t>(p.size()), 2);
    for (const Bytes& p : packed)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

constexpr auto Load = LoadAs<TPSDGraphic>;
constexpr auto LoadError = LoadErrorAs<TPSDGraphic>;

TEST(PSDRead, SignatureAndShortFiles)
{
    PsdFile f;
    f.imageData = {9};
    const Bytes good = f.Build();
    EXPECT_EQ(Load(good).ScanLine(0)[0], 9);

    Bytes bad = good;
    bad[3] = 'T';
    EXPECT_EQ(LoadError(bad), "Not a valid psd file.");
    EXPECT_EQ(LoadError({'8', 'B'}), "Not a valid psd file.");
    // Every shorter stream ends early somewhere: the stream's own read error.
    for (size_t n = 4; n < good.size(); ++n)
        EXPECT_EQ(LoadError(Bytes(good.begin(), good.begin() + n)), "Stream read error") << n;

    // Sections longer than what follows them.
    f.resources = Bytes(10, 0);
    Bytes longSection = f.Build();
    longSection[26 + 4 + 3] = 200;  // image resources length 200
    EXPECT_EQ(LoadError(longSection), "Stream read error");
}

TEST(PSDRead, BitmapModeShowsSetBitsBlack)
{
    PsdFile f;
    f.mode = 0;
    f.depth = 1;
    f.width = 10;
    f.height = 2;
    f.imageData = {0x80, 0x40, 0x00, 0xC0};
    const TPSDGraphic g = Load(f.Build());
    ASSERT_EQ(g.PixelFormat(), pf1bit);
    EXPECT_EQ(PixelBgr(g, 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelBgr(g, 1, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelBgr(g, 9, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelBgr(g, 8, 1), (Bgr{0, 0, 0}));
    EXPECT_EQ(PixelBgr(g, 7, 1), (Bgr{255, 255, 255}));

    f.depth = 8;  // bitmap mode comes only at one bit
    EXPECT_EQ(LoadError(f.Build()), "Not a valid psd file.");

    // A picture without columns or rows is no picture.
    f.depth = 1;
    f.width = 0;
    EXPECT_EQ(LoadError(f.Build()), "Not a valid psd file.");
}

TEST(PSDRead, GreyIndexedAndDuotonePalettes)
{
    PsdFile f;
    f.width = 2;
    f.imageData = {5, 200};
    const TPSDGraphic grey = Load(f.Build());
    ASSERT_EQ(grey.ColorTable().size(), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(grey.ColorTable()[i], (TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0}));
    EXPECT_EQ(grey.ScanLine(0)[1], 200);

    f.mode = 2;
    f.colorData.resize(768);
    for (int i = 0; i < 768; ++i)
        f.colorData[i] = static_cast<uint8_t>(i * 3 + 1);
    const TPSDGraphic indexed = Load(f.Build());
    EXPECT_EQ(indexed.ColorTable()[5], (TPaletteEntry{f.colorData[5], f.colorData[261], f.colorData[517], 0}));
    EXPECT_EQ(PixelBgr(indexed, 0, 0), (Bgr{f.colorData[517], f.colorData[261], f.colorData[5]}));

    // A colour table that is too long is cut (the pixels still follow the whole section); one that
    // is too short leaves the missing colours black.
    f.colorData.resize(800, 0xEE);
    EXPECT_EQ(Load(f.Build()).ScanLine(0)[1], 200);
    f.colorData.resize(300);
    const TPSDGraphic shortTable = Load(f.Build());
    EXPECT_EQ(shortTable.ColorTable()[5].peGreen, f.colorData[261]);
    EXPECT_EQ(shortTable.ColorTable()[5].peBlue, 0);

    // Duotone: its colour data (the inks) are skipped and grey is shown.
    f.mode = 8;
    const TPSDGraphic duotone = Load(f.Build());
    EXPECT_EQ(duotone.ColorTable()[200], (TPaletteEntry{200, 200, 200, 0}));
    EXPECT_EQ(duotone.ScanLine(0)[0], 5);
}

TEST(PSDRead, SixteenBitSamplesKeepTheirHighByte)
{
    PsdFile f;
    f.depth = 16;
    f.width = 2;
    f.imageData = {0x12, 0xAB, 0xFE, 0x01};
    const TPSDGraphic grey = Load(f.Build());
    EXPECT_EQ(grey.ScanLine(0)[0], 0x12);
    EXPECT_EQ(grey.ScanLine(0)[1], 0xFE);

    f.compression = 1;
    f.imageData = PackRows({{0x12, 0xAB, 0xFE, 0x01}});
    EXPECT_EQ(Load(f.Build()).ScanLine(0)[1], 0xFE);

    // RGB, raw and packed: red, green, blue planes of one pixel.
    f.mode = 3;
    f.channels = 3;
    f.width = 1;
    f.compression = 0;
    f.imageData = {0x10, 0x01, 0x20, 0x02, 0x30, 0x03};
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{0x30, 0x20, 0x10}));
    f.compression = 1;
    f.imageData = PackRows({{0x10, 0x01}, {0x20, 0x02}, {0x30, 0x03}});
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{0x30, 0x20, 0x10}));

    // L*a*b*: L 0xFF.., a and b 0x80.. is white.
    f.mode = 9;
    f.imageData = PackRows({{0xFF, 0xFF}, {0x80, 0x00}, {0x80, 0x00}});
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{255, 255, 255}));
}

TEST(PSDRead, ColourModes)
{
    PsdFile f;
    f.mode = 3;
    f.channels = 4;  // the alpha channel is not shown
    f.width = 2;
    f.imageData = {1, 2, 3, 4, 5, 6, 7, 8};
    const TPSDGraphic rgb = Load(f.Build());
    EXPECT_EQ(rgb.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelBgr(rgb, 0, 0), (Bgr{5, 3, 1}));
    EXPECT_EQ(PixelBgr(rgb, 1, 0), (Bgr{6, 4, 2}));

    // CMYK: all 255 stored (no ink) is white; all 0 stored (full ink) is black.
    f.mode = 4;
    f.channels = 4;
    f.width = 1;
    f.imageData = {255, 255, 255, 255};
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{255, 255, 255}));
    f.imageData = {0, 0, 0, 0};
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{0, 0, 0}));
    f.channels = 5;
    f.compression = 1;
    f.imageData = PackRows({{255}, {0}, {255}, {255}, {0}});  // magenta ink only, and a spot channel
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{255, 0, 255}));

    // L*a*b*: L 255, a 128, b 128 is white.
    f.mode = 9;
    f.channels = 3;
    f.compression = 0;
    f.imageData = {255, 128, 128};
    EXPECT_EQ(PixelBgr(Load(f.Build()), 0, 0), (Bgr{255, 255, 255}));

    // Too few channels for the mode.
    f.channels = 2;
    EXPECT_EQ(LoadError(f.Build()), "Not a valid psd file.");
    f.mode = 4;
    f.channels = 3;
    EXPECT_EQ(LoadError(f.Build()), "Not a valid psd file.");
}

TEST(PSDRead, OtherModesGiveABlankPictureOfTheirSize)
{
    PsdFile f;
    f.mode = 7;  // multichannel
    f.channels = 2;
    f.width = 3;
    f.height = 2;
    f.imageData = Bytes(12, 0x55);
    const TPSDGraphic g = Load(f.Build());
    EXPECT_EQ(g.Width(), 3);
    EXPECT_EQ(g.Height(), 2);
    EXPECT_EQ(PixelBgr(g, 2, 1), (Bgr{0, 0, 0}));
}

TEST(PSDRead, PackBitsRows)
{
    PsdFile f;
    f.width = 3;
    f.height = 2;
    f.compression = 1;
    // Row 0 unpacks to four bytes, one too many; row 1 is a run of three.
    f.imageData = {0, 5, 0, 2, 0x03, 1, 2, 3, 4, 0xFE, 7};
    const TPSDGraphic g = Load(f.Build());
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 3), (Bytes{7, 7, 7}));

    // Row counts adding up to more than the file holds.
    f.imageData = {0, 5, 0x40, 0, 0x03, 1, 2, 3, 4};
    EXPECT_EQ(LoadError(f.Build()), "Stream read error");

    // Two packed bytes make at most 128: enough for a row of 128, not for one of 129.
    f.width = 128;
    f.height = 1;
    f.imageData = {0, 2, 0x81, 5};
    EXPECT_EQ(Load(f.Build()).ScanLine(0)[127], 5);
    f.width = 129;
    EXPECT_EQ(LoadError(f.Build()), "Not a valid psd file.");

    // Compression values other than 1 are read as raw rows.
    f.width = 3;
    f.height = 2;
    f.compression = 2;
    f.imageData = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Load(f.Build()).ScanLine(1)[2], 6);
}

TEST(PSDRead, AbsurdSizesFailQuickly)
{
    PsdFile f;
    f.mode = 3;
    f.channels = 3;
    f.width = 0x7FFFFFFF;
    f.height = 0x7FFFFFFF;
    EXPECT_THROW(Load(f.Build()), Exception);
    f.width = 0xFFFFFFFF;
    EXPECT_THROW(Load(f.Build()), Exception);

    // Within the bitmap's cap but far beyond the data.
    f.width = 8000;
    f.height = 8000;
    f.compression = 1;
    f.imageData = {0, 1, 0};
    EXPECT_EQ(LoadError(f.Build()), "Stream read error");
    f.compression = 0;
    EXPECT_EQ(LoadError(f.Build()), "Stream read error");
    f.channels = 60000;
    f.compression = 1;
    EXPECT_EQ(LoadError(f.Build()), "Stream read error");
}

TEST(PSDRead, EveryPrefixLoadsOrFailsCleanly)
{
    PsdFile f;
    f.mode = 3;
    f.channels = 3;
    f.width = 5;
    f.height = 3;
    f.compression = 1;
    std::vector<Bytes> rows;
    for (int i = 0; i < 9; ++i)
        rows.push_back({uint8_t(i), 2, 3, 4, uint8_t(i * 9)});
    f.imageData = PackRows(rows);
    const Bytes file = f.Build();
    for (size_t n = 0; n < file.size(); ++n)
        EXPECT_THROW(Load(Bytes(file.begin(), file.begin() + n)), Exception) << n;
    EXPECT_NO_THROW(Load(file));
}

TEST(PSDSamples, TheMaliciousSampleIsHandled)
{
    // Its layer records are hostile, but they are skipped unread: the composite image behind them
    // is complete and loads.
    KAVREL_REQUIRE_TESTDATA(dir);
    TPSDGraphic g;
    g.LoadFile((dir / "psd/psd-oob-write.psd").string());
    EXPECT_EQ(g.Width(), 100);
    EXPECT_EQ(g.Height(), 100);
}

}  // namespace
