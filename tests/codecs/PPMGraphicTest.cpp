#include "codecs/PPMGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// A string literal with its embedded zero bytes, without the terminating one.
template <size_t N>
std::string Raw(const char (&text)[N])
{
    return std::string(text, N - 1);
}

TPPMGraphic Load(const std::string& text)
{
    return LoadAs<TPPMGraphic>(Bytes(text));
}

std::string LoadError(const std::string& text)
{
    return LoadErrorAs<TPPMGraphic>(Bytes(text));
}

TEST(PPMGraphicTest, BinaryGreyKeepsSamplesAsPaletteIndices)
{
    // Width 2, height 1, maximum 255, the bytes 0x10 0x20.
    const TPPMGraphic g = Load("P5\n2 1\n255\n\x10\x20");
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    ASSERT_EQ(g.Width(), 2);
    ASSERT_EQ(g.Height(), 1);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{16, 32}));
    ASSERT_EQ(g.ColorTable().size(), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(g.ColorTable()[i], (TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0})) << i;
}

TEST(PPMGraphicTest, SamplesAreNotScaledByTheMaximumValue)
{
    EXPECT_EQ(Row(Load(Raw("P5\n3 1\n15\n\x00\x07\x0F")), 0), (std::vector<uint8_t>{0, 7, 15}));
    EXPECT_EQ(Row(Load("P2\n3 1\n15\n0 7 15\n"), 0), (std::vector<uint8_t>{0, 7, 15}));
    // Two bytes per sample are not supported: maximum 65535 still takes one byte per sample.
    const TPPMGraphic g = Load("P6\n2 1\n65535\n\x01\x02\x03\x04\x05\x06");
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
}

TEST(PPMGraphicTest, ColourVariantsStoreBlueGreenRed)
{
    const TPPMGraphic binary = Load("P6\n2 2\n255\n\x0A\x14\x1E\x28\x32\x3C\x01\x02\x03\x04\x05\x06");
    ASSERT_EQ(binary.PixelFormat(), pf24bit);
    EXPECT_EQ(Row(binary, 0), (std::vector<uint8_t>{30, 20, 10, 60, 50, 40}));
    EXPECT_EQ(Row(binary, 1), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));

    const TPPMGraphic plain = Load("P3\n2 1\n255\n10 20 30\n40 50 60\n");
    ASSERT_EQ(plain.PixelFormat(), pf24bit);
    EXPECT_EQ(Row(plain, 0), (std::vector<uint8_t>{30, 20, 10, 60, 50, 40}));
    EXPECT_EQ(plain.ColorTable().size(), 0u);
}

TEST(PPMGraphicTest, PlainNumbersKeepTheirLowBits)
{
    // 300 = 0x12C, 4294967297 wraps to 1 in 32 bits.
    EXPECT_EQ(Row(Load("P2\n3 1\n255\n300 256 4294967297\n"), 0), (std::vector<uint8_t>{44, 0, 1}));
    // P1 uses the lowest bit of each digit.
    EXPECT_EQ(Row(Load("P1\n3 1\n3 2 5\n"), 0), (std::vector<uint8_t>{0xA0}));
}

TEST(PPMGraphicTest, PlainBilevelPacksEightPixelsPerByte)
{
    const TPPMGraphic g = Load("P1\n10 2\n1 0 1 0 1 0 1 0 1 1\n0 0 0 0 0 0 0 1 0 1\n");
    ASSERT_EQ(g.PixelFormat(), pf1bit);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{0xAA, 0xC0}));
    EXPECT_EQ(Row(g, 1), (std::vector<uint8_t>{0x01, 0x40}));
    // Index 0 is white, index 1 black.
    ASSERT_EQ(g.ColorTable().size(), 2u);
    EXPECT_EQ(g.ColorTable()[0], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(g.ColorTable()[1], (TPaletteEntry{0, 0, 0, 0}));
    // Pixels are single digits and need no white space between them, as netpbm writes them.
    EXPECT_EQ(Row(Load("P1\n10 1\n10101010\n11\n"), 0), (std::vector<uint8_t>{0xAA, 0xC0}));
    EXPECT_EQ(Row(Load("P1\n4 1\n10 # 1\n01"), 0), (std::vector<uint8_t>{0x90}));
    // Exactly eight pixels: no partial byte.
    EXPECT_EQ(Row(Load("P1\n8 1\n1 1 0 0 1 1 0 1"), 0), (std::vector<uint8_t>{0xCD}));
}

