#include "codecs/TargaGraphic.h"

#include "framework/DialogHooks.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"
#include "tests/support/TestData.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct HeaderFields {
    uint8_t idLength = 0;
    uint8_t colorMapType = 0;
    uint8_t imageType = 2;
    uint16_t colorMapLength = 0;
    uint8_t colorMapEntrySize = 0;
    uint16_t width = 1;
    uint16_t height = 1;
    uint8_t depth = 24;
    uint8_t descriptor = 0;
};

Bytes Header(const HeaderFields& f)
{
    auto lo = [](unsigned v) { return uint8_t(v); };
    auto hi = [](unsigned v) { return uint8_t(v >> 8); };
    return {f.idLength,  f.colorMapType, f.imageType, 0, 0, lo(f.colorMapLength), hi(f.colorMapLength),
            f.colorMapEntrySize, 0, 0, 0, 0, lo(f.width), hi(f.width), lo(f.height), hi(f.height), f.depth,
            f.descriptor};
}

constexpr auto Load = LoadAs<TTargaGraphic>;
constexpr auto LoadError = LoadErrorAs<TTargaGraphic>;

Bytes Save(TTargaGraphic& graphic, bool compressed = true)
{
    TMemoryStream stream;
    graphic.SaveTarga(stream, compressed);
    return stream.Bytes();
}

// Blue, green, red of pixel x of row y, whatever the format.
std::array<uint8_t, 3> Bgr(const TBitmap& bitmap, int x, int y)
{
    std::vector<uint8_t> row(static_cast<size_t>(bitmap.Width()) * 4);
    RowToBgra(bitmap, y, row.data());
    return {row[4 * x], row[4 * x + 1], row[4 * x + 2]};
}

void ExpectSamePicture(const TBitmap& a, const TBitmap& b)
{
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    ASSERT_EQ(a.PixelFormat(), b.PixelFormat());
    // The file's colour map has 256 entries: those the picture lacks come back black.
    ASSERT_LE(a.ColorTable().size(), b.ColorTable().size());
    for (size_t i = 0; i < b.ColorTable().size(); ++i)
        EXPECT_EQ(b.ColorTable()[i], i < a.ColorTable().size() ? a.ColorTable()[i] : TPaletteEntry{}) << "entry " << i;
    for (int y = 0; y < a.Height(); ++y)
        ASSERT_EQ(0, std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowBytes())) << "row " << y;
}

// A picture whose pixels all differ from their neighbours except in a few runs.
TTargaGraphic MakePicture(TPixelFormat format, int width, int height)
{
    TTargaGraphic g;
    g.SetPixelFormat(format);
    if (format == pf8bit) {
        TLogPalette log{};
        log.palVersion = kPaletteVersion;
        log.palNumEntries = 256;
        for (int i = 0; i < 256; ++i)
            log.palPalEntry[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
        g.SetPalette(CreatePalette(log));
    }
    g.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = g.ScanLine(y);
        for (int i = 0; i < g.RowBytes(); ++i)
            row[i] = static_cast<uint8_t>(i / 5 % 3 == 0 ? 42 : i * 31 + y * 17);
    }
    return g;
}

// Records what the warning hook was asked and answers as told.
struct WarningRecorder {
    static inline std::vector<std::string> asked;
    static inline bool answer = true;
    static bool Handler(const std::string& text)
    {
        asked.push_back(text);
        return answer;
    }
    WarningRecorder(bool ok)
    {
        asked.clear();
        answer = ok;
        SetWarningHandler(&Handler);
    }
    ~WarningRecorder() { SetWarningHandler(nullptr); }
};

// ---------------------------------------------------------------------------------------------
// Reading

TEST(TargaRead, RowOrderFollowsDescriptorBit5)
{
    // Two rows of one 24-bit pixel each: blue first, then red.
    const Bytes pixels = {255, 0, 0, 0, 0, 255};
    HeaderFields f;
    f.height = 2;
    TTargaGraphic bottomFirst = Load(Concat({Header(f), pixels}));
    EXPECT_EQ(bottomFirst.PixelFormat(), pf24bit);
    EXPECT_EQ(Bgr(bottomFirst, 0, 1), (std::array<uint8_t, 3>{255, 0, 0}));
    EXPECT_EQ(Bgr(bottomFirst, 0, 0), (std::array<uint8_t, 3>{0, 0, 255}));

    f.descriptor = 0x20 | 0x08;  // top first; the alpha bits are not looked at
    TTargaGraphic topFirst = Load(Concat({Header(f), pixels}));
    EXPECT_EQ(Bgr(topFirst, 0, 0), (std::array<uint8_t, 3>{255, 0, 0}));
    EXPECT_EQ(Bgr(topFirst, 0, 1), (std::array<uint8_t, 3>{0, 0, 255}));
}

