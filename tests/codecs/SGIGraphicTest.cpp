#include "codecs/SGIGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"
#include "tests/support/TestData.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

// The sample of channel k, file row r (0 = bottom), column x of the test pictures: distinct for
// every channel, row and column of a small picture, and 16 bits wide (its high byte is what shows).
uint16_t Sample(int k, int r, int x)
{
    return static_cast<uint16_t>(((k * 61 + r * 7 + x * 3) & 0xFF) << 8 | ((x * 5 + r) & 0xFF));
}

struct SGIFile {
    bool compressed = false;
    int bytesPerSample = 1;
    int width = 0;
    int height = 0;
    int channels = 1;
    std::function<uint16_t(int, int, int)> sample = Sample;

    void PutSample(std::vector<uint8_t>& out, uint16_t value) const
    {
        if (bytesPerSample == 2)
            out.push_back(uint8_t(value >> 8));
        out.push_back(bytesPerSample == 2 ? uint8_t(value) : uint8_t(value >> 8));
    }
    void PutCount(std::vector<uint8_t>& out, int count) const
    {
        if (bytesPerSample == 2)
            out.push_back(0);
        out.push_back(uint8_t(count));
    }

    // One channel row in SGI run-length packets: runs of equal samples, literals otherwise, at most 127
    // samples per packet, ended by a count of 0.
    std::vector<uint8_t> PackedRow(int k, int r) const
    {
        std::vector<uint8_t> out;
        int x = 0;
        while (x < width) {
            int run = 1;
            while (x + run < width && run < 127 && sample(k, r, x + run) == sample(k, r, x))
                ++run;
            if (run >= 2) {
                PutCount(out, run);
                PutSample(out, sample(k, r, x));
                x += run;
                continue;
            }
            int literal = 1;
            while (x + literal < width && literal < 127 &&
                   !(x + literal + 1 < width && sample(k, r, x + literal) == sample(k, r, x + literal + 1)))
                ++literal;
            PutCount(out, 0x80 | literal);
            for (int i = 0; i < literal; ++i)
                PutSample(out, sample(k, r, x + i));
            x += literal;
        }
        PutCount(out, 0);
        return out;
    }

    // Table index (row r of channel k), its start and its length, for tests that rewrite tables.
    static size_t StartAt(int index) { return 512 + 4 * static_cast<size_t>(index); }
    size_t LengthAt(int index) const { return StartAt(height * channels + index); }

    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> out(512, 0);
        out[0] = 0x01;
        out[1] = 0xDA;
        out[2] = compressed ? 1 : 0;
        out[3] = uint8_t(bytesPerSample);
        out[5] = 3;
        out[6] = uint8_t(width >> 8), out[7] = uint8_t(width);
        out[8] = uint8_t(height >> 8), out[9] = uint8_t(height);
        out[10] = uint8_t(channels >> 8), out[11] = uint8_t(channels);
        out[19] = 0xFF;  // maximum pixel value
        const int planes = std::max(channels, 1);
        if (!compressed) {
            for (int k = 0; k < planes; ++k)
                for (int r = 0; r < height; ++r)
                    for (int x = 0; x < width; ++x)
                        PutSample(out, sample(k, r, x));
            return out;
        }
        // Rows are stored last table entry first, so that only the tables can find them.
        const int entries = height * planes;
        out.resize(512 + 8 * static_cast<size_t>(entries));
        for (int index = entries - 1; index >= 0; --index) {
            const std::vector<uint8_t> row = PackedRow(index / height, index % height);
            PutLong(out, StartAt(index), static_cast<uint32_t>(out.size()));
            PutLong(out, StartAt(entries + index), static_cast<uint32_t>(row.size()));
            out.insert(out.end(), row.begin(), row.end());
        }
        return out;
    }

    static void PutLong(std::vector<uint8_t>& out, size_t at, uint32_t value)
    {
        out[at] = uint8_t(value >> 24), out[at + 1] = uint8_t(value >> 16);
        out[at + 2] = uint8_t(value >> 8), out[at + 3] = uint8_t(value);
    }
};

constexpr auto Load = LoadAs<TSGIGraphic>;
constexpr auto LoadError = LoadErrorAs<TSGIGraphic>;

