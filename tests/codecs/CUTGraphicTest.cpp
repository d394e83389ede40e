#include "codecs/CUTGraphic.h"

#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tests/support/ReaderTesting.h"
#include "tests/support/TestData.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// Width, height, the reserved word, then the packed rows.
Bytes CutFile(uint16_t width, uint16_t height, const Bytes& rows)
{
    Bytes bytes(6 + rows.size(), 0);
    bytes[0] = uint8_t(width);
    bytes[1] = uint8_t(width >> 8);
    bytes[2] = uint8_t(height);
    bytes[3] = uint8_t(height >> 8);
    for (size_t i = 0; i < rows.size(); ++i)
        bytes[6 + i] = rows[i];
    return bytes;
}

struct PalEntry {
    uint16_t red, green, blue;
};

// A Dr. Halo palette file: the highest index at offset 12 of block 0, entries of three 16-bit
// values from offset 40, none crossing offset 506 of its 512-byte block.
Bytes PalFile(const std::vector<PalEntry>& entries, int highestIndex, int blocks)
{
    Bytes bytes(512 * size_t(blocks), 0);
    bytes[0] = 'A';
    bytes[1] = 'H';
    bytes[12] = uint8_t(highestIndex);
    bytes[13] = uint8_t(highestIndex >> 8);
    size_t block = 0, offset = 40;
    for (const PalEntry& e : entries) {
        if (offset > 506) {
            ++block;
            offset = 0;
        }
        uint8_t* p = bytes.data() + block * 512 + offset;
        const uint16_t values[3] = {e.red, e.green, e.blue};
        for (int i = 0; i < 3; ++i) {
            p[2 * i] = uint8_t(values[i]);
            p[2 * i + 1] = uint8_t(values[i] >> 8);
        }
        offset += 6;
    }
    return bytes;
}

std::vector<PalEntry> NumberedEntries(int count)
{
    std::vector<PalEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({uint16_t(i), uint16_t(255 - i), uint16_t(i / 2)});
    return entries;
}

TPaletteEntry Numbered(int i)
{
    return {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
}

// A 1 x 1 image whose only pixel has the index 42.
const Bytes kOnePixel42 = CutFile(1, 1, {0x03, 0x00, 0x81, 0x2A, 0x00});

class CUTGraphicTest : public testing::Test {
protected:
    void SetUp() override
    {
        EnsureAllFormatsRegistered();
        dir_ = fs::temp_directory_path() /
               ("kavrel-cut-" + std::to_string(getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path.string();
    }

    fs::path dir_;
};

bool IsGreyRamp(const std::vector<TPaletteEntry>& table)
{
    if (table.size() != 256)
        return false;
    for (int i = 0; i < 256; ++i)
        if (table[i] != TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0})
            return false;
    return true;
}

size_t OpenDescriptors()
{
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(CUTGraphicTest, OnePixelFromAStreamIsGrey)
{
    TCUTGraphic graphic;
    LoadInto(graphic, kOnePixel42);
    ASSERT_EQ(graphic.Width(), 1);
    ASSERT_EQ(graphic.Height(), 1);
    EXPECT_EQ(graphic.PixelFormat(), pf8bit);
    EXPECT_EQ(graphic.ScanLine(0)[0], 42);
    EXPECT_TRUE(IsGreyRamp(graphic.ColorTable()));
}

TEST_F(CUTGraphicTest, RowsFollowOneAnother)
{
    // Row 0: a literal 1, 2, 3 and a run of four 7s; row 1: a run of seven 9s. The row lengths are
    // not what the rows hold: the reader goes by the terminating zeros.
    const Bytes rows = {0x09, 0x00, 0x03, 1, 2, 3, 0x84, 7, 0x00, 0xFF, 0xFF, 0x87, 9, 0x00};
    TCUTGraphic graphic;
    LoadInto(graphic, CutFile(7, 2, rows));
    const uint8_t* top = graphic.ScanLine(0);
    const uint8_t* bottom = graphic.ScanLine(1);
    EXPECT_EQ(Bytes(top, top + 7), (Bytes{1, 2, 3, 7, 7, 7, 7}));
    EXPECT_EQ(Bytes(bottom, bottom + 7), Bytes(7, 9));
}

TEST_F(CUTGraphicTest, MalformedRowsStayInsideTheRowAndTheData)
{
    // Row 0 packs ten pixels into a row of four; row 2 has one run too many and no terminating zero
    // before the data end.
    const Bytes rows = {0x05, 0x00, 0x8A, 5, 0x00, 0x05, 0x00, 0x02, 6, 6, 0x00, 0x05, 0x00, 0x84, 9, 0x83, 8};
    TCUTGraphic graphic;
    LoadInto(graphic, CutFile(4, 3, rows));
    EXPECT_EQ(Bytes(graphic.ScanLine(0), graphic.ScanLine(0) + 4), Bytes(4, 5));
    EXPECT_EQ(Bytes(graphic.ScanLine(1), graphic.ScanLine(1) + 4), (Bytes{6, 6, 0, 0}));
    EXPECT_EQ(Bytes(graphic.ScanLine(2), graphic.ScanLine(2) + 4), Bytes(4, 9));
}

TEST_F(CUTGraphicTest, FilesCutShortShowTheRowsTheyHold)
{
    TCUTGraphic graphic;
    for (size_t size : {0, 1, 3, 5}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(MessageOf([&] { LoadInto(graphic, Bytes(kOnePixel42.begin(), kOnePixel42.begin() + size)); }),
            "Stream read error");
    }
    // Two rows of 128 pixels: runs of 127 and of 1.
    const Bytes twoRows = {0x04, 0x00, 0xFF, 1, 0x81, 2, 0x00, 0x04, 0x00, 0xFF, 3, 0x81, 4, 0x00};
    Bytes firstRow(127, 1);
    firstRow.push_back(2);
    // Cut in the second row's terminator, its last run, its first run, and before its length.
    for (size_t cut : { 1, 2, 4, 7 }) {
        SCOPED_TRACE(cut);
        LoadInto(graphic, CutFile(128, 2, Bytes(twoRows.begin(), twoRows.end() - cut)));
        ASSERT_EQ(graphic.Height(), 2);
        EXPECT_EQ(Bytes(graphic.ScanLine(0), graphic.ScanLine(0) + 128), firstRow);
        EXPECT_EQ(graphic.ScanLine(1)[126], cut < 4 ? 3 : 0);
        EXPECT_EQ(graphic.ScanLine(1)[127], cut < 2 ? 4 : 0);
    }
    // The picture stays bounded by the data: a header announcing a large one with a few bytes
    // behind it is refused before anything is made.
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, CutFile(60000, 1000, {})); }), "Stream read error");
    EXPECT_EQ(MessageOf([&] { LoadInto(graphic, CutFile(60000, 1000, twoRows)); }), "Stream read error");
}