TEST(TargaRead, GreyImagesGetTheRampAndSkipAnAnnouncedColourMap)
{
    HeaderFields f;
    f.imageType = 3;
    f.depth = 8;
    f.width = 2;
    TTargaGraphic plain = Load(Concat({Header(f), {7, 200}}));
    ASSERT_EQ(plain.PixelFormat(), pf8bit);
    ASSERT_EQ(plain.ColorTable().size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(plain.ColorTable()[i], (TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0}));
    EXPECT_EQ(plain.ScanLine(0)[1], 200);

    // Run-length grey with a two-entry 24-bit map that must not be taken for pixels.
    f.imageType = 11;
    f.colorMapType = 1;
    f.colorMapLength = 2;
    f.colorMapEntrySize = 24;
    TTargaGraphic mapped = Load(Concat({Header(f), {1, 2, 3, 4, 5, 6}, {0x81, 99}}));
    EXPECT_EQ(mapped.ColorTable()[9], (TPaletteEntry{9, 9, 9, 0}));
    EXPECT_EQ(mapped.ScanLine(0)[0], 99);
    EXPECT_EQ(mapped.ScanLine(0)[1], 99);
}

TEST(TargaRead, ColourMapEntriesOfEachSize)
{
    HeaderFields f;
    f.imageType = 1;
    f.depth = 8;
    f.colorMapType = 1;
    f.colorMapLength = 2;

    f.colorMapEntrySize = 16;  // 0x7FFF and 0x001F (pure blue)
    TTargaGraphic g16 = Load(Concat({Header(f), {0xFF, 0x7F, 0x1F, 0x00}, {1}}));
    ASSERT_EQ(g16.ColorTable().size(), 2u);
    EXPECT_EQ(g16.ColorTable()[0], (TPaletteEntry{248, 248, 248, 0}));
    EXPECT_EQ(g16.ColorTable()[1], (TPaletteEntry{0, 0, 248, 0}));
    EXPECT_EQ(g16.ScanLine(0)[0], 1);

    f.colorMapEntrySize = 15;  // read as 16-bit entries too
    EXPECT_EQ(Load(Concat({Header(f), {0xE0, 0x03, 0, 0}, {0}})).ColorTable()[0], (TPaletteEntry{0, 248, 0, 0}));

    f.colorMapEntrySize = 24;  // blue, green, red
    TTargaGraphic g24 = Load(Concat({Header(f), {1, 2, 3, 4, 5, 6}, {1}}));
    EXPECT_EQ(g24.ColorTable()[1], (TPaletteEntry{6, 5, 4, 0}));

    f.colorMapEntrySize = 32;  // the fourth byte is skipped, and the pixels follow all eight bytes
    TTargaGraphic g32 = Load(Concat({Header(f), {1, 2, 3, 99, 4, 5, 6, 99}, {1}}));
    EXPECT_EQ(g32.ColorTable()[0], (TPaletteEntry{3, 2, 1, 0}));
    EXPECT_EQ(g32.ColorTable()[1], (TPaletteEntry{6, 5, 4, 0}));
    EXPECT_EQ(g32.ScanLine(0)[0], 1);
}

TEST(TargaRead, ColourMapsBeyondTheirUseAndIdentification)
{
    // A true-colour image with a map: the map is read, then the pixels after it.
    HeaderFields f;
    f.colorMapType = 1;
    f.colorMapLength = 1;
    f.colorMapEntrySize = 24;
    f.idLength = 5;
    TTargaGraphic trueColour = Load(Concat({Header(f), {'h', 'e', 'l', 'l', 'o'}, {7, 8, 9}, {10, 20, 30}}));
    EXPECT_EQ(trueColour.Identification(), "hello");
    EXPECT_EQ(Bgr(trueColour, 0, 0), (std::array<uint8_t, 3>{10, 20, 30}));

    // 300 entries: the palette keeps 256, the pixels still come after all 300.
    f = {};
    f.imageType = 1;
    f.depth = 8;
    f.colorMapType = 1;
    f.colorMapLength = 300;
    f.colorMapEntrySize = 24;
    Bytes map(300 * 3);
    for (int i = 0; i < 300; ++i)
        map[3 * i + 2] = static_cast<uint8_t>(i);
    TTargaGraphic big = Load(Concat({Header(f), map, {255}}));
    ASSERT_EQ(big.ColorTable().size(), 256u);
    EXPECT_EQ(big.ColorTable()[255].peRed, 255);
    EXPECT_EQ(big.ScanLine(0)[0], 255);

    // A second load without identification forgets the first one's text.
    TMemoryStream again(Concat({Header(HeaderFields{}), {1, 2, 3}}));
    trueColour.LoadStream(again);
    EXPECT_EQ(trueColour.Identification(), "");
    EXPECT_EQ(trueColour.ColorTable().size(), 0u);
}

