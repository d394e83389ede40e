#include "framework/Bitmap.h"

#include "framework/CpuDispatch.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/RowSink.h"
#include "framework/Stream.h"

#include <array>
#include <gtest/gtest.h>
#include <list>
#include <random>
#include <string>

namespace {

HPALETTE MakePalette(std::initializer_list<TPaletteEntry> entries)
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = static_cast<uint16_t>(entries.size());
    std::copy(entries.begin(), entries.end(), log.palPalEntry);
    return CreatePalette(log);
}

std::array<uint8_t, 4> PixelBgra(const TBitmap& b, int x, int y)
{
    std::vector<uint8_t> row(static_cast<size_t>(b.Width()) * 4);
    RowToBgra(b, y, row.data());
    return {row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
}

TEST(PaletteTest, RecordLayoutAndCreation)
{
    TLogPalette log{};
    EXPECT_EQ(sizeof log, 1028u);
    EXPECT_EQ(log.palPalEntry[255], TPaletteEntry{});  // value-initialised: black
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 3;
    log.palPalEntry[2] = {10, 20, 30, 0};
    HPALETTE p = CreatePalette(log);
    ASSERT_EQ(p->Count(), 3);
    EXPECT_EQ(p->Entries()[2], (TPaletteEntry{10, 20, 30, 0}));
    EXPECT_EQ(p->Entries()[0], TPaletteEntry{});

    log.palNumEntries = 1000;  // the record has room for 256 only
    EXPECT_EQ(CreatePalette(log)->Count(), 256);
}

TEST(PaletteTest, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(255, 128, 255), 128);
    EXPECT_EQ(MulDiv(1, 1, 2), 1);     // 0.5 -> 1
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);   // -0.5 -> -1
    EXPECT_EQ(MulDiv(1, 1, 3), 0);
    EXPECT_EQ(MulDiv(2, 1, 3), 1);
    EXPECT_EQ(MulDiv(5, 3, -2), -8);   // -7.5 -> -8
    EXPECT_EQ(MulDiv(65535, 65535, 65535), 65535);  // no 32-bit overflow in the product
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(BitmapTest, NewBitmapsAreEmptyAndDeviceDependent)
{
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_EQ(b.BitsPerPixel(), 32);
    EXPECT_THROW(b.ScanLine(0), Exception);
}

TEST(BitmapTest, RowsAreZeroFilledAndRowBytesFollowTheDepth)
{
    const std::pair<TPixelFormat, int> cases[] = {{pf1bit, 2}, {pf4bit, 5}, {pf8bit, 9},   {pf15bit, 18},
                                                  {pf16bit, 18}, {pf24bit, 27}, {pf32bit, 36}, {pfDevice, 36}};
    for (auto [format, rowBytes] : cases) {
        TBitmap b;
        b.SetPixelFormat(format);
        b.SetSize(9, 3);
        EXPECT_EQ(b.RowBytes(), rowBytes) << PixelFormatName(format);
        for (int y = 0; y < 3; ++y)
            for (int i = 0; i < rowBytes; ++i)
                ASSERT_EQ(b.ScanLine(y)[i], 0);
    }
}

TEST(BitmapTest, ResizingKeepsTheTopLeftAndZeroesTheRest)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 2);
    b.ScanLine(0)[0] = 7;
    b.ScanLine(1)[5] = 9;
    b.SetSize(3, 3);
    EXPECT_EQ(b.ScanLine(0)[0], 7);
    EXPECT_EQ(b.ScanLine(1)[5], 9);
    EXPECT_EQ(b.ScanLine(1)[6], 0);
    EXPECT_EQ(b.ScanLine(2)[0], 0);

    // A partial last byte: pixels beyond the old width must not inherit stale bits.
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(3, 1);
    mono.ScanLine(0)[0] = 0xFF;  // bits beyond the third pixel are garbage a reader may leave
    mono.SetWidth(8);
    EXPECT_EQ(mono.ScanLine(0)[0], 0xE0);
}

