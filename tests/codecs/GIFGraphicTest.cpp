#include "codecs/GIFGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"
#include "tests/support/ReferenceEncoders.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The n of a colour table of 2 shl n entries (given as red, green, blue bytes).
uint8_t TableBits(const Bytes& table)
{
    uint8_t n = 0;
    while ((2u << n) * 3 < table.size())
        ++n;
    return n;
}

void PutWord(Bytes& out, int v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// How an image block is written.
struct ImageOptions {
    bool interlaced = false;
    Bytes localTable;
    int codeSize = 8;
    size_t blockSize = 255;

    ImageOptions& Interlaced()
    {
        interlaced = true;
        return *this;
    }
    ImageOptions& LocalTable(Bytes table)
    {
        localTable = std::move(table);
        return *this;
    }
    ImageOptions& CodeSize(int n)
    {
        codeSize = n;
        return *this;
    }
    ImageOptions& BlockSize(size_t n)
    {
        blockSize = n;
        return *this;
    }
};

// Writes GIF files block by block.
class GifBuilder {
public:
    GifBuilder& Header(const std::string& signature, int width, int height, const Bytes& globalTable = {})
    {
        bytes_.insert(bytes_.end(), signature.begin(), signature.end());
        PutWord(bytes_, width);
        PutWord(bytes_, height);
        bytes_.push_back(globalTable.empty() ? 0 : static_cast<uint8_t>(0x80 | TableBits(globalTable)));
        bytes_.push_back(0); // background
        bytes_.push_back(0); // aspect ratio
        bytes_.insert(bytes_.end(), globalTable.begin(), globalTable.end());
        return *this;
    }

    GifBuilder& Extension(uint8_t label, const std::vector<Bytes>& blocks)
    {
        bytes_.push_back(0x21);
        bytes_.push_back(label);
        for (const Bytes& block : blocks) {
            bytes_.push_back(static_cast<uint8_t>(block.size()));
            bytes_.insert(bytes_.end(), block.begin(), block.end());
        }
        bytes_.push_back(0);
        return *this;
    }

    // An image descriptor whose size fields are `width` and `height`, with `indices` as its pixels.
    GifBuilder& Image(int width, int height, const Bytes& indices, const ImageOptions& options = ImageOptions())
    {
        bytes_.push_back(0x2C);
        PutWord(bytes_, 0);
        PutWord(bytes_, 0);
        PutWord(bytes_, width);
        PutWord(bytes_, height);
        uint8_t flags = options.interlaced ? 0x40 : 0;
        if (!options.localTable.empty())
            flags |= 0x80 | TableBits(options.localTable);
        bytes_.push_back(flags);
        bytes_.insert(bytes_.end(), options.localTable.begin(), options.localTable.end());
        bytes_.push_back(static_cast<uint8_t>(options.codeSize));
        const Bytes data = reference::LzwEncode(indices, reference::GifLzw(options.codeSize));
        for (size_t at = 0; at < data.size(); at += options.blockSize) {
            const size_t n = std::min(options.blockSize, data.size() - at);
            bytes_.push_back(static_cast<uint8_t>(n));
            bytes_.insert(bytes_.end(), data.begin() + at, data.begin() + at + n);
        }
        bytes_.push_back(0);
        return *this;
    }

    GifBuilder& Raw(const Bytes& bytes)
    {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    GifBuilder& Trailer() { return Raw({ 0x3B }); }
    Bytes Build() const { return bytes_; }

private:
    Bytes bytes_;
};

ImageOptions With()
{
    return {};
}

constexpr auto Load = LoadAs<TGIFGraphic>;
constexpr auto LoadError = LoadErrorAs<TGIFGraphic>;

Bytes Ramp(size_t count, int modulo)
{
    Bytes out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(i % modulo);
    return out;
}

const Bytes kFourColours = { 255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7 };

TEST(GIFGraphicTest, ReadsTheFirstImageWithTheGlobalColourTable)
{
    const Bytes pixels = Ramp(5 * 3, 4);
    const TGIFGraphic g = Load(GifBuilder()
                                   .Header("GIF89a", 5, 3, kFourColours)
                                   .Image(5, 3, pixels, With().CodeSize(2))
                                   .Image(5, 3, Bytes(15, 1), With().CodeSize(2))
                                   .Trailer()
                                   .Build());
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    ASSERT_EQ(g.Width(), 5);
    ASSERT_EQ(g.Height(), 3);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(Row(g, y), Bytes(pixels.begin() + 5 * y, pixels.begin() + 5 * y + 5)) << y;
    ASSERT_EQ(g.ColorTable().size(), 4u);
    EXPECT_EQ(g.ColorTable()[3], (TPaletteEntry { 9, 8, 7, 0 }));
    EXPECT_EQ(g.ColorTable()[1], (TPaletteEntry { 0, 255, 0, 0 }));
}

TEST(GIFGraphicTest, SignatureIsComparedInAnyLetterCase)
{
    for (const char* signature : { "GIF89a", "gif89a", "GiF87a", "GIFxyz" }) {
        const Bytes file = GifBuilder().Header(signature, 1, 1).Image(1, 1, { 0 }).Build();
        EXPECT_EQ(LoadError(file), "loaded") << signature;
    }
    for (const char* signature : { "GIX89a", "BM\0\0\0\0", "JIF89a" }) {
        const Bytes file = GifBuilder().Header(std::string(signature, 6), 1, 1).Image(1, 1, { 0 }).Build();
        EXPECT_EQ(LoadError(file), "Not a valid GIF file.") << signature;
    }
}

TEST(GIFGraphicTest, LocalColourTableReplacesTheFirstEntriesAndTheCount)
{
    const Bytes local = { 1, 2, 3, 4, 5, 6 };
    const TGIFGraphic g = Load(GifBuilder()
                                   .Header("GIF89a", 2, 1, kFourColours)
                                   .Image(2, 1, { 1, 0 }, With().LocalTable(local).CodeSize(2))
                                   .Build());
    ASSERT_EQ(g.ColorTable().size(), 2u);
    EXPECT_EQ(g.ColorTable()[0], (TPaletteEntry { 1, 2, 3, 0 }));
    EXPECT_EQ(g.ColorTable()[1], (TPaletteEntry { 4, 5, 6, 0 }));
    EXPECT_EQ(Row(g, 0), Bytes({ 1, 0 }));

    const TGIFGraphic localOnly
        = Load(GifBuilder().Header("GIF87a", 2, 1).Image(2, 1, { 1, 1 }, With().LocalTable(local)).Build());
    EXPECT_EQ(localOnly.ColorTable().size(), 2u);
}

TEST(GIFGraphicTest, WithoutAColourTableTheDefaultPaletteStays)
{
    const TGIFGraphic g = Load(GifBuilder().Header("GIF89a", 3, 1).Image(3, 1, { 7, 8, 200 }).Build());
    EXPECT_EQ(g.ColorTable(), DefaultColorTable(pf8bit));
    EXPECT_EQ(Row(g, 0), Bytes({ 7, 8, 200 }));
}

TEST(GIFGraphicTest, AnImageSizeOfZeroTakesTheScreenSize)
{
    const TGIFGraphic g = Load(GifBuilder().Header("GIF89a", 4, 2).Image(0, 0, Ramp(8, 8)).Build());
    EXPECT_EQ(g.Width(), 4);
    EXPECT_EQ(g.Height(), 2);
    EXPECT_EQ(Row(g, 1), Bytes({ 4, 5, 6, 7 }));

    // With no size anywhere the image has no area: an empty bitmap, and no pixels are decoded.
    for (const auto& [width, height] : { std::pair { 0, 5 }, std::pair { 5, 0 } }) {
        const TGIFGraphic none = Load(GifBuilder().Header("GIF89a", 0, 0).Image(width, height, Ramp(5, 8)).Build());
        EXPECT_TRUE(none.Empty());
        EXPECT_EQ(none.Width(), width);
        EXPECT_EQ(none.Height(), height);
    }

    const TGIFGraphic widthOnly = Load(GifBuilder().Header("GIF89a", 4, 9).Image(0, 1, Ramp(4, 8)).Build());
    EXPECT_EQ(widthOnly.Width(), 4);
    EXPECT_EQ(widthOnly.Height(), 1);
}

TEST(GIFGraphicTest, InterlacedRowsArePlacedInFourPasses)
{
    // Each row of the data holds its own number.
    Bytes pixels;
    for (uint8_t k = 0; k < 10; ++k)
        pixels.insert(pixels.end(), 3, k);
    const TGIFGraphic g = Load(GifBuilder().Header("GIF89a", 3, 10).Image(3, 10, pixels, With().Interlaced()).Build());
    const int order[10] = { 0, 8, 4, 2, 6, 1, 3, 5, 7, 9 }; // scan line of data row k
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(Row(g, order[k]), Bytes(3, static_cast<uint8_t>(k))) << k;

    // Heights below 8 skip the passes that have no rows.
    const TGIFGraphic three
        = Load(GifBuilder().Header("GIF89a", 1, 3).Image(1, 3, { 0, 1, 2 }, With().Interlaced()).Build());
    EXPECT_EQ(Row(three, 0), Bytes({ 0 }));
    EXPECT_EQ(Row(three, 2), Bytes({ 1 }));
    EXPECT_EQ(Row(three, 1), Bytes({ 2 }));
}

TEST(GIFGraphicTest, ExtensionsAreSkippedByTheirSubBlockSizes)
{
    // A graphic control extension whose data hold an image separator, an introducer, a trailer
    // and zeros; a comment over two blocks; an application block; stray bytes between blocks.
    const Bytes file = GifBuilder()
                           .Header("GIF89a", 2, 2, kFourColours)
                           .Extension(0xF9, { { 0x2C, 0x21, 0x3B, 0x00 } })
                           .Raw({ 0x00, 0x42, 0x99 })
                           .Extension(0xFE, { { 'h', 'i', ',', ';' }, { 0, 0, 0 } })
                           .Extension(0xFF, { Bytes(11, 'N'), { 1, 0, 0 } })
                           .Image(2, 2, { 3, 2, 1, 0 }, With().CodeSize(2))
                           .Trailer()
                           .Build();
    const TGIFGraphic g = Load(file);
    EXPECT_EQ(Row(g, 0), Bytes({ 3, 2 }));
    EXPECT_EQ(Row(g, 1), Bytes({ 1, 0 }));
}

TEST(GIFGraphicTest, ATrailerBeforeAnyImageGivesAnEmptyBitmap)
{
    EXPECT_TRUE(Load(GifBuilder().Header("GIF89a", 10, 10, kFourColours).Trailer().Build()).Empty());
    const TGIFGraphic afterExtension = Load(
        GifBuilder().Header("GIF89a", 10, 10).Extension(0xFE, { { 1, 2 } }).Trailer().Image(1, 1, { 0 }).Build());
    EXPECT_TRUE(afterExtension.Empty());
}

TEST(GIFGraphicTest, DataSubBlocksAreJoinedBeforeDecoding)
{
    const Bytes pixels = Ramp(31 * 7, 251);
    const TGIFGraphic whole = Load(GifBuilder().Header("GIF89a", 31, 7).Image(31, 7, pixels).Build());
    for (const size_t blockSize : { 1u, 2u, 7u, 254u }) {
        const TGIFGraphic split
            = Load(GifBuilder().Header("GIF89a", 31, 7).Image(31, 7, pixels, With().BlockSize(blockSize)).Build());
        for (int y = 0; y < 7; ++y)
            ASSERT_EQ(Row(split, y), Row(whole, y)) << "blocks of " << blockSize << ", row " << y;
    }
    EXPECT_EQ(Row(whole, 6), Bytes(pixels.end() - 31, pixels.end()));
}

TEST(GIFGraphicTest, ImageDataCutShortLeaveZeroPixels)
{
    Bytes file = GifBuilder().Header("GIF89a", 4, 4).Image(4, 4, Ramp(16, 16)).Build();
    // Cut in the middle of the data: sixteen different pixels are sixteen 9-bit codes after the
    // Clear code, so 6 bytes hold 4 pixels.
    const size_t dataStart = 13 + 10 + 1 + 1;
    file.resize(dataStart + 6);
    const TGIFGraphic g = Load(file);
    EXPECT_EQ(Row(g, 0), Bytes({ 0, 1, 2, 3 }));
    EXPECT_EQ(Row(g, 1), Bytes(4, 0));
    EXPECT_EQ(Row(g, 3), Bytes(4, 0));
}

TEST(GIFGraphicTest, EveryTruncationLoadsOrFailsCleanly)
{
    const Bytes files[] = {
        GifBuilder()
            .Header("GIF89a", 9, 5, kFourColours)
            .Extension(0xF9, { { 1, 2, 3, 4 } })
            .Image(9, 5, Ramp(45, 4), With().Interlaced().LocalTable({ 1, 2, 3, 4, 5, 6 }).CodeSize(2).BlockSize(5))
            .Trailer()
            .Build(),
        GifBuilder().Header("GIF87a", 20, 3).Image(20, 3, Ramp(60, 256), With().BlockSize(16)).Build(),
    };
    for (const Bytes& file : files) {
        EXPECT_EQ(LoadError(file), "loaded");
        for (size_t n = 0; n < file.size(); ++n) {
            const std::string error = LoadError(Bytes(file.begin(), file.begin() + n));
            EXPECT_NE(error, "") << n; // an Exception with a message, or a clean load
            if (n < 13) {
                EXPECT_EQ(error, "Stream read error") << n; // the header is a checked read
            }
        }
    }
}

TEST(GIFGraphicTest, MinimumCodeSizesAboveEightDecode)
{
    // Enough pixels for the code width to grow past its first step.
    const Bytes pixels = Ramp(61 * 47, 253);
    for (const int codeSize : { 9, 10, 11 }) {
        const TGIFGraphic g
            = Load(GifBuilder().Header("GIF89a", 61, 47).Image(61, 47, pixels, With().CodeSize(codeSize)).Build());
        ASSERT_EQ(g.Height(), 47) << codeSize;
        for (int y = 0; y < 47; ++y)
            ASSERT_EQ(Row(g, y), Bytes(pixels.begin() + 61 * y, pixels.begin() + 61 * (y + 1))) << codeSize;
    }
    // Codes 256 and above stand for indices that no colour table holds: they show as a missing entry.
    reference::BitWriter codes(false);
    for (const uint32_t code : { 512u, 3u, 257u, 513u })
        codes.Put(code, 10);
    Bytes image = { 0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 9 };
    const Bytes data = codes.Finish();
    image.push_back(static_cast<uint8_t>(data.size()));
    image.insert(image.end(), data.begin(), data.end());
    image.push_back(0);
    const TGIFGraphic g = Load(GifBuilder().Header("GIF89a", 2, 1, kFourColours).Raw(image).Build());
    EXPECT_EQ(g.ScanLine(0)[0], 3);
    EXPECT_GE(g.ScanLine(0)[1], g.ColorTable().size());
}

TEST(GIFGraphicTest, MalformedFilesFailCleanly)
{
    // A minimum code size whose Clear code lies outside a 12-bit table.
    const Bytes codeSize12 = { 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 12, 2, 0x00, 0x10, 0 };
    EXPECT_EQ(LoadError(GifBuilder().Header("GIF89a", 1, 1).Raw(codeSize12).Build()), "Not a valid GIF file.");
    // No image and no trailer: the scan runs into the end of the stream.
    EXPECT_EQ(LoadError(GifBuilder().Header("GIF89a", 1, 1).Raw({ 1, 2, 3 }).Build()), "Stream read error");
    // An extension whose sub-block runs past the end.
    EXPECT_EQ(LoadError(GifBuilder().Header("GIF89a", 1, 1).Raw({ 0x21, 0xF9, 200, 1 }).Build()), "Stream read error");
    // A huge image with a few bytes of data: the bitmap is made, the missing pixels are zero.
    const TGIFGraphic big = Load(GifBuilder().Header("GIF89a", 8000, 8000).Image(8000, 8000, { 5, 6 }).Build());
    EXPECT_EQ(big.Width(), 8000);
    EXPECT_EQ(big.ScanLine(0)[1], 6);
    EXPECT_EQ(big.ScanLine(7999)[7999], 0);
}

} // namespace
