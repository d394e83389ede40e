#include "codecs/TIFFGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"
#include "tests/support/ReferenceEncoders.h"
#include "tests/support/TestData.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

enum : uint16_t { BYTE = 1, ASCII = 2, SHORT = 3, LONG = 4, RATIONAL = 5 };

// Writes small TIFF files in either byte order: a header, one directory and the strips after it.
// Values that do not fit in an entry's four bytes are placed between the directory and the strips.
class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian = false)
        : bigEndian_(bigEndian)
    { }

    TiffBuilder& Tag(uint16_t tag, uint16_t type, std::vector<uint32_t> values)
    {
        tags_[tag] = { type, std::move(values) };
        return *this;
    }
    TiffBuilder& Short(uint16_t tag, std::vector<uint32_t> values) { return Tag(tag, SHORT, std::move(values)); }
    TiffBuilder& Long(uint16_t tag, std::vector<uint32_t> values) { return Tag(tag, LONG, std::move(values)); }
    TiffBuilder& Remove(uint16_t tag)
    {
        tags_.erase(tag);
        return *this;
    }

    // The usual tags of a strip image; StripOffsets and StripByteCounts come from Strips().
    TiffBuilder& Image(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples, uint32_t photometric)
    {
        Long(256, { width });
        Long(257, { height });
        Short(258, std::vector<uint32_t>(samples, bits));
        Short(262, { photometric });
        Short(277, { samples });
        return *this;
    }

    // The strips' data, their offsets and byte counts written as `type`.
    TiffBuilder& Strips(std::vector<Bytes> strips, uint16_t type = LONG)
    {
        strips_ = std::move(strips);
        std::vector<uint32_t> counts;
        for (const Bytes& s : strips_)
            counts.push_back(static_cast<uint32_t>(s.size()));
        Tag(273, type, std::vector<uint32_t>(strips_.size(), 0));
        Tag(279, type, counts);
        return *this;
    }
    TiffBuilder& Strip(Bytes data) { return Strips({ std::move(data) }); }

    // 16-bit sample values in the file's byte order.
    Bytes Words(const std::vector<uint16_t>& values) const
    {
        Bytes out;
        for (uint16_t v : values)
            PutValue(out, SHORT, v);
        return out;
    }

    Bytes Build() const
    {
        // Out-of-line values follow the directory, then the strips.
        auto tags = tags_;
        size_t outOfLine = 8 + 2 + 12 * tags.size() + 4;
        for (const auto& [tag, field] : tags)
            if (ValueBytes(field) > 4)
                outOfLine += (ValueBytes(field) + 1) & ~size_t { 1 };
        if (tags.count(273)) {
            size_t at = outOfLine;
            for (size_t i = 0; i < strips_.size(); ++i) {
                tags[273].values[i] = static_cast<uint32_t>(at);
                at += strips_[i].size();
            }
        }

        Bytes out;
        out.push_back(bigEndian_ ? 'M' : 'I');
        out.push_back(bigEndian_ ? 'M' : 'I');
        PutValue(out, SHORT, 42);
        PutValue(out, LONG, 8);
        PutValue(out, SHORT, static_cast<uint32_t>(tags.size()));
        Bytes extra;
        size_t extraAt = 8 + 2 + 12 * tags.size() + 4;
        for (const auto& [tag, field] : tags) {
            PutValue(out, SHORT, tag);
            PutValue(out, SHORT, field.type);
            PutValue(out, LONG, static_cast<uint32_t>(field.values.size()));
            Bytes value;
            for (uint32_t v : field.values)
                PutValue(value, field.type, v);
            if (value.size() <= 4) {
                value.resize(4, 0);
                out.insert(out.end(), value.begin(), value.end());
            } else {
                PutValue(out, LONG, static_cast<uint32_t>(extraAt + extra.size()));
                extra.insert(extra.end(), value.begin(), value.end());
                if (extra.size() % 2)
                    extra.push_back(0);
            }
        }
        PutValue(out, LONG, 0); // no next directory
        out.insert(out.end(), extra.begin(), extra.end());
        for (const Bytes& s : strips_)
            out.insert(out.end(), s.begin(), s.end());
        return out;
    }

private:
    struct Field {
        uint16_t type;
        std::vector<uint32_t> values;
    };

    static size_t TypeBytes(uint16_t type) { return type == SHORT ? 2 : type == LONG ? 4 : type == RATIONAL ? 8 : 1; }
    static size_t ValueBytes(const Field& f) { return TypeBytes(f.type) * f.values.size(); }

    void PutValue(Bytes& out, uint16_t type, uint32_t v) const
    {
        const size_t n = TypeBytes(type);
        for (size_t i = 0; i < n; ++i) {
            const size_t shift = 8 * (bigEndian_ ? n - 1 - i : i);
            out.push_back(shift < 32 ? static_cast<uint8_t>(v >> shift) : 0);
        }
    }

    bool bigEndian_;
    std::map<uint16_t, Field> tags_;
    std::vector<Bytes> strips_;
};

constexpr auto Load = LoadAs<TTIFFGraphic>;
constexpr auto LoadError = LoadErrorAs<TTIFFGraphic>;