TEST(TargaRead, DepthsAndFormats)
{
    HeaderFields f;
    f.depth = 16;
    f.descriptor = 0x01;
    TTargaGraphic g16 = Load(Concat({Header(f), {0x1F, 0x80}}));  // blue, attribute bit set
    EXPECT_EQ(g16.PixelFormat(), pf15bit);
    EXPECT_EQ(g16.ScanLine(0)[0], 0x1F);
    EXPECT_EQ(g16.ScanLine(0)[1], 0x80);
    EXPECT_EQ(Bgr(g16, 0, 0), (std::array<uint8_t, 3>{255, 0, 0}));

    f.depth = 15;
    EXPECT_EQ(Load(Concat({Header(f), {0, 0x7C}})).PixelFormat(), pf15bit);

    f.depth = 32;
    TTargaGraphic g32 = Load(Concat({Header(f), {1, 2, 3, 77}}));
    EXPECT_EQ(g32.PixelFormat(), pf32bit);
    EXPECT_EQ(g32.ScanLine(0)[3], 77);

    f.depth = 12;
    EXPECT_EQ(LoadError(Concat({Header(f), {0, 0}})), "Targa: invalid image");
}

TEST(TargaRead, ImagesWithoutPixelData)
{
    HeaderFields f;
    f.imageType = 0;
    f.depth = 0;
    f.width = 5;
    f.height = 3;
    TTargaGraphic g = Load(Header(f));
    EXPECT_EQ(g.Width(), 5);
    EXPECT_EQ(g.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(Bgr(g, x, y), (std::array<uint8_t, 3>{0, 0, 0}));

    // No columns means no rows either: the picture is simply empty.
    f.imageType = 2;
    f.depth = 24;
    f.width = 0;
    TTargaGraphic noColumns = Load(Header(f));
    EXPECT_TRUE(noColumns.Empty());
    EXPECT_EQ(noColumns.Height(), 0);

    // Types this reader cannot decode (here Huffman-coded) fail rather than pass for a blank image.
    f.width = 1;
    f.imageType = 32;
    f.depth = 24;
    EXPECT_EQ(LoadError(Concat({Header(f), {1, 2, 3}})), "Targa: invalid image");
}

TEST(TargaRead, RunLengthPackets)
{
    HeaderFields f;
    f.imageType = 10;
    f.width = 4;
    f.height = 2;
    f.descriptor = 0x20;
    // Row 0: a run of 3, then a raw pixel; row 1: a raw packet of 2 and a run of 2.
    const Bytes packets = {0x82, 1, 2, 3, 0x00, 4, 5, 6, 0x01, 7, 8, 9, 10, 11, 12, 0x81, 13, 14, 15};
    TTargaGraphic g = Load(Concat({Header(f), packets}));
    const Bytes row0 = {1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6};
    const Bytes row1 = {7, 8, 9, 10, 11, 12, 13, 14, 15, 13, 14, 15};
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 12), row0);
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 12), row1);
}