TEST(PPMGraphicTest, BinaryBilevelReadsWholeBytesPerRow)
{
    // Width 10: two bytes per row, padding bits stored as they come.
    const TPPMGraphic g = Load("P4\n10 2\n\xAA\xFF\x12\x34");
    ASSERT_EQ(g.PixelFormat(), pf1bit);
    ASSERT_EQ(g.RowBytes(), 2);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{0xAA, 0xFF}));
    EXPECT_EQ(Row(g, 1), (std::vector<uint8_t>{0x12, 0x34}));
    EXPECT_EQ(g.ColorTable()[0], (TPaletteEntry{255, 255, 255, 0}));
}

TEST(PPMGraphicTest, CommentsNeverCount)
{
    // Two comment lines in a row, the second with digits.
    const TPPMGraphic g = Load("P2\n# first\n# 99 88\n2 1\n# 7\n255\n5 # 6 6\n9\n");
    ASSERT_EQ(g.Width(), 2);
    ASSERT_EQ(g.Height(), 1);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{5, 9}));
    // Any white space or comment separates the header's fields, on the magic's line too.
    EXPECT_EQ(Load("P5 # 7 7\n1 1\n255\n\x2A").Width(), 1);
    EXPECT_EQ(Row(Load("P6 2 1 255 \x01\x02\x03\x04\x05\x06"), 0), (std::vector<uint8_t> { 3, 2, 1, 6, 5, 4 }));
    EXPECT_EQ(Row(Load("P5#c\n2#c\n1\t255\r\x23\x24"), 0), (std::vector<uint8_t> { 0x23, 0x24 }));
    EXPECT_EQ(Row(Load("P1 3 1 1 0 1"), 0), (std::vector<uint8_t> { 0xA0 }));
}

TEST(PPMGraphicTest, CommentRightAfterDigitsIsSkippedToo)
{
    // "7#..." ends the number 7; the comment's digits must not become the next pixel.
    EXPECT_EQ(Row(Load("P2\n2 1\n255\n7#comment 99\n9\n"), 0), (std::vector<uint8_t>{7, 9}));
    // A comment after the last number may run to the end of the file.
    EXPECT_EQ(Row(Load("P2\n2 1\n255\n7 9#end"), 0), (std::vector<uint8_t>{7, 9}));
    // In the binary variants a comment there ends at its first line end, as netpbm has it: "\r\n"
    // leaves the "\n" as the first sample.
    EXPECT_EQ(Row(Load("P5\n2 1\n255#c\n\x23\x24"), 0), (std::vector<uint8_t> { 0x23, 0x24 }));
    EXPECT_EQ(Row(Load("P5\n2 1\n255#c\r\n\x23\x24"), 0), (std::vector<uint8_t> { 0x0A, 0x23 }));
    EXPECT_EQ(LoadError(Raw("P5\n2 1\n255#\x23\x24")), "PPM: Stream read error.");
}

TEST(PPMGraphicTest, WindowsLineEnds)
{
    const TPPMGraphic g = Load("P6\r\n# CR LF line ends\r\n1 1\r\n255\n\x01\x02\x03");
    ASSERT_EQ(g.Width(), 1);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{3, 2, 1}));
    // A lone carriage return ends a line as well.
    EXPECT_EQ(Row(Load("P2\r# c\r1 1\r255\r77\r"), 0), (std::vector<uint8_t>{77}));
}

