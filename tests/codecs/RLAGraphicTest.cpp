#include "codecs/RLAGraphic.h"

#include "framework/Exception.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"

#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void PutWordBE(Bytes& bytes, size_t at, int value)
{
    bytes[at] = uint8_t(value >> 8);
    bytes[at + 1] = uint8_t(value);
}

// Packed samples: literal packets of at most 128 bytes.
Bytes Literal(const Bytes& samples)
{
    Bytes packed;
    for (size_t i = 0; i < samples.size(); i += 128) {
        const size_t n = std::min<size_t>(128, samples.size() - i);
        packed.push_back(uint8_t(-int(n)));
        packed.insert(packed.end(), samples.begin() + i, samples.begin() + i + n);
    }
    return packed;
}

// A run of `count` (1 to 128) copies of `value`.
Bytes RunOf(int count, uint8_t value)
{
    return {uint8_t(count - 1), value};
}

// One channel as stored: a 16-bit big-endian count, then the packed bytes.
Bytes Channel(const Bytes& packed)
{
    Bytes record(2);
    PutWordBE(record, 0, int(packed.size()));
    record.insert(record.end(), packed.begin(), packed.end());
    return record;
}

// An RLA image made in memory: the header fields the reader uses, the row offset table and the
// stored rows (each the concatenation of its channel records), placed in the file in `fileOrder`.
struct RlaFile {
    int left = 0, right = 3, bottom = 0, top = 1;
    int colorType = 0, colorChannels = 3, matteChannels = 0;
    int colorBits = 8, matteType = 0, matteBits = 8;
    std::vector<Bytes> rows;
    std::vector<int> fileOrder;  // empty: stored order

    Bytes Build() const
    {
        Bytes bytes(740, 0);
        PutWordBE(bytes, 8, left);
        PutWordBE(bytes, 10, right);
        PutWordBE(bytes, 12, bottom);
        PutWordBE(bytes, 14, top);
        PutWordBE(bytes, 18, colorType);
        PutWordBE(bytes, 20, colorChannels);
        PutWordBE(bytes, 22, matteChannels);
        PutWordBE(bytes, 26, 0xFFFE);
        PutWordBE(bytes, 658, colorBits);
        PutWordBE(bytes, 660, matteType);
        PutWordBE(bytes, 662, matteBits);
        const size_t tableAt = bytes.size();
        bytes.resize(tableAt + 4 * rows.size());
        std::vector<int> order = fileOrder;
        if (order.empty()) {
            order.resize(rows.size());
            std::iota(order.begin(), order.end(), 0);
        }
        for (int i : order) {
            const size_t at = bytes.size();
            for (int b = 0; b < 4; ++b)
                bytes[tableAt + 4 * i + b] = uint8_t(at >> (24 - 8 * b));
            bytes.insert(bytes.end(), rows[i].begin(), rows[i].end());
        }
        return bytes;
    }
};

// A row of three colour channels, each one run over the whole width.
Bytes RgbRow(int width, uint8_t red, uint8_t green, uint8_t blue)
{
    return Concat({Channel(RunOf(width, red)), Channel(RunOf(width, green)), Channel(RunOf(width, blue))});
}

Bytes PixelAt(const TBitmap& bitmap, int x, int y)
{
    const int size = bitmap.PixelFormat() == pf32bit ? 4 : 3;
    const uint8_t* p = bitmap.ScanLine(y) + size * x;
    return Bytes(p, p + size);
}

TEST(RLAGraphicTest, RowsRunUpwardsWhenBottomIsBelowTop)
{
    // Active window 0..99 x 0..49: the first stored row is the bottom row.
    RlaFile file;
    file.right = 99;
    file.top = 49;
    for (int i = 0; i < 50; ++i)
        file.rows.push_back(RgbRow(100, uint8_t(i), uint8_t(100 + i), uint8_t(200 - i)));
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    ASSERT_EQ(graphic.Width(), 100);
    ASSERT_EQ(graphic.Height(), 50);
    EXPECT_EQ(graphic.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelAt(graphic, 0, 49), (Bytes{200, 100, 0}));
    EXPECT_EQ(PixelAt(graphic, 99, 49), (Bytes{200, 100, 0}));
    EXPECT_EQ(PixelAt(graphic, 50, 0), (Bytes{151, 149, 49}));

    // Bottom 49, top 0: the rows run from the top down.
    std::swap(file.bottom, file.top);
    LoadInto(graphic, file.Build());
    ASSERT_EQ(graphic.Height(), 50);
    EXPECT_EQ(PixelAt(graphic, 0, 0), (Bytes{200, 100, 0}));
    EXPECT_EQ(PixelAt(graphic, 50, 49), (Bytes{151, 149, 49}));
}