// The picture as R, G, B, A, for comparing pictures whatever their layout.
Bytes Rgba(const TBitmap& bitmap)
{
    return BitmapToRgba(bitmap).pixels;
}

Bytes Lzw(const Bytes& data)
{
    return reference::LzwEncode(data, reference::TiffLzw());
}

Bytes PackBits(const Bytes& data)
{
    return reference::PackBitsEncode(data);
}

// ---------------------------------------------------------------------------------------------
// Grey and palette images

TEST(TIFFGraphicTest, EightBitGreyKeepsItsRowsWithAGreyRamp)
{
    const Bytes pixels = { 0, 10, 200, 255, 1, 2 };
    const TTIFFGraphic g = Load(TiffBuilder().Image(3, 2, 8, 1, 1).Strip(pixels).Build());
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    ASSERT_EQ(g.Width(), 3);
    ASSERT_EQ(g.Height(), 2);
    EXPECT_EQ(Row(g, 0), Bytes({ 0, 10, 200 }));
    EXPECT_EQ(Row(g, 1), Bytes({ 255, 1, 2 }));
    ASSERT_EQ(g.ColorTable().size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(g.ColorTable()[i], (TPaletteEntry { uint8_t(i), uint8_t(i), uint8_t(i), 0 })) << i;
}

TEST(TIFFGraphicTest, GreyRampsFollowThePhotometricInterpretation)
{
    struct Case {
        uint32_t bits;
        uint32_t photometric;
        std::vector<uint8_t> expected; // the grey of each entry
    };
    const Case cases[] = {
        { 1, 0, { 255, 0 } },
        { 1, 1, { 0, 255 } },
        { 4, 0, { 240, 224, 208, 192, 176, 160, 144, 128, 112, 96, 80, 64, 48, 32, 16, 0 } },
        { 4, 1, { 0, 16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, photometric " << c.photometric);
        const TTIFFGraphic g = Load(TiffBuilder().Image(8, 1, c.bits, 1, c.photometric).Strip(Bytes(8)).Build());
        EXPECT_EQ(g.PixelFormat(), c.bits == 1 ? pf1bit : pf4bit);
        ASSERT_EQ(g.ColorTable().size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(g.ColorTable()[i].peRed, c.expected[i]) << i;
    }
    const TTIFFGraphic white = Load(TiffBuilder().Image(1, 1, 8, 1, 0).Strip({ 7 }).Build());
    EXPECT_EQ(white.ColorTable()[0].peGreen, 255);
    EXPECT_EQ(white.ColorTable()[255].peGreen, 0);
    EXPECT_EQ(white.ColorTable()[7].peGreen, 248);
}

TEST(TIFFGraphicTest, PaletteImagesTakeTheHighBytesOfTheColourMap)
{
    for (const bool bigEndian : { false, true }) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        std::vector<uint32_t> map;
        for (int channel = 0; channel < 3; ++channel)
            for (uint32_t i = 0; i < 16; ++i)
                map.push_back((i * 16 + channel) << 8 | 0xFF); // low bytes that must not show
        TiffBuilder b(bigEndian);
        b.Image(4, 1, 4, 1, 3).Short(320, map).Strip({ 0x01, 0xEF });
        const TTIFFGraphic g = Load(b.Build());
        ASSERT_EQ(g.PixelFormat(), pf4bit);
        ASSERT_EQ(g.ColorTable().size(), 16u);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(
                g.ColorTable()[i], (TPaletteEntry { uint8_t(i * 16), uint8_t(i * 16 + 1), uint8_t(i * 16 + 2), 0 }));
        EXPECT_EQ(Row(g, 0), Bytes({ 0x01, 0xEF }));
    }
}

TEST(TIFFGraphicTest, SixteenBitGreyShowsTheHighByteInEitherByteOrder)
{
    const std::vector<uint16_t> samples = { 0x12AB, 0xFF01, 0x0080, 0x8000 };
    for (const bool bigEndian : { false, true }) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        TiffBuilder b(bigEndian);
        b.Image(4, 1, 16, 1, 1).Strip(b.Words(samples));
        const TTIFFGraphic g = Load(b.Build());
        ASSERT_EQ(g.PixelFormat(), pf8bit);
        EXPECT_EQ(Row(g, 0), Bytes({ 0x12, 0xFF, 0x00, 0x80 }));
        EXPECT_EQ(g.ColorTable().size(), 256u);
    }
}

TEST(TIFFGraphicTest, TwoBitImagesAreWidenedToFourBitIndices)
{
    // Pixels 0, 1, 2, 3, 3 (then padding) in two bytes.
    const Bytes data = { 0x1B, 0xC0 };
    const TTIFFGraphic grey = Load(TiffBuilder().Image(5, 1, 2, 1, 1).Strip(data).Build());
    ASSERT_EQ(grey.PixelFormat(), pf4bit);
    EXPECT_EQ(Row(grey, 0), Bytes({ 0x01, 0x23, 0x30 }));
    ASSERT_EQ(grey.ColorTable().size(), 4u);
    EXPECT_EQ(grey.ColorTable()[1].peRed, 85);
    EXPECT_EQ(grey.ColorTable()[3].peRed, 255);

    const TTIFFGraphic inverted = Load(TiffBuilder().Image(5, 1, 2, 1, 0).Strip(data).Build());
    EXPECT_EQ(inverted.ColorTable()[0].peRed, 255);
    EXPECT_EQ(inverted.ColorTable()[3].peRed, 0);

    const std::vector<uint32_t> map
        = { 0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000, 0x7000, 0x8000, 0x9000, 0xA000, 0xB000, 0xC000 };
    const TTIFFGraphic palette = Load(TiffBuilder(true).Image(5, 1, 2, 1, 3).Short(320, map).Strip(data).Build());
    ASSERT_EQ(palette.ColorTable().size(), 4u);
    EXPECT_EQ(palette.ColorTable()[2], (TPaletteEntry { 0x30, 0x70, 0xB0, 0 }));
    EXPECT_EQ(Row(palette, 0), Bytes({ 0x01, 0x23, 0x30 }));
}

TEST(TIFFGraphicTest, ExtraSamplesOfGreyAndPaletteImagesAreDropped)
{
    // Each pixel: the grey sample, then an alpha sample that must not show.
    const TTIFFGraphic one
        = Load(TiffBuilder().Image(5, 1, 1, 2, 1).Short(338, { 2 }).Strip({ 0b10011110, 0b01000000 }).Build());
    ASSERT_EQ(one.PixelFormat(), pf1bit);
    EXPECT_EQ(Row(one, 0), Bytes({ 0b10110000 }));

    const TTIFFGraphic four
        = Load(TiffBuilder().Image(3, 1, 4, 2, 1).Short(338, { 2 }).Strip({ 0x5F, 0xAF, 0x30 }).Build());
    ASSERT_EQ(four.PixelFormat(), pf4bit);
    EXPECT_EQ(Row(four, 0), Bytes({ 0x5A, 0x30 }));

    const TTIFFGraphic eight
        = Load(TiffBuilder().Image(3, 1, 8, 2, 1).Short(338, { 1 }).Strip({ 10, 255, 20, 0, 30, 7 }).Build());
    ASSERT_EQ(eight.PixelFormat(), pf8bit);
    EXPECT_EQ(Row(eight, 0), Bytes({ 10, 20, 30 }));

    TiffBuilder b16(true);
    b16.Image(2, 1, 16, 2, 1).Short(338, { 1 }).Strip(b16.Words({ 0x1234, 0xFFFF, 0xAB00, 0x0000 }));
    const TTIFFGraphic sixteen = Load(b16.Build());
    ASSERT_EQ(sixteen.PixelFormat(), pf8bit);
    EXPECT_EQ(Row(sixteen, 0), Bytes({ 0x12, 0xAB }));

    std::vector<uint32_t> map(3 * 256, 0);
    map[9] = 0xFF00; // red of entry 9
    const TTIFFGraphic palette
        = Load(TiffBuilder().Image(2, 1, 8, 2, 3).Short(338, { 2 }).Short(320, map).Strip({ 9, 1, 3, 2 }).Build());
    EXPECT_EQ(Row(palette, 0), Bytes({ 9, 3 }));
    EXPECT_EQ(palette.ColorTable()[9].peRed, 255);
}

// ---------------------------------------------------------------------------------------------
// Colour images

TEST(TIFFGraphicTest, RgbBecomesBlueGreenRedAndAnExtraSampleBecomesAlpha)
{
    const TTIFFGraphic rgb = Load(TiffBuilder().Image(2, 1, 8, 3, 2).Strip({ 1, 2, 3, 4, 5, 6 }).Build());
    ASSERT_EQ(rgb.PixelFormat(), pf24bit);
    EXPECT_EQ(Row(rgb, 0), Bytes({ 3, 2, 1, 6, 5, 4 }));

    const TTIFFGraphic rgba
        = Load(TiffBuilder().Image(2, 1, 8, 4, 2).Short(338, { 2 }).Strip({ 1, 2, 3, 4, 5, 6, 7, 8 }).Build());
    ASSERT_EQ(rgba.PixelFormat(), pf32bit);
    EXPECT_EQ(Row(rgba, 0), Bytes({ 3, 2, 1, 4, 7, 6, 5, 8 }));

    // Four samples without ExtraSamples are taken as red, green, blue, alpha as well.
    const TTIFFGraphic four = Load(TiffBuilder().Image(1, 1, 8, 4, 2).Strip({ 1, 2, 3, 4 }).Build());
    ASSERT_EQ(four.PixelFormat(), pf32bit);
    EXPECT_EQ(Row(four, 0), Bytes({ 3, 2, 1, 4 }));

    // A second extra sample is dropped, the first stays the alpha.
    const TTIFFGraphic five = Load(
        TiffBuilder().Image(2, 1, 8, 5, 2).Short(338, { 2, 0 }).Strip({ 1, 2, 3, 4, 99, 5, 6, 7, 8, 99 }).Build());
    ASSERT_EQ(five.PixelFormat(), pf32bit);
    EXPECT_EQ(Row(five, 0), Bytes({ 3, 2, 1, 4, 7, 6, 5, 8 }));
}

TEST(TIFFGraphicTest, SixteenBitRgbTakesTheTrueHighByteInEitherByteOrder)
{
    for (const bool bigEndian : { false, true }) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        TiffBuilder b(bigEndian);
        b.Image(2, 1, 16, 3, 2).Strip(b.Words({ 0x0102, 0x0304, 0x0506, 0xF0FF, 0xE0FF, 0xD0FF }));
        const TTIFFGraphic g = Load(b.Build());
        ASSERT_EQ(g.PixelFormat(), pf24bit);
        EXPECT_EQ(Row(g, 0), Bytes({ 0x05, 0x03, 0x01, 0xD0, 0xE0, 0xF0 }));
    }
}

TEST(TIFFGraphicTest, CmykBecomesRgb)
{
    const Bytes cmyk = { 0, 0, 0, 0, 10, 20, 30, 255, 255, 0, 0, 0, 0, 255, 0, 0 };
    const TTIFFGraphic g = Load(TiffBuilder(true).Image(4, 1, 8, 4, 5).Strip(cmyk).Build());
    ASSERT_EQ(g.PixelFormat(), pf24bit);
    EXPECT_EQ(Row(g, 0), Bytes({ 255, 255, 255, 0, 0, 0, 255, 255, 0, 255, 0, 255 }));

    // The same pixels in 16 bits, in both byte orders.
    for (const bool bigEndian : { false, true }) {
        TiffBuilder b(bigEndian);
        std::vector<uint16_t> words;
        for (uint8_t v : cmyk)
            words.push_back(static_cast<uint16_t>(v * 257));
        b.Image(4, 1, 16, 4, 5).Strip(b.Words(words));
        EXPECT_EQ(Row(Load(b.Build()), 0), Row(g, 0)) << (bigEndian ? "MM" : "II");
    }
}

TEST(TIFFGraphicTest, LabBecomesRgbFromEightOrSixteenBitSamples)
{
    // Black, white, and a saturated colour (a* and b* signed).
    const Bytes lab = { 0, 0, 0, 255, 0, 0, 128, 80, 80 };
    const TTIFFGraphic g = Load(TiffBuilder().Image(3, 1, 8, 3, 8).Strip(lab).Build());
    ASSERT_EQ(g.PixelFormat(), pf24bit);
    const Bytes row = Row(g, 0);
    EXPECT_EQ(Bytes(row.begin(), row.begin() + 6), Bytes({ 0, 0, 0, 255, 255, 255 }));
    EXPECT_GT(row[8], row[7] + 100); // a* and b* both positive: far more red than green or blue
    EXPECT_GT(row[8], row[6] + 100);

    for (const bool bigEndian : { false, true }) {
        TiffBuilder b(bigEndian);
        std::vector<uint16_t> words;
        for (uint8_t v : lab)
            words.push_back(static_cast<uint16_t>(v << 8 | 0x7F));
        b.Image(3, 1, 16, 3, 8).Strip(b.Words(words));
        EXPECT_EQ(Row(Load(b.Build()), 0), row) << (bigEndian ? "MM" : "II");
    }
}

TEST(TIFFGraphicTest, YCbCrSamplesAreShownAsStored)
{
    const TTIFFGraphic g = Load(TiffBuilder().Image(2, 1, 8, 3, 6).Strip({ 1, 2, 3, 4, 5, 6 }).Build());
    ASSERT_EQ(g.PixelFormat(), pf24bit);
    EXPECT_EQ(Row(g, 0), Bytes({ 1, 2, 3, 4, 5, 6 }));
}

TEST(TIFFGraphicTest, BigEndianFilesReadLikeTheirLittleEndianTwins)
{
    struct Case {
        const char* name;
        uint32_t bits, samples, photometric;
    };
    const Case cases[] = { { "grey 1", 1, 1, 0 }, { "grey 4", 4, 1, 1 }, { "grey 8", 8, 1, 1 }, { "grey 16", 16, 1, 1 },
        { "rgb 8", 8, 3, 2 }, { "rgb 16", 16, 3, 2 }, { "rgba 8", 8, 4, 2 }, { "cmyk 8", 8, 4, 5 },
        { "palette 8", 8, 1, 3 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t width = 5, height = 3;
        const size_t bytes = (width * c.bits * c.samples + 7) / 8 * height;
        std::vector<uint16_t> samples(bytes / 2 + 1);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>(i * 7919 + 13);
        std::vector<uint32_t> map(3u << c.bits);
        for (size_t i = 0; i < map.size() && c.photometric == 3; ++i)
            map[i] = static_cast<uint32_t>(i * 251);
        std::vector<Bytes> twins;
        for (const bool bigEndian : { false, true }) {
            TiffBuilder b(bigEndian);
            b.Image(width, height, c.bits, c.samples, c.photometric).Short(278, { 2 });
            if (c.photometric == 3)
                b.Short(320, map);
            Bytes data = b.Words(samples);
            if (c.bits != 16) {
                // Byte samples are the same in both orders.
                data.clear();
                for (size_t i = 0; i < samples.size() * 2; ++i)
                    data.push_back(static_cast<uint8_t>(i * 37 + 5));
            }
            data.resize(bytes);
            const size_t firstStrip = bytes / height * 2;
            b.Strips({ Bytes(data.begin(), data.begin() + firstStrip), Bytes(data.begin() + firstStrip, data.end()) });
            twins.push_back(b.Build());
        }
        const TTIFFGraphic little = Load(twins[0]);
        const TTIFFGraphic big = Load(twins[1]);
        EXPECT_EQ(big.PixelFormat(), little.PixelFormat());
        EXPECT_EQ(big.ColorTable(), little.ColorTable());
        EXPECT_EQ(Rgba(big), Rgba(little));
    }
}

// ---------------------------------------------------------------------------------------------
// Horizontal differencing

TEST(TIFFGraphicTest, PredictorAddsEachSampleToTheSameSampleOfThePreviousPixel)
{
    // Eight-bit RGB: the channels are summed separately, the first pixel stays as stored.
    const TTIFFGraphic rgb
        = Load(TiffBuilder().Image(3, 1, 8, 3, 2).Short(317, { 2 }).Strip({ 10, 20, 30, 1, 2, 3, 255, 1, 0 }).Build());
    EXPECT_EQ(Row(rgb, 0), Bytes({ 30, 20, 10, 33, 22, 11, 33, 23, 10 }));

    const TTIFFGraphic grey = Load(TiffBuilder().Image(4, 1, 8, 1, 1).Short(317, { 2 }).Strip({ 10, 1, 1, 1 }).Build());
    EXPECT_EQ(Row(grey, 0), Bytes({ 10, 11, 12, 13 }));

    // Grey with alpha: each of the two samples has its own sum.
    const TTIFFGraphic greyAlpha = Load(
        TiffBuilder().Image(3, 1, 8, 2, 1).Short(338, { 1 }).Short(317, { 2 }).Strip({ 10, 100, 5, 1, 5, 1 }).Build());
    EXPECT_EQ(Row(greyAlpha, 0), Bytes({ 10, 15, 20 }));

    const TTIFFGraphic rgba = Load(TiffBuilder()
                                       .Image(2, 1, 8, 4, 2)
                                       .Short(338, { 2 })
                                       .Short(317, { 2 })
                                       .Strip({ 1, 2, 3, 4, 1, 1, 1, 1 })
                                       .Build());
    EXPECT_EQ(Row(rgba, 0), Bytes({ 3, 2, 1, 4, 4, 3, 2, 5 }));
}

TEST(TIFFGraphicTest, PredictorWorksOnSixteenBitValuesInEitherByteOrder)
{
    for (const bool bigEndian : { false, true }) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        // 0x00FF + 0x0001 carries into the high byte; 0xFFFF + 0x0002 wraps round.
        TiffBuilder grey(bigEndian);
        grey.Image(3, 1, 16, 1, 1).Short(317, { 2 }).Strip(grey.Words({ 0x00FF, 0x0001, 0xFFFF }));
        EXPECT_EQ(Row(Load(grey.Build()), 0), Bytes({ 0x00, 0x01, 0x00 }));

        TiffBuilder rgb(bigEndian);
        rgb.Image(2, 1, 16, 3, 2)
            .Short(317, { 2 })
            .Strip(rgb.Words({ 0x10FF, 0x2000, 0x3000, 0x0001, 0x0100, 0xF000 }));
        EXPECT_EQ(Row(Load(rgb.Build()), 0), Bytes({ 0x30, 0x20, 0x10, 0x20, 0x21, 0x11 }));
    }
}

// ---------------------------------------------------------------------------------------------
// Strips

TEST(TIFFGraphicTest, RowsArePlacedStripAfterStrip)
{
    // Five rows in strips of 2, 1, 1, 1 rows: RowsPerStrip lists two values for four strips,
    // and its last value serves the strips beyond the table.
    const TTIFFGraphic g = Load(TiffBuilder()
                                    .Image(2, 5, 8, 1, 1)
                                    .Long(278, { 2, 1 })
                                    .Strips({ { 1, 1, 2, 2 }, { 3, 3 }, { 4, 4 }, { 5, 5 } })
                                    .Build());
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(Row(g, y), Bytes(2, static_cast<uint8_t>(y + 1))) << y;
}

TEST(TIFFGraphicTest, ASingleStripHoldsEveryRowWhateverRowsPerStripSays)
{
    const TTIFFGraphic g
        = Load(TiffBuilder().Image(2, 3, 8, 1, 1).Long(278, { 1 }).Strip({ 1, 1, 2, 2, 3, 3 }).Build());
    EXPECT_EQ(Row(g, 2), Bytes({ 3, 3 }));
}

TEST(TIFFGraphicTest, SeveralStripsWithoutRowsPerStripTakeTheFirstStripForTheWholeImage)
{
    const TTIFFGraphic g = Load(TiffBuilder().Image(2, 3, 8, 1, 1).Strips({ { 1, 1, 2, 2, 3, 3 }, { 9, 9 } }).Build());
    EXPECT_EQ(Row(g, 0), Bytes({ 1, 1 }));
    EXPECT_EQ(Row(g, 2), Bytes({ 3, 3 }));
}

TEST(TIFFGraphicTest, StripTablesAreReadByTheirType)
{
    // Two SHORT offsets fit in the entry itself; three are stored elsewhere.
    for (const bool bigEndian : { false, true }) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        const TTIFFGraphic two = Load(TiffBuilder(bigEndian)
                                          .Image(2, 2, 8, 1, 1)
                                          .Short(278, { 1 })
                                          .Strips({ { 1, 2 }, { 3, 4 } }, SHORT)
                                          .Build());
        EXPECT_EQ(Row(two, 1), Bytes({ 3, 4 }));
        const TTIFFGraphic three = Load(TiffBuilder(bigEndian)
                                            .Image(2, 3, 8, 1, 1)
                                            .Short(278, { 1 })
                                            .Strips({ { 1, 2 }, { 3, 4 }, { 5, 6 } }, SHORT)
                                            .Build());
        EXPECT_EQ(Row(three, 1), Bytes({ 3, 4 }));
        EXPECT_EQ(Row(three, 2), Bytes({ 5, 6 }));
    }
}