TEST_F(CUTGraphicTest, PaletteFileBesideTheImageColoursIt)
{
    std::vector<PalEntry> entries = NumberedEntries(16);
    entries[1] = {0x01FF, 0x0080, 0x0000};  // only the low bytes count
    const std::string image = Write("photo.cut", CutFile(3, 1, {0x05, 0x00, 0x03, 1, 15, 40, 0x00}));
    Write("photo.pal", PalFile(entries, 15, 1));

    TPicture picture;
    picture.LoadFromFile(image);
    const auto* graphic = dynamic_cast<const TCUTGraphic*>(picture.Graphic());
    ASSERT_NE(graphic, nullptr);
    const auto& table = graphic->ColorTable();
    ASSERT_EQ(table.size(), 16u);
    EXPECT_EQ(table[0], Numbered(0));
    EXPECT_EQ(table[1], (TPaletteEntry{255, 128, 0, 0}));
    EXPECT_EQ(table[15], Numbered(15));
    // Index 40 has no entry of its own.
    EXPECT_EQ(graphic->ScanLine(0)[2], 40);
}

TEST_F(CUTGraphicTest, PaletteFileExtensionMayHaveAnyLetterCase)
{
    const struct {
        const char* image;
        const char* palette;
    } cases[] = { { "PHOTO.CUT", "PHOTO.PAL" }, { "photo.cut", "photo.PAL" }, { "Scan.Cut", "Scan.pAl" },
        { "dos.CUT", "dos.pal" } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        Write(c.palette, PalFile(NumberedEntries(16), 15, 1));
        TCUTGraphic graphic;
        graphic.LoadFile(Write(c.image, kOnePixel42));
        EXPECT_EQ(graphic.ColorTable().size(), 16u);
    }
    // With several spellings present, the lower-case one wins.
    Write("both.PAL", PalFile(NumberedEntries(4), 3, 1));
    Write("both.pal", PalFile(NumberedEntries(8), 7, 1));
    TCUTGraphic graphic;
    graphic.LoadFile(Write("both.cut", kOnePixel42));
    EXPECT_EQ(graphic.ColorTable().size(), 8u);
}