TEST(RLAGraphicTest, ARunOf100FillsTheRow)
{
    RlaFile file;
    file.right = 99;
    file.top = 0;
    const Bytes run = {0x63, 0x80};
    file.rows = {Concat({Channel(run), Channel(run), Channel(run)})};
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    const uint8_t* row = graphic.ScanLine(0);
    EXPECT_EQ(Bytes(row, row + 300), Bytes(300, 0x80));
}

TEST(RLAGraphicTest, MatteBecomesTheFourthByte)
{
    RlaFile file;
    file.right = 2;
    file.top = 0;
    file.matteChannels = 1;
    file.rows = {Concat({Channel(Literal({1, 2, 3})), Channel(Literal({4, 5, 6})), Channel(Literal({7, 8, 9})),
                         Channel(Literal({0, 128, 255}))})};
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    EXPECT_EQ(graphic.PixelFormat(), pf32bit);
    EXPECT_EQ(PixelAt(graphic, 0, 0), (Bytes{7, 4, 1, 0}));
    EXPECT_EQ(PixelAt(graphic, 1, 0), (Bytes{8, 5, 2, 128}));
    EXPECT_EQ(PixelAt(graphic, 2, 0), (Bytes{9, 6, 3, 255}));
}

TEST(RLAGraphicTest, FourColourChannels)
{
    // Without a matte the fourth colour channel is not read: the row may end before it.
    RlaFile file;
    file.colorChannels = 4;
    file.top = 0;
    file.rows = {RgbRow(4, 10, 20, 30)};
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    EXPECT_EQ(graphic.PixelFormat(), pf24bit);
    EXPECT_EQ(PixelAt(graphic, 3, 0), (Bytes{30, 20, 10}));

    // With a matte, the matte is the channel after the fourth colour channel.
    file.matteChannels = 1;
    file.rows = {Concat({RgbRow(4, 10, 20, 30), Channel(RunOf(4, 99)), Channel(RunOf(4, 77))})};
    LoadInto(graphic, file.Build());
    EXPECT_EQ(graphic.PixelFormat(), pf32bit);
    EXPECT_EQ(PixelAt(graphic, 3, 0), (Bytes{30, 20, 10, 77}));
}

TEST(RLAGraphicTest, OnlyRgbOrRgbaImages)
{
    for (int channels : {0, 1, 2, 5, -3}) {
        SCOPED_TRACE(channels);
        RlaFile file;
        file.colorChannels = channels;
        file.rows = {RgbRow(4, 1, 2, 3), RgbRow(4, 1, 2, 3)};
        TRLAGraphic graphic;
        EXPECT_EQ(MessageOf([&] { LoadInto(graphic, file.Build()); }), "RLA: image must be RGB(A).");
        EXPECT_EQ(graphic.Width(), 0);
    }
}

TEST(RLAGraphicTest, RowsArePlacedByTheirTableEntries)
{
    RlaFile file;
    file.top = 3;
    for (int i = 0; i < 4; ++i)
        file.rows.push_back(RgbRow(4, uint8_t(10 * i), 0, 0));
    file.fileOrder = {2, 0, 3, 1};
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(PixelAt(graphic, 0, 3 - i)[2], 10 * i) << i;
}

TEST(RLAGraphicTest, RowOffsetsCountFromTheStartOfTheImage)
{
    RlaFile file;
    file.rows = {RgbRow(4, 1, 2, 3), RgbRow(4, 4, 5, 6)};
    const Bytes image = file.Build();
    Bytes embedded(77 + image.size(), 0xEE);
    for (size_t i = 0; i < image.size(); ++i)
        embedded[77 + i] = image[i];
    TMemoryStream stream(embedded);
    stream.SetPosition(77);
    TRLAGraphic graphic;
    graphic.LoadStream(stream);
    EXPECT_EQ(PixelAt(graphic, 0, 0), (Bytes{6, 5, 4}));
    EXPECT_EQ(PixelAt(graphic, 0, 1), (Bytes{3, 2, 1}));
}