TEST(BitmapTest, LargePicturesAreZeroFilledResizedAndCopiedAlike)
{
    // Large pictures live in memory of their own (whole pages); small ones on the heap. Moving between the two
    // keeps the same rules.
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(1500, 1000);
    const int last = b.RowBytes() - 1;
    for (int y : { 0, 999 })
        for (int i : { 0, last })
            ASSERT_EQ(b.ScanLine(y)[i], 0);
    b.ScanLine(0)[0] = 1;
    b.ScanLine(999)[last] = 2;
    b.SetSize(1600, 1100);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(999)[last], 2);
    EXPECT_EQ(b.ScanLine(999)[last + 1], 0);
    EXPECT_EQ(b.ScanLine(1099)[b.RowBytes() - 1], 0);
    TBitmap copy(b);
    copy.ScanLine(0)[0] = 3;
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(copy.ScanLine(999)[last], 2);
    b.SetSize(10, 10);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    b.SetSize(1500, 1000);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(999)[last], 0);
}

// Records what a bitmap passes on.
class RecordingSink : public TRowSink {
public:
    bool TakesRgbRows() const override { return takesRgb; }
    void Start(
        int width, int height, TPixelFormat format, const std::vector<TPaletteEntry>& colors, bool rgbRows) override
    {
        starts.push_back({ width, height, format, colors.size(), rgbRows });
    }
    // Lent bands start as garbage, which the bitmap must clear.
    uint8_t* LendBand(size_t bytes) override
    {
        if (!lends)
            return nullptr;
        lent.emplace_back(bytes, 0xEE);
        return lent.back().data();
    }
    bool PutStoredRows(int first, int count, TStream& source) override
    {
        if (!takesStored)
            return false;
        std::vector<uint8_t> rows(3000 * static_cast<size_t>(count));
        source.ReadBuffer(rows.data(), static_cast<int64_t>(rows.size()));
        ++storedCalls;
        // The band lent last is the sink's again, to be used for other things.
        if (!lent.empty())
            std::fill(lent.back().begin(), lent.back().end(), 0xEE);
        for (int i = 0; i < count; ++i) {
            order.push_back(first + i);
            firstBytes.push_back(rows[3000 * i]);
            lastBytes.push_back(rows[3000 * i + 2999]);
        }
        return true;
    }
    void PutRows(int first, int count, const uint8_t* rows, size_t stride) override
    {
        if (lends) {
            EXPECT_EQ(rows, lent.back().data()) << "rows in the band last lent";
        }
        for (int i = 0; i < count; ++i) {
            order.push_back(first + i);
            firstBytes.push_back(rows[stride * i]);
            lastBytes.push_back(rows[stride * i + 2999]);
        }
    }
    void Finish() override { ++finished; }

    struct Started {
        int width, height;
        TPixelFormat format;
        size_t colors;
        bool rgbRows;
    };
    bool takesRgb = false;
    bool lends = false;
    bool takesStored = false;
    int storedCalls = 0;
    std::list<std::vector<uint8_t>> lent;
    std::vector<Started> starts;
    std::vector<int> order;
    std::vector<uint8_t> firstBytes, lastBytes;
    int finished = 0;
};