// Checks every pixel against the samples of the file description (high bytes).
void ExpectPicture(const TSGIGraphic& g, const SGIFile& file)
{
    ASSERT_EQ(g.Width(), file.width);
    ASSERT_EQ(g.Height(), file.height);
    const int bytesPerPixel = g.PixelFormat() == pf32bit ? 4 : g.PixelFormat() == pf24bit ? 3 : 1;
    for (int r = 0; r < file.height; ++r) {
        const uint8_t* row = g.ScanLine(file.height - 1 - r);
        for (int x = 0; x < file.width; ++x) {
            const uint8_t* pixel = row + bytesPerPixel * x;
            auto high = [&](int k) { return uint8_t(file.sample(k, r, x) >> 8); };
            if (bytesPerPixel == 1) {
                ASSERT_EQ(pixel[0], high(0)) << "row " << r << " x " << x;
                continue;
            }
            ASSERT_EQ(pixel[0], high(2)) << "blue, row " << r << " x " << x;
            ASSERT_EQ(pixel[1], high(1)) << "green, row " << r << " x " << x;
            ASSERT_EQ(pixel[2], high(0)) << "red, row " << r << " x " << x;
            if (bytesPerPixel == 4) {
                ASSERT_EQ(pixel[3], high(3)) << "alpha, row " << r << " x " << x;
            }
        }
    }
}

TEST(SGIGraphicTest, GreyFileShowsBottomRowLastWithGreyRamp)
{
    for (const bool compressed : {false, true}) {
        SGIFile file{.compressed = compressed, .width = 5, .height = 4, .channels = 1};
        const TSGIGraphic g = Load(file.Bytes());
        ASSERT_EQ(g.PixelFormat(), pf8bit);
        ASSERT_EQ(g.ColorTable().size(), 256u);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(g.ColorTable()[i], (TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0}));
        ExpectPicture(g, file);
    }
}

TEST(SGIGraphicTest, ThreeChannelsGiveRedFromChannelZero)
{
    for (const bool compressed : {false, true}) {
        SGIFile file{.compressed = compressed, .width = 7, .height = 3, .channels = 3};
        const TSGIGraphic g = Load(file.Bytes());
        ASSERT_EQ(g.PixelFormat(), pf24bit);
        ExpectPicture(g, file);
    }
    // The channel rows of an uncompressed file lie at 512 + (k x Height + r) x Width.
    SGIFile file{.width = 2, .height = 3, .channels = 3};
    std::vector<uint8_t> bytes = file.Bytes();
    bytes[512 + (2 * 3 + 1) * 2] = 0xB1;  // channel 2 (blue) of file row 1, column 0
    const TSGIGraphic g = Load(bytes);
    EXPECT_EQ(g.ScanLine(3 - 1 - 1)[0], 0xB1);
}

TEST(SGIGraphicTest, FourChannelsCarryAlpha)
{
    for (const bool compressed : {false, true}) {
        SGIFile file{.compressed = compressed, .width = 9, .height = 8, .channels = 4};
        const TSGIGraphic g = Load(file.Bytes());
        ASSERT_EQ(g.PixelFormat(), pf32bit);
        ExpectPicture(g, file);
    }
}

TEST(SGIGraphicTest, CompressedRowsAreFoundAtRowPlusChannelTimesHeight)
{
    SGIFile file{.compressed = true, .width = 4, .height = 7, .channels = 4};
    std::vector<uint8_t> bytes = file.Bytes();
    // Append a replacement row for channel 2 of file row 5 and point entry 5 + 2 x 7 at it.
    const std::vector<uint8_t> row = {0x04, 0x77, 0x00};
    const int index = 5 + 2 * 7;
    SGIFile::PutLong(bytes, SGIFile::StartAt(index), static_cast<uint32_t>(bytes.size()));
    SGIFile::PutLong(bytes, file.LengthAt(index), static_cast<uint32_t>(row.size()));
    bytes.insert(bytes.end(), row.begin(), row.end());
    const TSGIGraphic g = Load(bytes);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(g.ScanLine(7 - 1 - 5)[4 * x], 0x77) << x;  // blue of file row 5
        EXPECT_EQ(g.ScanLine(7 - 1 - 5)[4 * x + 2], Sample(0, 5, x) >> 8);
        EXPECT_EQ(g.ScanLine(7 - 1 - 2)[4 * x], Sample(2, 2, x) >> 8);  // its neighbours untouched
    }
}