TEST(RLAGraphicTest, DeeperChannelsKeepTheirTopBits)
{
    // 16-bit samples: all high bytes of the row, then all low bytes.
    RlaFile file;
    file.right = 1;
    file.top = 0;
    file.colorBits = 16;
    file.colorType = 1;
    const Bytes deep = Literal({0x12, 0xAB, 0x34, 0xCD});
    file.rows = {Concat({Channel(deep), Channel(deep), Channel(deep)})};
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    EXPECT_EQ(PixelAt(graphic, 0, 0), (Bytes{0x12, 0x12, 0x12}));
    EXPECT_EQ(PixelAt(graphic, 1, 0), (Bytes{0xAB, 0xAB, 0xAB}));

    // 10-bit samples 0x3FF and 0x155 become 0xFF and 0x55; the matte has 8 bits of its own.
    file.colorBits = 10;
    file.matteChannels = 1;
    const Bytes tenBits = Literal({0x03, 0x01, 0xFF, 0x55});
    file.rows = {Concat({Channel(tenBits), Channel(tenBits), Channel(tenBits), Channel(Literal({9, 8}))})};
    LoadInto(graphic, file.Build());
    EXPECT_EQ(PixelAt(graphic, 0, 0), (Bytes{0xFF, 0xFF, 0xFF, 9}));
    EXPECT_EQ(PixelAt(graphic, 1, 0), (Bytes{0x55, 0x55, 0x55, 8}));

    // Floating-point samples and more than 32 bits are refused.
    file.colorType = 4;
    file.colorBits = 32;
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, file.Build()); }), "RLA: unsupported channel depth.");
    file.colorType = 0;
    file.colorBits = 8;
    file.matteBits = 40;
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, file.Build()); }), "RLA: unsupported channel depth.");
}

TEST(RLAGraphicTest, PackedChannelsLongerThanTwiceTheWidth)
{
    // Width 2, yet each channel holds 10 packed bytes; what passes the row's end is dropped.
    RlaFile file;
    file.right = 1;
    file.top = 0;
    const Bytes padded = Concat({RunOf(1, 0x11), RunOf(1, 0x22), RunOf(1, 0x33), RunOf(1, 0x44), RunOf(1, 0x55)});
    file.rows = {Concat({Channel(padded), Channel(padded), Channel(padded)})};
    TRLAGraphic graphic;
    LoadInto(graphic, file.Build());
    EXPECT_EQ(PixelAt(graphic, 0, 0), (Bytes{0x11, 0x11, 0x11}));
    EXPECT_EQ(PixelAt(graphic, 1, 0), (Bytes{0x22, 0x22, 0x22}));
}

TEST(RLAGraphicTest, EmptyOrNegativeWidthFails)
{
    for (int right : {-1, -30000}) {
        RlaFile file;
        file.right = right;
        file.rows = {RgbRow(1, 1, 2, 3), RgbRow(1, 1, 2, 3)};
        TRLAGraphic graphic;
        EXPECT_EQ(MessageOf([&] { LoadInto(graphic, file.Build()); }), "RLA: invalid image size.");
    }
}

TEST(RLAGraphicTest, EveryTruncationFailsWithAReadError)
{
    RlaFile file;
    file.matteChannels = 1;
    file.top = 2;
    for (int i = 0; i < 3; ++i)
        file.rows.push_back(Concat({RgbRow(4, 1, 2, 3), Channel(Literal({1, 2, 3, 4}))}));
    const Bytes bytes = file.Build();
    for (size_t size = 0; size < bytes.size(); ++size) {
        TRLAGraphic graphic;
        ASSERT_EQ(
            MessageOf([&] { LoadInto(graphic, Bytes(bytes.begin(), bytes.begin() + size)); }), "Stream read error")
            << size;
    }
}

TEST(RLAGraphicTest, TableEntriesPastTheEndFail)
{
    RlaFile file;
    file.rows = {RgbRow(4, 1, 2, 3), RgbRow(4, 1, 2, 3)};
    Bytes bytes = file.Build();
    bytes[740 + 4] = 0x7F;  // row 1 at about 2 GB
    TRLAGraphic graphic;
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, bytes); }), "Stream read error");
}

}  // namespace