TEST(TIFFGraphicTest, LzwAndPackBitsStripsAreDecoded)
{
    Bytes pixels(40 * 7 * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i % 3 == 0 ? 200 : i * 13);
    const TTIFFGraphic plain = Load(TiffBuilder().Image(40, 7, 8, 3, 2).Strip(pixels).Build());

    const size_t half = 40 * 4 * 3; // four rows, then three
    const Bytes top(pixels.begin(), pixels.begin() + half), bottom(pixels.begin() + half, pixels.end());
    for (const bool bigEndian : { false, true }) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        const TTIFFGraphic lzw = Load(TiffBuilder(bigEndian)
                                          .Image(40, 7, 8, 3, 2)
                                          .Short(259, { 5 })
                                          .Short(278, { 4 })
                                          .Strips({ Lzw(top), Lzw(bottom) })
                                          .Build());
        EXPECT_EQ(Rgba(lzw), Rgba(plain));
        const TTIFFGraphic packBits = Load(TiffBuilder(bigEndian)
                                               .Image(40, 7, 8, 3, 2)
                                               .Short(259, { 32773 })
                                               .Short(278, { 4 })
                                               .Strips({ PackBits(top), PackBits(bottom) })
                                               .Build());
        EXPECT_EQ(Rgba(packBits), Rgba(plain));
        // Without StripByteCounts each strip runs to the next one, the last to the end of the file.
        for (const uint32_t compression : { 5u, 32773u }) {
            const auto pack = compression == 5 ? Lzw : PackBits;
            const TTIFFGraphic uncounted = Load(TiffBuilder(bigEndian)
                                                    .Image(40, 7, 8, 3, 2)
                                                    .Short(259, { compression })
                                                    .Short(278, { 4 })
                                                    .Strips({ pack(top), pack(bottom) })
                                                    .Remove(279)
                                                    .Build());
            EXPECT_EQ(Rgba(uncounted), Rgba(plain)) << compression;
        }
    }

    // LZW with differencing: the codes carry the differences.
    Bytes differences = pixels;
    for (size_t y = 0; y < 7; ++y)
        for (size_t i = 40 * 3 - 1; i >= 3; --i)
            differences[y * 120 + i] = static_cast<uint8_t>(pixels[y * 120 + i] - pixels[y * 120 + i - 3]);
    const TTIFFGraphic predicted
        = Load(TiffBuilder().Image(40, 7, 8, 3, 2).Short(259, { 5 }).Short(317, { 2 }).Strip(Lzw(differences)).Build());
    EXPECT_EQ(Rgba(predicted), Rgba(plain));
}