TEST(PPMGraphicTest, MagicErrors)
{
    EXPECT_EQ(LoadError(Raw("Q5\n1 1\n255\n\x00")), "Not a valid ppm file.");
    EXPECT_EQ(LoadError(Raw("\nP5\n1 1\n255\n\x00")), "Not a valid ppm file.");
    EXPECT_EQ(LoadError(Raw("p5\n1 1\n255\n\x00")), "Not a valid ppm file.");
    // The character after "P" goes through the framework's string-to-integer conversion.
    EXPECT_EQ(LoadError(Raw("PX\n1 1\n255\n\x00")), "'X' is not a valid integer value");
    EXPECT_EQ(LoadError("P\n1 1\n"), "'' is not a valid integer value");
    try {
        Load("P-\n");
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'-' is not a valid integer value");
    }
    // A first line without an end runs into the end of the stream.
    EXPECT_EQ(LoadError("P5"), "PPM: Stream read error.");
    EXPECT_EQ(LoadError(""), "PPM: Stream read error.");
}

TEST(PPMGraphicTest, UnknownVariantGivesAnEmptyPicture)
{
    for (const char* text : {"P7\nWIDTH 1\n", "P0\n", "P9\n1 1\n255\n\x01"}) {
        TPPMGraphic g;
        TMemoryStream previous(Bytes("P5\n1 1\n255\n\x01"));
        g.LoadStream(previous);
        ASSERT_FALSE(g.Empty());
        TMemoryStream stream(Bytes(text));
        EXPECT_NO_THROW(g.LoadStream(stream)) << text;
        EXPECT_TRUE(g.Empty()) << text;
    }
    // Only one digit belongs to the magic: "P56" is P5 six pixels wide.
    EXPECT_EQ(Load("P56\n1 255\n\x01\x02\x03\x04\x05\x06").Width(), 6);
}

TEST(PPMGraphicTest, MissingDataFailsWithTheReadError)
{
    // Every cut of a valid file, in each variant, fails with the reader's own message; whole files load.
    const std::vector<std::string> files = {
        "P1\n3 2\n1 0 1\n0 1 0\n",
        "P2\n3 1\n255\n10 200 3\n",  // a last number of one digit: a cut inside it would still be a number
        "P3\n1 2\n255\n1 2 3 4 5 6\n",
        Raw("P4\n9 2\n\xFF\x80\x01\x00"),
        Raw("P5\n3 2\n255\n\x01\x02\x03\x04\x05\x06"),
        Raw("P6\n2 1\n255\n\x01\x02\x03\x04\x05\x06"),
    };
    for (const std::string& file : files) {
        ASSERT_EQ(LoadError(file), "loaded") << file;
        // The plain variants may lose their final line end without harm.
        const size_t complete = file[1] <= '3' ? file.size() - 1 : file.size();
        for (size_t cut = 0; cut < complete; ++cut)
            EXPECT_EQ(LoadError(file.substr(0, cut)), "PPM: Stream read error.") << file << " cut at " << cut;
    }
}

// A P6 file of width x height pixels with the sample value (x + 3y + c) & 0xFF.
std::vector<uint8_t> GradientP6(int width, int height, const std::string& header)
{
    std::vector<uint8_t> bytes = Bytes(header);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                bytes.push_back(static_cast<uint8_t>(x + 3 * y + c));
    return bytes;
}

TEST(PPMGraphicTest, DataAcrossBlockBoundaries)
{
    // 50 x 40 x 3 bytes: the pixels span two block boundaries.
    const auto bytes = GradientP6(50, 40, "P6\n50 40\n255\n");
    const TPPMGraphic g = LoadAs<TPPMGraphic>(bytes);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            const uint8_t* p = g.ScanLine(y) + 3 * x;
            ASSERT_EQ(p[2], uint8_t(x + 3 * y)) << x << "," << y;
            ASSERT_EQ(p[1], uint8_t(x + 3 * y + 1));
            ASSERT_EQ(p[0], uint8_t(x + 3 * y + 2));
        }
    // One byte short at the very end: the next block would be needed.
    EXPECT_EQ(
        LoadErrorAs<TPPMGraphic>(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)), "PPM: Stream read error.");
}