TEST(SGIGraphicTest, SixteenBitSamplesShowTheirHighByte)
{
    for (const bool compressed : {false, true})
        for (const int channels : {1, 3, 4}) {
            SCOPED_TRACE(testing::Message() << "compressed " << compressed << ", channels " << channels);
            SGIFile file{.compressed = compressed, .bytesPerSample = 2, .width = 6, .height = 5, .channels = channels};
            ExpectPicture(Load(file.Bytes()), file);
        }
    // The sample 0x12AB contributes 0x12.
    SGIFile file{.bytesPerSample = 2, .width = 1, .height = 1, .sample = [](int, int, int) { return 0x12AB; }};
    EXPECT_EQ(Load(file.Bytes()).ScanLine(0)[0], 0x12);
}

TEST(SGIGraphicTest, OtherChannelCountsShowChannelZeroAsGrey)
{
    // Two channels (grey and alpha), five channels, and a z size of 0, compressed or not.
    for (const int channels : {2, 5, 0})
        for (const bool compressed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "channels " << channels << ", compressed " << compressed);
            SGIFile file{.compressed = compressed, .width = 6, .height = 4, .channels = channels};
            const TSGIGraphic g = Load(file.Bytes());
            ASSERT_EQ(g.PixelFormat(), pf8bit);
            ExpectPicture(g, file);
        }
}

TEST(SGIGraphicTest, HeaderErrors)
{
    const std::string message = "Not a valid sgi, bw or rgb(a) image.";
    std::vector<uint8_t> bytes = SGIFile{.width = 2, .height = 2}.Bytes();
    bytes[1] = 0xDB;
    EXPECT_EQ(LoadError(bytes), message);
    EXPECT_EQ(LoadError({}), message);
    EXPECT_EQ(LoadError({0x01}), message);
    // Samples of 0 or 3 bytes have no row layout.
    for (const uint8_t size : {0, 3, 255}) {
        bytes = SGIFile{.width = 2, .height = 2}.Bytes();
        bytes[3] = size;
        EXPECT_EQ(LoadError(bytes), message) << int(size);
    }
    // A bare header is a picture whose data are missing, not an error.
    EXPECT_EQ(LoadError({ 0x01, 0xDA, 0, 1, 0, 2, 0, 3, 0, 2, 0, 1 }), "loaded");
    // No columns or no rows: 0 x 0.
    for (const auto& size : {std::vector<uint8_t>{0, 0, 0, 2}, std::vector<uint8_t>{0xFF, 0xFF, 0, 0}}) {
        std::vector<uint8_t> bytes = {0x01, 0xDA, 1, 1, 0, 2};
        bytes.insert(bytes.end(), size.begin(), size.end());
        bytes.insert(bytes.end(), {0, 3});
        const TSGIGraphic g = Load(bytes);
        EXPECT_EQ(g.Width(), 0);
        EXPECT_EQ(g.Height(), 0);
    }
}

TEST(SGIGraphicTest, FilesCutShortLoadWhatTheyHold)
{
    for (const bool compressed : {false, true})
        for (const int bytesPerSample : {1, 2}) {
            SGIFile file{.compressed = compressed, .bytesPerSample = bytesPerSample, .width = 5, .height = 3, .channels = 4};
            const std::vector<uint8_t> whole = file.Bytes();
            for (size_t cut = 2; cut < whole.size(); ++cut) {
                TSGIGraphic g;
                TMemoryStream stream(whole.data(), cut);
                if (cut < 4) {
                    // Not even the sample size: no picture at all.
                    EXPECT_THROW(g.LoadStream(stream), Exception) << cut;
                    continue;
                }
                ASSERT_NO_THROW(g.LoadStream(stream)) << cut;
                EXPECT_EQ(g.Width(), cut >= 10 ? 5 : 0) << cut;
            }
        }
}