// ---------------------------------------------------------------------------------------------
// Missing data

TEST(TIFFGraphicTest, StripDataCutShortLeavesZeroSamples)
{
    // Uncompressed: two and a half rows of four are there.
    const Bytes full = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 };
    Bytes file = TiffBuilder().Image(4, 4, 8, 1, 1).Strip(full).Build();
    file.resize(file.size() - 6);
    const TTIFFGraphic grey = Load(file);
    EXPECT_EQ(Row(grey, 1), Bytes({ 5, 6, 7, 8 }));
    EXPECT_EQ(Row(grey, 2), Bytes({ 9, 10, 0, 0 }));
    EXPECT_EQ(Row(grey, 3), Bytes({ 0, 0, 0, 0 }));

    // Zero CMYK samples are white, not the bitmap's black.
    Bytes cmyk = TiffBuilder().Image(2, 2, 8, 4, 5).Strip(Bytes(16, 255)).Build();
    cmyk.resize(cmyk.size() - 12);
    const TTIFFGraphic separated = Load(cmyk);
    EXPECT_EQ(Row(separated, 0), Bytes({ 0, 0, 0, 255, 255, 255 }));
    EXPECT_EQ(Row(separated, 1), Bytes(6, 255));

    // LZW data that end early: the rows they do not reach are zero. Sixteen different bytes are
    // sixteen 9-bit codes after the Clear code, so ten bytes hold seven of them.
    Bytes lzw = Lzw(full);
    lzw.resize(10);
    const TTIFFGraphic packed = Load(TiffBuilder().Image(4, 4, 8, 1, 1).Short(259, { 5 }).Strip(lzw).Build());
    EXPECT_EQ(Row(packed, 0), Bytes({ 1, 2, 3, 4 }));
    EXPECT_EQ(Row(packed, 1), Bytes({ 5, 6, 7, 0 }));
    EXPECT_EQ(Row(packed, 3), Bytes(4, 0));

    // A strip that starts beyond the end of the file.
    TiffBuilder far;
    far.Image(2, 2, 8, 1, 1).Short(278, { 1 }).Strips({ { 1, 2 }, { 3, 4 } });
    Bytes farFile = far.Build();
    farFile.resize(farFile.size() - 2);
    const TTIFFGraphic half = Load(farFile);
    EXPECT_EQ(Row(half, 0), Bytes({ 1, 2 }));
    EXPECT_EQ(Row(half, 1), Bytes({ 0, 0 }));
}