TEST(BitmapTest, RowsPassedOnToASinkComeInOrderOnce)
{
    // 800 rows of 3,000 bytes: more than one band. Rows the reader skips (some alone, 100 to 499 as
    // whole bands, 600 to 602, 690 to 699) arrive as zeros, in the bitmap's memory or in memory the sink lends.
    // Rows 603 to 699 are offered as stored rows, which a sink may copy itself; the band after them
    // must start zero again.
    const auto skipped
        = [](int y) { return y % 7 == 3 || (y >= 100 && y < 500) || (y >= 600 && y < 603) || (y >= 690 && y < 700); };
    for (const int way : { 0, 1, 2, 3 }) {
        const bool lends = way & 1, stored = way & 2;
        SCOPED_TRACE(lends ? "lent" : "own");
        SCOPED_TRACE(stored ? "stored rows copied" : "stored rows refused");
        RecordingSink sink;
        sink.lends = lends;
        sink.takesStored = stored;
        TBitmap b;
        b.SetRowSink(&sink);
        b.SetPixelFormat(pf24bit);
        b.SetSize(1000, 800);
        ASSERT_EQ(sink.starts.size(), 1u);
        EXPECT_EQ(sink.starts[0].height, 800);
        EXPECT_EQ(sink.starts[0].format, pf24bit);
        EXPECT_FALSE(sink.starts[0].rgbRows);
        // Row by row, and now and then 60 rows as one block (which twice needs the band moved on).
        for (int y = 0; y < 800;) {
            if (y == 603) {
                std::vector<uint8_t> file(3000 * 97);
                for (int k = 0; k < 97; ++k)
                    if (!skipped(603 + k)) {
                        file[3000 * k] = static_cast<uint8_t>(603 + k);
                        file[3000 * k + 2999] = static_cast<uint8_t>(604 + k);
                    }
                TMemoryStream rows(file.data(), file.size());
                if (b.PassStoredRows(603, 97, rows)) {
                    EXPECT_EQ(rows.Position(), rows.Size());
                    y = 700;
                    continue;
                }
                EXPECT_EQ(rows.Position(), 0);
            }
            // The block at 700 is one the reader fills whole (RowsToFill): not cleared first, but the
            // rows before it in the band that were never handed out are.
            const bool fills = y == 700;
            uint8_t* const block
                = y % 100 == 0 && !skipped(y) ? (fills ? b.RowsToFill(y, 60) : b.ScanLines(y, 60)) : nullptr;
            if (block && fills)
                std::fill_n(block, 3000 * 60, 0);
            for (int k = 0; k < (block ? 60 : 1); ++k, ++y) {
                if (skipped(y))
                    continue;
                uint8_t* const row = block ? block + 3000 * k : b.ScanLine(y);
                row[0] = static_cast<uint8_t>(y);
                row[2999] = static_cast<uint8_t>(y + 1);
            }
        }
        EXPECT_EQ(b.ScanLines(10, 1), nullptr); // asked for already
        TMemoryStream none;
        EXPECT_FALSE(b.PassStoredRows(10, 1, none));
        EXPECT_EQ(sink.storedCalls, stored ? 1 : 0);
        EXPECT_THROW(b.ScanLine(0), Exception);
        EXPECT_THROW(TBitmap { b }, Exception);
        EXPECT_THROW(b.SetPixelFormat(pf8bit), Exception);
        EXPECT_THROW(b.SetSize(10, 10), Exception);
        EXPECT_EQ(sink.finished, 0);
        b.FinishRows();
        EXPECT_EQ(sink.finished, 1);
        EXPECT_TRUE(b.Empty());
        ASSERT_EQ(sink.order.size(), 800u);
        for (int y = 0; y < 800; ++y) {
            ASSERT_EQ(sink.order[y], y);
            EXPECT_EQ(sink.firstBytes[y], skipped(y) ? 0 : static_cast<uint8_t>(y)) << y;
            EXPECT_EQ(sink.lastBytes[y], skipped(y) ? 0 : static_cast<uint8_t>(y + 1)) << y;
        }
        EXPECT_EQ(sink.lent.empty(), !lends);
    }
    // A reader may hand 24-bit rows over as red, green, blue only to a sink that takes them so.
    for (TPixelFormat format : { pf24bit, pf8bit }) {
        RecordingSink rgbSink;
        rgbSink.takesRgb = true;
        TBitmap rgb;
        rgb.SetRowSink(&rgbSink);
        rgb.SetPixelFormat(format);
        EXPECT_EQ(rgb.UseRgbRows(), format == pf24bit);
        rgb.SetSize(2, 2);
        EXPECT_EQ(rgbSink.starts.at(0).rgbRows, format == pf24bit);
    }
    EXPECT_FALSE(TBitmap().UseRgbRows());
    // A reader that cannot go top row first has all rows kept and passed on at the end, in order.
    RecordingSink keptSink;
    TBitmap kept;
    kept.SetRowSink(&keptSink);
    kept.KeepAllRows();
    kept.SetPixelFormat(pf24bit);
    kept.SetSize(1000, 800);
    for (int y = 799; y >= 0; --y)
        kept.ScanLine(y)[0] = static_cast<uint8_t>(y);
    EXPECT_TRUE(keptSink.order.empty());
    kept.FinishRows();
    ASSERT_EQ(keptSink.order.size(), 800u);
    for (int y = 0; y < 800; ++y) {
        ASSERT_EQ(keptSink.order[y], y);
        EXPECT_EQ(keptSink.firstBytes[y], static_cast<uint8_t>(y));
    }
    // A plain bitmap's rows make one block unless they are padded.
    TBitmap blocks;
    blocks.SetPixelFormat(pf24bit);
    blocks.SetSize(4, 3);
    EXPECT_EQ(blocks.ScanLines(1, 2), blocks.ScanLine(1));
    EXPECT_EQ(blocks.ScanLines(1, 3), nullptr);
    blocks.SetSize(5, 3);
    EXPECT_EQ(blocks.ScanLines(0, 1), nullptr);
    // Without a sink FinishRows leaves a bitmap alone.
    TBitmap plain;
    plain.SetSize(2, 2);
    plain.FinishRows();
    EXPECT_FALSE(plain.Empty());
}