TEST(SGIGraphicTest, RowTablesPointingAnywhereAreHarmless)
{
    SGIFile file{.compressed = true, .width = 6, .height = 4, .channels = 3};
    const std::vector<uint8_t> good = file.Bytes();
    const int entries = 4 * 3;

    // Row lengths far beyond the row buffer: each row still decodes up to its end packet.
    std::vector<uint8_t> bytes = good;
    for (int i = 0; i < entries; ++i)
        SGIFile::PutLong(bytes, file.LengthAt(i), 0xFFFFFFFF);
    ExpectPicture(Load(bytes), file);

    // Starts beyond the end of the file, or inside the header and tables: no data or garbage, no error.
    for (const uint32_t start : {0xFFFFFFFFu, 0x7FFFFFFFu, static_cast<uint32_t>(good.size()), 0u, 510u}) {
        bytes = good;
        for (int i = 0; i < entries; ++i)
            SGIFile::PutLong(bytes, SGIFile::StartAt(i), start);
        TSGIGraphic g;
        TMemoryStream stream(bytes);
        ASSERT_NO_THROW(g.LoadStream(stream)) << start;
        EXPECT_EQ(g.Width(), 6);
        if (start < good.size())
            continue;
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(std::count(g.ScanLine(y), g.ScanLine(y) + g.RowBytes(), 0), g.RowBytes()) << y;
    }

    // A row without its end packet stops at the picture's width.
    file.width = 3;
    bytes = file.Bytes();
    const std::vector<uint8_t> endless = {0x7F, 0x11, 0x7F, 0x22, 0x7F, 0x33};
    SGIFile::PutLong(bytes, SGIFile::StartAt(0), static_cast<uint32_t>(bytes.size()));
    SGIFile::PutLong(bytes, file.LengthAt(0), static_cast<uint32_t>(endless.size()));
    bytes.insert(bytes.end(), endless.begin(), endless.end());
    const TSGIGraphic g = Load(bytes);
    EXPECT_EQ(g.ScanLine(3)[2], 0x11);
    EXPECT_EQ(g.ScanLine(3)[5], 0x11);
}

TEST(SGIGraphicTest, HugeHeadersOverTinyFilesFailOrLoad)
{
    // 65535 x 65535 x 4 bytes: beyond the bitmap cap, refused by the framework.
    std::vector<uint8_t> header = {0x01, 0xDA, 1, 1, 0, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0, 4};
    EXPECT_NE(LoadError(header), "loaded");
    // 8192 x 8192 x 4 channels, compressed, tables claiming 256 KiB that are not there; and the
    // same uncompressed; and 65535 channels (only the first is read).
    header = {0x01, 0xDA, 1, 1, 0, 3, 0x20, 0x00, 0x20, 0x00, 0, 4};
    EXPECT_EQ(LoadError(header), "loaded");
    header[2] = 0;
    EXPECT_EQ(LoadError(header), "loaded");
    header = {0x01, 0xDA, 1, 2, 0, 3, 0x10, 0x00, 0x10, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(LoadError(header), "loaded");
}

TEST(SGIGraphicTest, OffsetsCountFromTheStreamPosition)
{
    for (const bool compressed : {false, true}) {
        SGIFile file{.compressed = compressed, .width = 3, .height = 2, .channels = 3};
        std::vector<uint8_t> bytes(37, 0xAB);
        const std::vector<uint8_t> body = file.Bytes();
        bytes.insert(bytes.end(), body.begin(), body.end());
        TMemoryStream stream(bytes);
        stream.SetPosition(37);
        TSGIGraphic g;
        g.LoadStream(stream);
        ExpectPicture(g, file);
    }
}

TEST(SGIGraphicTest, ReloadingStartsAfresh)
{
    TSGIGraphic g;
    {
        TMemoryStream stream(SGIFile{.width = 4, .height = 4, .channels = 4}.Bytes());
        g.LoadStream(stream);
    }
    SGIFile grey{.width = 2, .height = 2, .channels = 1};
    std::vector<uint8_t> bytes = grey.Bytes();
    bytes.resize(bytes.size() - 2);  // the top row is missing
    TMemoryStream stream(bytes);
    g.LoadStream(stream);
    ASSERT_EQ(g.PixelFormat(), pf8bit);
    EXPECT_EQ(g.ScanLine(0)[0], 0);
    EXPECT_EQ(g.ScanLine(0)[1], 0);
    EXPECT_EQ(g.ScanLine(1)[0], Sample(0, 0, 0) >> 8);
}

TEST(SGIGraphicTest, FuzzedSharedSamplesFailOrLoad)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    for (const char* name : { "sgi/crash-465703f71a0f0094873a3e0e82c9f798161171b8.sgi",
             "sgi/crash-64834657ee604b8797bf99eac6a194c124a9a8ba.sgi" }) {
        const std::vector<uint8_t> bytes = ReadFileBytes(dir / name);
        ASSERT_FALSE(bytes.empty()) << name;
        try {
            Load(bytes);
        } catch (const Exception& e) {
            EXPECT_FALSE(e.Message().empty());
        }
    }
}

}  // namespace