TEST_F(CUTGraphicTest, EntriesNeverCrossABlockBoundary)
{
    // 100 entries: 0 to 77 in block 0 (offsets 40 to 502), 78 to 99 in block 1 (offsets 0 to 126).
    Bytes pal = PalFile(NumberedEntries(100), 99, 2);
    ASSERT_EQ(pal[40 + 77 * 6], 77);
    ASSERT_EQ(pal[512 + 0], 78);
    ASSERT_EQ(pal[512 + 126], 99);
    // Bytes 508 to 511 of block 0 would make an entry there: they must be passed over.
    pal[508] = 0xAA;
    const std::string image = Write("grad.cut", kOnePixel42);
    Write("grad.pal", pal);

    TCUTGraphic graphic;
    graphic.LoadFile(image);
    const auto& table = graphic.ColorTable();
    ASSERT_EQ(table.size(), 100u);
    for (int i : {0, 77, 78, 99})
        EXPECT_EQ(table[i], Numbered(i)) << i;
}

TEST_F(CUTGraphicTest, PaletteFilesAnnouncingTooManyEntriesHold256)
{
    // 256 entries need four blocks (78 + 85 + 85 + 8).
    const std::string image = Write("many.cut", kOnePixel42);
    Write("many.pal", PalFile(NumberedEntries(256), 0xFFFF, 4));
    TCUTGraphic graphic;
    graphic.LoadFile(image);
    const auto& table = graphic.ColorTable();
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[255], Numbered(255));
    EXPECT_EQ(table[248], Numbered(248));
}

TEST_F(CUTGraphicTest, ShortPaletteFileFailsAndIsClosed)
{
    const std::string image = Write("short.cut", kOnePixel42);
    const size_t before = OpenDescriptors();
    // 100 entries announced, only block 0 present.
    Write("short.pal", PalFile(NumberedEntries(78), 99, 1));
    TCUTGraphic graphic;
    EXPECT_EQ(MessageOf([&] { graphic.LoadFile(image); }), "Stream read error");
    // Even shorter than one block.
    Write("short.pal", Bytes(100, 0));
    EXPECT_EQ(MessageOf([&] { graphic.LoadFile(image); }), "Stream read error");
    EXPECT_EQ(OpenDescriptors(), before);

    // The palette file is closed after a good load too: it can be removed and replaced.
    Write("short.pal", PalFile(NumberedEntries(2), 1, 1));
    graphic.LoadFile(image);
    EXPECT_EQ(graphic.ColorTable().size(), 2u);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(CUTGraphicTest, WithoutAPaletteFileTheImageIsGrey)
{
    const std::string image = Write("alone.cut", kOnePixel42);
    // Other names do not count, nor a folder that has the palette file's name.
    Write("alone.cut.pal", PalFile(NumberedEntries(4), 3, 1));
    Write("Alone.pal", PalFile(NumberedEntries(4), 3, 1));
    fs::create_directory(dir_ / "dir.pal");
    const std::string inFolder = Write("dir.cut", kOnePixel42);

    TCUTGraphic graphic;
    graphic.LoadFile(image);
    EXPECT_TRUE(IsGreyRamp(graphic.ColorTable()));
    EXPECT_EQ(graphic.ScanLine(0)[0], 42);
    graphic.LoadFile(inFolder);
    EXPECT_TRUE(IsGreyRamp(graphic.ColorTable()));
}

TEST_F(CUTGraphicTest, AStreamLoadAfterAFileLoadIsGrey)
{
    const std::string image = Write("photo.cut", kOnePixel42);
    Write("photo.pal", PalFile(NumberedEntries(16), 15, 1));
    TCUTGraphic graphic;
    graphic.LoadFile(image);
    ASSERT_EQ(graphic.ColorTable().size(), 16u);
    LoadInto(graphic, kOnePixel42);
    EXPECT_TRUE(IsGreyRamp(graphic.ColorTable()));
}

TEST(ChangeFileExtTest, ReplacesOrAppendsTheExtension)
{
    EXPECT_EQ(ChangeFileExt("/pics/photo.cut", ".pal"), "/pics/photo.pal");
    EXPECT_EQ(ChangeFileExt("/pics/photo.x.CUT", ".pal"), "/pics/photo.x.pal");
    EXPECT_EQ(ChangeFileExt("/pics.d/photo", ".pal"), "/pics.d/photo.pal");
    EXPECT_EQ(ChangeFileExt("photo", ".pal"), "photo.pal");
}
}  // namespace