TEST(TargaRead, PacketsCrossingRowsCarryOnAndAreClippedAtTheEnd)
{
    HeaderFields f;
    f.imageType = 9;
    f.depth = 8;
    f.width = 3;
    f.height = 2;
    f.descriptor = 0x20;
    // A run of 4 fills row 0 and the first pixel of row 1; a raw packet of 4 has one pixel too many.
    const Bytes packets = {0x83, 9, 0x03, 1, 2, 3, 4};
    const Bytes trailer = {0xAB, 0xCD};
    TMemoryStream stream(Concat({Header(f), packets, trailer}));
    TTargaGraphic g;
    g.LoadStream(stream);
    EXPECT_EQ(Bytes(g.ScanLine(0), g.ScanLine(0) + 3), (Bytes{9, 9, 9}));
    EXPECT_EQ(Bytes(g.ScanLine(1), g.ScanLine(1) + 3), (Bytes{9, 1, 2}));
    // The stream stands just after the last packet, whose extra pixels were dropped.
    EXPECT_EQ(stream.Position(), int64_t(18 + packets.size()));

    // A raw packet that starts in row 0 and ends in row 1.
    const Bytes rawAcross = {0x04, 1, 2, 3, 4, 5, 0x80, 6};
    TTargaGraphic across = Load(Concat({Header(f), rawAcross}));
    EXPECT_EQ(Bytes(across.ScanLine(0), across.ScanLine(0) + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(Bytes(across.ScanLine(1), across.ScanLine(1) + 3), (Bytes{4, 5, 6}));
}

TEST(TargaRead, ShortFiles)
{
    HeaderFields f;
    f.width = 2;
    f.height = 2;
    const Bytes full = Concat({Header(f), Bytes(12, 5)});
    EXPECT_NO_THROW(Load(full));
    // Raw rows cut short fail; the header itself cut short fails the same way.
    EXPECT_EQ(LoadError(Bytes(full.begin(), full.end() - 1)), "Targa: invalid image");
    EXPECT_EQ(LoadError(Bytes(full.begin(), full.begin() + 17)), "Targa: invalid image");

    // Packed data ending early: no error, the missing pixels stay blank.
    f.imageType = 10;
    f.descriptor = 0x20;
    TTargaGraphic g = Load(Concat({Header(f), {0x01, 1, 2, 3, 4, 5}}));  // raw packet of 2, one pixel and a half
    EXPECT_EQ(Bgr(g, 0, 0), (std::array<uint8_t, 3>{1, 2, 3}));
    EXPECT_EQ(Bgr(g, 1, 0), (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(Bgr(g, 1, 1), (std::array<uint8_t, 3>{0, 0, 0}));

    // A colour map cut short.
    f = {};
    f.imageType = 9;
    f.depth = 8;
    f.colorMapType = 1;
    f.colorMapLength = 256;
    f.colorMapEntrySize = 24;
    EXPECT_EQ(LoadError(Concat({Header(f), Bytes(100, 0)})), "Targa: invalid image");
}

TEST(TargaRead, EveryPrefixLoadsOrFailsCleanly)
{
    TTargaGraphic source = MakePicture(pf8bit, 37, 5);
    source.SetIdentification("prefix sweep");
    for (bool compressed : {true, false}) {
        const Bytes file = Save(source, compressed);
        for (size_t n = 0; n <= file.size(); ++n) {
            try {
                Load(Bytes(file.begin(), file.begin() + n));
            } catch (const Exception&) {
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(TargaWrite, PacketsAsEncoded)
{
    // 3 x 1: A, A, B gives a run of two and a raw packet of one.
    TTargaGraphic small;
    small.SetPixelFormat(pf24bit);
    small.SetSize(3, 1);
    const Bytes pixels = {1, 2, 3, 1, 2, 3, 4, 5, 6};
    std::memcpy(small.ScanLine(0), pixels.data(), pixels.size());
    const Bytes file = Save(small);
    EXPECT_EQ(Bytes(file.begin() + 18, file.end()), (Bytes{0x81, 1, 2, 3, 0x00, 4, 5, 6}));

    // 200 different pixels: raw packets of 128 and 72.
    TTargaGraphic distinct;
    distinct.SetPixelFormat(pf8bit);
    distinct.SetSize(200, 1);
    for (int x = 0; x < 200; ++x)
        distinct.ScanLine(0)[x] = static_cast<uint8_t>(x);
    const Bytes d = Save(distinct);
    const size_t start = 18 + 768;
    ASSERT_EQ(d.size(), start + 1 + 128 + 1 + 72);
    EXPECT_EQ(d[start], 127);
    EXPECT_EQ(d[start + 1 + 127], 127);  // the last raw pixel of the first packet
    EXPECT_EQ(d[start + 129], 71);
    EXPECT_EQ(d[start + 130], 128);

    // 300 equal pixels: runs of 128, 128 and 44.
    TTargaGraphic equal;
    equal.SetPixelFormat(pf15bit);
    equal.SetSize(300, 1);
    for (int x = 0; x < 300; ++x) {
        equal.ScanLine(0)[2 * x] = 0x34;
        equal.ScanLine(0)[2 * x + 1] = 0x12;
    }
    const Bytes e = Save(equal);
    EXPECT_EQ(Bytes(e.begin() + 18, e.end()),
              (Bytes{0xFF, 0x34, 0x12, 0xFF, 0x34, 0x12, 0xAB, 0x34, 0x12}));

    // A pair ends the raw stretch before it: A, B, C, C, D.
    TTargaGraphic mixed;
    mixed.SetPixelFormat(pf8bit);
    mixed.SetSize(5, 1);
    const Bytes m = {1, 2, 3, 3, 4};
    std::memcpy(mixed.ScanLine(0), m.data(), m.size());
    const Bytes mf = Save(mixed);
    EXPECT_EQ(Bytes(mf.begin() + start, mf.end()), (Bytes{0x01, 1, 2, 0x81, 3, 0x00, 4}));
}

TEST(TargaWrite, Headers)
{
    TTargaGraphic indexed = MakePicture(pf8bit, 300, 2);
    const Bytes h8 = Save(indexed);
    EXPECT_EQ(Bytes(h8.begin(), h8.begin() + 18),
              (Bytes{0, 1, 9, 0, 0, 0, 1, 24, 0, 0, 0, 0, 0x2C, 0x01, 2, 0, 8, 0x20}));
    // 256 entries of blue, green, red.
    EXPECT_EQ(h8[18 + 3 * 5], 35);       // blue of entry 5
    EXPECT_EQ(h8[18 + 3 * 5 + 1], 250);  // green
    EXPECT_EQ(h8[18 + 3 * 5 + 2], 5);    // red

    TTargaGraphic rgb = MakePicture(pf24bit, 1, 1);
    rgb.SetIdentification("abc");
    const Bytes h24 = Save(rgb);
    EXPECT_EQ(Bytes(h24.begin(), h24.begin() + 21),
              (Bytes{3, 0, 10, 0, 0, 0, 1, 24, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0x20, 'a', 'b', 'c'}));

    const Bytes raw = Save(rgb, false);
    EXPECT_EQ(raw[2], 2);
    EXPECT_EQ(raw.size(), 18u + 3 + 3);
    TTargaGraphic rawIndexed = MakePicture(pf8bit, 2, 2);
    EXPECT_EQ(Save(rawIndexed, false)[2], 1);

    TTargaGraphic empty;
    empty.SetPixelFormat(pf24bit);
    EXPECT_TRUE(Save(empty).empty());
}

TEST(TargaWrite, OneAndFourBitPicturesAsk)
{
    const std::string question = "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?";
    TTargaGraphic mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(10, 2);
    mono.ScanLine(0)[0] = 0x80;
    {
        WarningRecorder cancel(false);
        TMemoryStream stream;
        mono.SaveStream(stream);
        EXPECT_EQ(stream.Size(), 0);
        ASSERT_EQ(WarningRecorder::asked, std::vector<std::string>{question});
        EXPECT_EQ(mono.PixelFormat(), pf1bit);
    }
    {
        WarningRecorder ok(true);
        const Bytes file = Save(mono);
        ASSERT_EQ(WarningRecorder::asked.size(), 1u);
        EXPECT_EQ(mono.PixelFormat(), pf8bit);  // the picture itself was converted
        EXPECT_EQ(file[2], 9);
        TTargaGraphic back = Load(file);
        EXPECT_EQ(Bgr(back, 0, 0), (std::array<uint8_t, 3>{255, 255, 255}));
        EXPECT_EQ(Bgr(back, 1, 0), (std::array<uint8_t, 3>{0, 0, 0}));
    }
    TTargaGraphic vga;
    vga.SetPixelFormat(pf4bit);
    vga.SetSize(3, 3);
    WarningRecorder ok(true);
    Save(vga);
    EXPECT_EQ(WarningRecorder::asked.size(), 1u);
    EXPECT_EQ(vga.PixelFormat(), pf8bit);
}

TEST(TargaWrite, RoundTripsKeepPixelsPaletteAndText)
{
    for (TPixelFormat format : {pf8bit, pf15bit, pf24bit, pf32bit}) {
        for (bool compressed : {true, false}) {
            SCOPED_TRACE(std::string(PixelFormatName(format)) + (compressed ? " packed" : " raw"));
            TTargaGraphic source = MakePicture(format, 131, 7);
            source.SetIdentification("Kavrel round trip");
            TTargaGraphic back = Load(Save(source, compressed));
            ExpectSamePicture(source, back);
            EXPECT_EQ(back.Identification(), "Kavrel round trip");
        }
    }
}

TEST(TargaWrite, LayoutsTheFileCannotHoldAreConverted)
{
    // 5-6-5 words are written as 5-5-5, so the colours survive (less green's lowest bit).
    TTargaGraphic wide;
    wide.SetPixelFormat(pf16bit);
    wide.SetSize(2, 1);
    const Bytes words = {0x00, 0xF8, 0xE0, 0x07};  // pure red, pure green
    std::memcpy(wide.ScanLine(0), words.data(), words.size());
    TTargaGraphic back = Load(Save(wide));
    EXPECT_EQ(back.PixelFormat(), pf15bit);
    EXPECT_EQ(Bgr(back, 0, 0), Bgr(wide, 0, 0));
    EXPECT_EQ(Bgr(back, 1, 0), Bgr(wide, 1, 0));

    // Device pixels carry an unused fourth byte; the file's fourth byte is alpha, written opaque.
    TTargaGraphic device;
    device.SetSize(1, 1);
    ASSERT_EQ(device.PixelFormat(), pfDevice);
    const Bytes bgrx = {10, 20, 30, 0};
    std::memcpy(device.ScanLine(0), bgrx.data(), 4);
    const Bytes file = Save(device, false);
    EXPECT_EQ(file[16], 32);
    EXPECT_EQ(Bytes(file.end() - 4, file.end()), (Bytes{10, 20, 30, 255}));
}

TEST(TargaWrite, FailingStreamsAndOversizePictures)
{
    // A stream that takes only the header.
    class TShortStream : public TMemoryStream {
    public:
        int64_t Write(const void* buffer, int64_t count) override
        {
            const int64_t room = std::max<int64_t>(0, 18 - Size());
            return TMemoryStream::Write(buffer, std::min(count, room));
        }
    } shortStream;
    TTargaGraphic g = MakePicture(pf24bit, 4, 4);
    try {
        g.SaveStream(shortStream);
        FAIL() << "a short write went unnoticed";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Targa: could not write image data");
    }

    TTargaGraphic tooWide;
    tooWide.SetPixelFormat(pf8bit);
    tooWide.SetSize(70000, 1);
    TMemoryStream stream;
    EXPECT_THROW(tooWide.SaveStream(stream), Exception);
    EXPECT_EQ(stream.Size(), 0);
}

// ---------------------------------------------------------------------------------------------
// Shared samples and an independent reader

TEST(TargaSamples, EverySampleRoundTrips)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir / "tga")) {
        if (entry.path().extension() == ".pam")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        TTargaGraphic first;
        try {
            first.LoadFile(entry.path().string());
        } catch (const Exception&) {
            continue;  // malformed samples have nothing to round-trip
        }
        TTargaGraphic back = Load(Save(first));
        ExpectSamePicture(first, back);
        EXPECT_EQ(back.Identification(), first.Identification());
        ++count;
    }
    EXPECT_GT(count, 0);
}

bool HaveImageMagick()
{
    return std::system("command -v convert >/dev/null 2>&1") == 0;
}

TEST(TargaWrite, ImageMagickReadsTheWrittenFiles)
{
    if (!HaveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const fs::path dir = fs::temp_directory_path() / ("kavrel-targa-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (TPixelFormat format : {pf8bit, pf15bit, pf24bit, pf32bit}) {
        for (bool compressed : {true, false}) {
            SCOPED_TRACE(std::string(PixelFormatName(format)) + (compressed ? " packed" : " raw"));
            TTargaGraphic source = MakePicture(format, 67, 9);
            if (format == pf32bit)
                for (int y = 0; y < 9; ++y)
                    for (int x = 0; x < 67; ++x)
                        source.ScanLine(y)[4 * x + 3] = 255;  // opaque, so that alpha does not blend
            source.SetIdentification("checked by ImageMagick");
            const fs::path tga = dir / "out.tga";
            const fs::path pam = dir / "out.pam";
            {
                TFileStream out(tga.string(), TFileStream::Mode::Create);
                source.SaveTarga(out, compressed);
            }
            const std::string command =
                "convert '" + tga.string() + "' -depth 8 -type TrueColor '" + pam.string() + "' 2>/dev/null";
            ASSERT_EQ(std::system(command.c_str()), 0);
            const RgbaImage theirs = ReadPam(pam);
            const RgbaImage ours = BitmapToRgba(source);
            ASSERT_EQ(theirs.width, ours.width);
            ASSERT_EQ(theirs.height, ours.height);
            // ImageMagick scales 5-bit channels where the framework repeats their top bits.
            const ImageDifference d = CompareRgb(theirs, ours, format == pf15bit ? 8 : 0);
            EXPECT_EQ(d.fractionOver, 0.0) << "max diff " << d.maxDiff;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