TEST(BitmapTest, HugeSizesAreRefusedBeforeAllocating)
{
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetWidth(65535);
    EXPECT_THROW(b.SetHeight(65535), EOutOfResources);
    EXPECT_EQ(b.Height(), 0);  // unchanged after the refusal
    EXPECT_THROW(TBitmap::CheckSize(-1, 5, pf8bit), EOutOfResources);
    EXPECT_NO_THROW(TBitmap::CheckSize(4000, 3000, pf24bit));
    // A 1-bit picture is shown at 32 bits: it may not claim more pixels than a 32-bit one.
    EXPECT_THROW(TBitmap::CheckSize(40000, 40000, pf1bit), EOutOfResources);
    // Without rows, a width alone may not claim gigabytes either.
    EXPECT_THROW(TBitmap::CheckSize(int64_t{1} << 30, 0, pf32bit), EOutOfResources);
}

TEST(BitmapTest, RowsOfAPictureWithoutColumnsExist)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(0, 3);
    EXPECT_TRUE(b.Empty());
    EXPECT_NE(b.ScanLine(2), nullptr);
    EXPECT_EQ(b.RowBytes(), 0);
    EXPECT_THROW(b.ScanLine(3), Exception);
    uint8_t untouched = 7;
    RowToBgra(b, 0, &untouched);
    EXPECT_EQ(untouched, 7);
}

TEST(BitmapTest, ReleaseHandleForgetsImagePaletteAndFormat)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetPalette(MakePalette({{1, 2, 3, 0}}));
    b.SetSize(4, 4);
    b.ReleaseHandle();
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_EQ(b.Palette(), nullptr);
}

TEST(BitmapTest, PaletteBecomesTheColourTable)
{
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.ColorTable().size(), 256u);  // a default table until a palette is given
    b.SetPalette(MakePalette({{255, 0, 0, 0}, {0, 0, 255, 0}}));
    b.SetSize(3, 1);
    b.ScanLine(0)[0] = 1;
    b.ScanLine(0)[2] = 200;  // beyond the table: black
    EXPECT_EQ(PixelBgra(b, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_EQ(PixelBgra(b, 2, 0), (std::array<uint8_t, 4>{0, 0, 0, 255}));
}

TEST(BitmapTest, CopiesAreIndependent)
{
    TBitmap a;
    a.SetPixelFormat(pf8bit);
    a.SetPalette(MakePalette({{9, 9, 9, 0}}));
    a.SetSize(2, 2);
    a.ScanLine(1)[1] = 5;
    TBitmap b(a);
    b.ScanLine(1)[1] = 6;
    EXPECT_EQ(a.ScanLine(1)[1], 5);
    ASSERT_NE(b.Palette(), nullptr);
    EXPECT_NE(b.Palette(), a.Palette());
    EXPECT_EQ(b.Palette()->Entries(), a.Palette()->Entries());
    std::unique_ptr<TGraphic> clone = a.Clone();
    EXPECT_EQ(clone->ClassType().name, std::string("TBitmap"));
    EXPECT_EQ(clone->Width(), 2);
}

TEST(BitmapTest, WideningIndexedFormatsKeepsIndicesAndColours)
{
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetPalette(MakePalette({{10, 20, 30, 0}, {200, 100, 50, 0}}));
    b.SetSize(10, 2);
    b.ScanLine(0)[0] = 0xA0;  // pixels 0 and 2 set
    b.ScanLine(1)[1] = 0x40;  // pixel 9 set
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(0)[1], 0);
    EXPECT_EQ(b.ScanLine(0)[2], 1);
    EXPECT_EQ(b.ScanLine(1)[9], 1);
    EXPECT_EQ(PixelBgra(b, 9, 1), (std::array<uint8_t, 4>{50, 100, 200, 255}));
}