TEST(PPMGraphicTest, PlainNumbersAndLineEndsSplitByTheBlockBoundary)
{
    // Pad the header with a comment so that a chosen character of the data lands on offset 4095.
    for (int shift = 0; shift <= 12; ++shift) {
        const std::string body = "1234 56\r\n789\n";
        std::string head = "P2\n3 1\n255\n#";
        const size_t pad = 4096 - head.size() - 2 - shift;
        head += std::string(pad, 'x') + "\r\n";
        const std::string file = head + body;
        ASSERT_EQ(head.size() + shift, 4096u);
        const TPPMGraphic g = Load(file);
        EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{1234 & 0xFF, 56, 789 & 0xFF})) << "shift " << shift;
    }
    // A CR LF whose LF opens the second block is still one line end.
    const std::string file = "P5\n#" + std::string(4096 - 4 - 1, 'c') + "\r\n1 1\n255\n\x42";
    ASSERT_EQ(file[4095], '\r');
    EXPECT_EQ(Row(Load(file), 0), (std::vector<uint8_t>{0x42}));
}

TEST(PPMGraphicTest, ImpossibleSizesFailBeforeAllocating)
{
    // 16000 x 16000 would fit the bitmap cap, but the stream cannot hold its pixels.
    EXPECT_EQ(LoadError("P5\n16000 16000\n255\n\x01\x02"), "PPM: Stream read error.");
    EXPECT_EQ(LoadError("P1\n16000 16000\n1 0 1\n"), "PPM: Stream read error.");
    EXPECT_EQ(LoadError("P3\n2 1\n255\n1 2 3 4 5\n"), "PPM: Stream read error.");
    // Beyond the cap, or a size that wrapped to a negative value: the framework's refusal.
    EXPECT_NE(LoadError("P6\n2000000000 2000000000\n255\n"), "loaded");
    EXPECT_NE(LoadError("P5\n4294967295 1\n255\n\x01"), "loaded");

    TPPMGraphic g;
    TMemoryStream stream(Bytes("P5\n16000 16000\n255\n\x01"));
    EXPECT_THROW(g.LoadStream(stream), Exception);
    EXPECT_TRUE(g.Empty());
}

TEST(PPMGraphicTest, ZeroSizedPictures)
{
    // No columns or no rows: 0 x 0, so that nobody asks an empty bitmap for a row or sizes a row
    // buffer after a width of two billion pixels.
    for (const char* text : {"P5\n0 5\n255\n", "P1\n0 1\n", "P1\n7 0\n", "P4\n2000000000 0\n"}) {
        const TPPMGraphic g = Load(text);
        EXPECT_EQ(g.Width(), 0) << text;
        EXPECT_EQ(g.Height(), 0) << text;
    }
}

TEST(PPMGraphicTest, EachLoadStartsAfresh)
{
    // The first load leaves a half-used block behind; the second must not see any of it.
    TPPMGraphic g;
    TMemoryStream first(Bytes("P2\n1 1\n255\n5\n6 7 8 9 10 11 12\n"));
    g.LoadStream(first);
    TMemoryStream second(Bytes("P5\n2 1\n255\n\x0B\x0C"));
    g.LoadStream(second);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{11, 12}));
    // And a stream read from its current position.
    TMemoryStream offset(Bytes("junkP5\n1 1\n255\n\x63"));
    offset.SetPosition(4);
    g.LoadStream(offset);
    EXPECT_EQ(Row(g, 0), (std::vector<uint8_t>{0x63}));
}

}  // namespace