TEST(TIFFGraphicTest, EveryTruncationLoadsOrFailsCleanly)
{
    std::vector<uint32_t> map(3 * 16, 0x8000);
    TiffBuilder lzwRgb16(true);
    lzwRgb16.Image(6, 5, 16, 3, 2).Short(259, { 5 }).Short(317, { 2 }).Short(278, { 2 });
    Bytes samples(6 * 2 * 3 * 2, 0x35);
    lzwRgb16.Strips({ Lzw(samples), Lzw(samples), Lzw(Bytes(36, 1)) });
    const Bytes files[] = {
        lzwRgb16.Build(),
        TiffBuilder()
            .Image(7, 3, 4, 1, 3)
            .Short(320, map)
            .Short(259, { 32773 })
            .Strip(PackBits(Bytes(12, 0x21)))
            .Build(),
        TiffBuilder()
            .Image(3, 3, 2, 2, 1)
            .Short(338, { 1 })
            .Short(278, { 1 })
            .Strips({ { 1, 2 }, { 3, 4 }, { 5, 6 } }, SHORT)
            .Build(),
    };
    for (const Bytes& file : files) {
        ASSERT_NE(LoadError(file), "");
        EXPECT_EQ(LoadError(file), "loaded");
        for (size_t n = 0; n < file.size(); ++n) {
            const Bytes prefix(file.begin(), file.begin() + n);
            EXPECT_NE(LoadError(prefix), "") << n; // an Exception with a message, or a clean load
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST(TIFFGraphicTest, MalformedAndUnsupportedFilesFailWithTheirMessages)
{
    const auto grey = [] { return TiffBuilder().Image(2, 1, 8, 1, 1).Strip({ 1, 2 }); };
    Bytes badVersion = grey().Build();
    badVersion[2] = 43;
    EXPECT_EQ(LoadError(badVersion), "Invalid TIFF file.");
    EXPECT_EQ(LoadError(grey().Remove(256).Build()), "Invalid TIFF file.");
    EXPECT_EQ(LoadError(grey().Long(257, { 0 }).Build()), "Invalid TIFF file.");
    EXPECT_EQ(LoadError(grey().Remove(273).Build()), "Invalid TIFF file.");
    EXPECT_EQ(
        LoadError(TiffBuilder().Image(2, 1, 8, 1, 3).Strip({ 1, 2 }).Build()), "Invalid TIFF file."); // no colour map
    for (const uint32_t compression : { 2u, 6u, 7u, 8u, 32946u })
        EXPECT_EQ(LoadError(grey().Short(259, { compression }).Build()), "TIFF: Unknown compression scheme")
            << compression;

    EXPECT_EQ(LoadError(grey().Remove(273).Remove(279).Long(322, { 16 }).Long(324, { 8 }).Build()),
        "TIFF: Tiled images are not supported");
    EXPECT_EQ(LoadError(TiffBuilder().Image(1, 1, 8, 3, 2).Short(284, { 2 }).Strips({ { 1 }, { 2 }, { 3 } }).Build()),
        "TIFF: Planar images are not supported");
    for (const uint32_t bits : { 3u, 6u, 12u, 24u, 32u })
        EXPECT_EQ(
            LoadError(TiffBuilder().Image(2, 1, bits, 1, 1).Strip(Bytes(8)).Build()), "TIFF: Unsupported bit depth");
    EXPECT_EQ(LoadError(TiffBuilder().Image(2, 1, 4, 3, 2).Strip(Bytes(3)).Build()), "TIFF: Unsupported bit depth");
    EXPECT_EQ(LoadError(TiffBuilder().Image(2, 1, 16, 1, 3).Short(320, { 0 }).Strip(Bytes(4)).Build()),
        "TIFF: Unsupported bit depth");
    EXPECT_EQ(LoadError(TiffBuilder().Image(2, 1, 8, 2, 1).Strip(Bytes(4)).Build()), "TIFF: Unsupported colour model");
    EXPECT_EQ(LoadError(TiffBuilder().Image(2, 1, 8, 3, 1).Strip(Bytes(6)).Build()), "TIFF: Unsupported colour model");
    EXPECT_EQ(LoadError(TiffBuilder().Image(2, 1, 8, 4, 6).Strip(Bytes(8)).Build()), "TIFF: Unsupported colour model");
    EXPECT_EQ(LoadError(TiffBuilder().Image(8, 1, 1, 1, 1).Short(317, { 2 }).Strip(Bytes(1)).Build()),
        "TIFF: Unsupported predictor");

    // Tables and the colour map cut short are the stream's read error.
    Bytes cutDirectory = grey().Build();
    cutDirectory.resize(20);
    EXPECT_EQ(LoadError(cutDirectory), "Stream read error");
    EXPECT_EQ(LoadError(Bytes { 'I', 'I', 42 }), "Stream read error");
}

TEST(TIFFGraphicTest, DeclaredSizesBeyondTheDataFailBeforeAllocating)
{
    // No strips at all.
    EXPECT_EQ(LoadError(TiffBuilder().Image(2, 1, 8, 1, 1).Tag(273, LONG, {}).Build()), "Invalid TIFF file.");

    // Four thousand million strips, whose table would lie far beyond the end of the file.
    Bytes file = TiffBuilder().Image(2, 1, 8, 1, 1).Short(278, { 1 }).Strips({ { 1 }, { 2 } }).Build();
    size_t entry = 10;
    while (file[entry] != (273 & 0xFF) || file[entry + 1] != 273 >> 8)
        entry += 12;
    std::fill(file.begin() + entry + 4, file.begin() + entry + 8, 0xFF);
    EXPECT_EQ(LoadError(file), "Stream read error");

    // A width and height whose picture is far beyond the bitmap's limit.
    EXPECT_NE(LoadError(TiffBuilder().Image(0x7FFFFFFF, 0x7FFFFFFF, 8, 3, 2).Strip({ 1 }).Build()), "loaded");
    EXPECT_NE(LoadError(TiffBuilder().Image(0xFFFFFFFF, 1, 8, 1, 1).Strip({ 1 }).Build()), "loaded");

    // A grey image with 65534 extra samples: a small bitmap, but rows of 131 million bytes.
    const Bytes manySamples = TiffBuilder()
                                  .Long(256, { 1000 })
                                  .Long(257, { 1000 })
                                  .Short(258, { 16 })
                                  .Short(262, { 1 })
                                  .Short(277, { 65535 })
                                  .Short(338, std::vector<uint32_t>(65534, 0))
                                  .Strip({ 1 })
                                  .Build();
    EXPECT_EQ(LoadError(manySamples), "TIFF: Image too large");

    // Huge RowsPerStrip and byte counts are bounded by the data that are there: the first strip
    // holds both rows and its packed data run to the end of the file.
    const TTIFFGraphic g = Load(TiffBuilder()
                                    .Image(2, 2, 8, 1, 1)
                                    .Long(278, { 0xFFFFFFFF })
                                    .Short(259, { 32773 })
                                    .Strips({ { 0x01, 5, 6 }, { 0xFF, 7 } })
                                    .Long(279, { 0xFFFFFFFF, 0xFFFFFFFF })
                                    .Build());
    EXPECT_EQ(Row(g, 0), Bytes({ 5, 6 }));
    EXPECT_EQ(Row(g, 1), Bytes({ 7, 7 }));
}

// ---------------------------------------------------------------------------------------------
// The directory and the stream

TEST(TIFFGraphicTest, ReadsFromTheStreamPositionAndFindsTagsOutOfOrder)
{
    Bytes file = TiffBuilder(true).Image(2, 1, 8, 1, 1).Strip({ 4, 5 }).Build();
    // Swap the first two entries (ImageWidth, ImageLength): the directory is no longer sorted.
    std::swap_ranges(file.begin() + 10, file.begin() + 22, file.begin() + 22);
    Bytes embedded = { 'j', 'u', 'n', 'k' };
    embedded.insert(embedded.end(), file.begin(), file.end());
    TMemoryStream stream(embedded);
    stream.SetPosition(4);
    TTIFFGraphic g;
    g.LoadStream(stream);
    EXPECT_EQ(g.Width(), 2);
    EXPECT_EQ(Row(g, 0), Bytes({ 4, 5 }));
}

TEST(TIFFGraphicTest, SavingWritesNothingAndLoadingReplacesThePicture)
{
    TTIFFGraphic g;
    EXPECT_EQ(g.PixelFormat(), pf24bit);
    TMemoryStream rgb(TiffBuilder().Image(2, 2, 8, 3, 2).Strip(Bytes(12, 9)).Build());
    g.LoadStream(rgb);
    TMemoryStream out;
    g.SaveStream(out);
    EXPECT_EQ(out.Size(), 0);

    TMemoryStream grey(TiffBuilder().Image(1, 1, 1, 1, 1).Strip({ 0x80 }).Build());
    g.LoadStream(grey);
    EXPECT_EQ(g.PixelFormat(), pf1bit);
    EXPECT_EQ(g.Width(), 1);
    EXPECT_EQ(g.ColorTable().size(), 2u);
}

} // namespace