TEST(BitmapTest, TrueColourConversionsKeepColours)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 1);
    uint8_t* row = b.ScanLine(0);
    row[0] = 255, row[1] = 0, row[2] = 0;      // blue
    row[3] = 0, row[4] = 255, row[5] = 255;    // yellow
    b.SetPixelFormat(pf32bit);
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 255, 255, 255}));  // opaque once it has alpha
    b.SetPixelFormat(pf15bit);
    EXPECT_EQ(PixelBgra(b, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    b.SetPixelFormat(pf16bit);
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 255, 255, 255}));
    // Down to a palette: colours map to the nearest entry of the default table.
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(PixelBgra(b, 0, 0), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{0, 255, 255, 255}));
    b.SetPixelFormat(pf1bit);
    EXPECT_EQ(PixelBgra(b, 1, 0), (std::array<uint8_t, 4>{255, 255, 255, 255}));  // yellow is nearer white
}

TEST(ColorMatcherTest, FindsTheNearestEntry)
{
    TColorMatcher m({{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 250, 0}});
    EXPECT_EQ(m.Nearest(0, 0, 200), 1);    // arguments are blue, green, red
    EXPECT_EQ(m.Nearest(240, 10, 10), 2);
    EXPECT_EQ(m.Nearest(20, 20, 20), 0);
    TColorMatcher empty({});
    EXPECT_EQ(empty.Nearest(1, 2, 3), 0);
}

// PixelsToRgb gives PixelsToBgra's bytes with blue and red exchanged (the fourth kept or dropped), and the
// processor's versions of the conversions give the portable ones' bytes without writing past the row.
TEST(PixelConversionTest, RgbRowsAndProcessorVersionsAgree)
{
    std::mt19937 rng(11);
    std::vector<TPaletteEntry> table(200);
    for (TPaletteEntry& e : table)
        e = { static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 0 };
    constexpr size_t kGuard = 40;
    for (TPixelFormat format : { pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfDevice }) {
        for (int width : { 0, 1, 5, 9, 10, 17, 300, 1001 }) {
            SCOPED_TRACE(std::string(PixelFormatName(format)) + " " + std::to_string(width));
            std::vector<uint8_t> row(TBitmap::RowBytesFor(width, format));
            for (uint8_t& b : row)
                b = static_cast<uint8_t>(rng());
            const auto pixels = static_cast<size_t>(width);
            std::vector<uint8_t> bgra[2], rgb[2], rgba[2], swapped[2];
            for (bool portable : { false, true }) {
                ForcePortableCode(portable);
                bgra[portable].assign(4 * pixels + kGuard, 0x5A);
                PixelsToBgra(row.data(), width, format, table, bgra[portable].data());
                rgb[portable].assign(3 * pixels + kGuard, 0x5A);
                PixelsToRgb(row.data(), width, format, table, false, rgb[portable].data());
                rgba[portable].assign(4 * pixels + kGuard, 0x5A);
                PixelsToRgb(row.data(), width, format, table, true, rgba[portable].data());
                if (format == pf24bit) {
                    swapped[portable] = row;
                    SwapRedAndBlue(swapped[portable].data(), swapped[portable].data(), pixels);
                }
            }
            ForcePortableCode(false);
            EXPECT_EQ(bgra[0], bgra[1]);
            EXPECT_EQ(rgb[0], rgb[1]);
            EXPECT_EQ(rgba[0], rgba[1]);
            EXPECT_EQ(swapped[0], swapped[1]);
            for (size_t x = 0; x < pixels; ++x) {
                const uint8_t* b = &bgra[0][4 * x];
                ASSERT_EQ((std::array<uint8_t, 3> { rgb[0][3 * x], rgb[0][3 * x + 1], rgb[0][3 * x + 2] }),
                    (std::array<uint8_t, 3> { b[2], b[1], b[0] }));
                ASSERT_EQ((std::array<uint8_t, 4> {
                              rgba[0][4 * x], rgba[0][4 * x + 1], rgba[0][4 * x + 2], rgba[0][4 * x + 3] }),
                    (std::array<uint8_t, 4> { b[2], b[1], b[0], b[3] }));
            }
            EXPECT_EQ(std::vector<uint8_t>(rgb[0].end() - kGuard, rgb[0].end()), std::vector<uint8_t>(kGuard, 0x5A));
            EXPECT_EQ(std::vector<uint8_t>(bgra[0].end() - kGuard, bgra[0].end()), std::vector<uint8_t>(kGuard, 0x5A));
        }
    }
}

}  // namespace
