#include "tools/kavrel-cli/Cli.h"

#include "codecs/TargaGraphic.h"
#include "framework/Bitmap.h"
#include "framework/CpuDispatch.h"
#include "framework/Picture.h"
#include "framework/PngDecoder.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"
#include "tools/kavrel-cli/GeometryArgument.h"
#include "tools/kavrel-cli/PamFile.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunTool(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int status = RunCli(args, out, err);
    return {status, out.str(), err.str()};
}

class CliTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("kavrel-cli-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string WriteBitmap(const std::string& name, TPixelFormat format)
    {
        TBitmap b;
        b.SetPixelFormat(format);
        b.SetSize(3, 2);
        b.ScanLine(0)[0] = 0x12;
        const std::string path = (dir_ / name).string();
        TFileStream s(path, TFileStream::Mode::Create);
        b.SaveStream(s);
        return path;
    }
    std::string WriteBytes(const std::string& name, const std::string& bytes)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    size_t FileCount() const { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); }

    fs::path dir_;
};

TEST_F(CliTest, HelpAndUsageErrors)
{
    Result r = RunTool({ "--help" });
    EXPECT_EQ(r.status, 0);
    for (const char* command : { "formats", "info FILE...", "convert IN OUT" })
        EXPECT_NE(r.out.find(std::string("\n  ") + command), std::string::npos) << command;

    // Every command's own help names its usage and its options.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>> { { "convert", "--help" },
             { "help", "convert" }, { "convert", "a.bmp", "-h" }, { "info", "--help" }, { "formats", "-h" } }) {
        r = RunTool(args);
        EXPECT_EQ(r.status, 0);
        const std::string& name = args[0] == "help" ? args[1] : args[0];
        EXPECT_EQ(r.out.rfind("usage: kavrel-cli " + name, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("options:\n  -h, --help"), std::string::npos) << r.out;
    }

    // Wrong usage: status 2 and one line that points at the help.
    const std::vector<std::vector<std::string>> wrong = { {}, { "frobnicate" }, { "help", "frobnicate" },
        { "convert", "only-one" }, { "convert", "a", "b", "c" }, { "info" }, { "formats", "extra" },
        { "convert", "in.bmp", "out.unknown" }, { "convert", "in.bmp", "out.jpg" } };
    for (const std::vector<std::string>& args : wrong) {
        r = RunTool(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("kavrel-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("--help)"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(GeometryArgumentTest, ParsesWhatXwininfoAndSlopPrintAndPlacesItOnTheScreen)
{
    struct Case {
        const char* text;
        TRect placed; // on a 1920 x 1080 screen; all zero: refused or wholly outside
    };
    const Case cases[] = {
        { "300x200+40+30", { 40, 30, 340, 230 } },
        { "300X200+0+0", { 0, 0, 300, 200 } },
        { "300x200+-50+-20", { 0, 0, 250, 180 } }, // partly beyond the top-left corner
        { "300x200+1800+1000", { 1800, 1000, 1920, 1080 } },
        { "300x200-0-0", { 1620, 880, 1920, 1080 } }, // from the right and bottom edges
        { "300x200-10+5", { 1610, 5, 1910, 205 } },
        { "300x200--10+5", { 1630, 5, 1920, 205 } },
        { "300x200+1920+0", {} }, // wholly outside
        { "300x200+5000000000+0", {} }, // offset beyond int
        { "0x200+0+0", {} },
        { "300x200", {} },
        { "300x200+5", {} },
        { "300x200+5+5+5", {} },
        { "-300x200+5+5", {} },
        { "300x200+ 5+5", {} },
        { "300*200+5+5", {} },
        { "", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<TGeometryArgument> g = ParseGeometryArgument(c.text);
        const TRect placed = g ? PlaceOnScreen(*g, { 1920, 1080 }) : TRect {};
        EXPECT_EQ(placed, c.placed) << placed.Left << ", " << placed.Top << ", " << placed.Right << ", "
                                    << placed.Bottom;
    }
}

TEST_F(CliTest, FormatsListsNewestFirst)
{
    const Result r = RunTool({"formats"});
    ASSERT_EQ(r.status, 0);
    const size_t dib = r.out.find("dib\tWindows bitmap\tTBitmap\n");
    const size_t rle = r.out.find("rle\tWindows bitmap\tTBitmap\n");
    const size_t bmp = r.out.find("bmp\t位图\tTBitmap\n");
    ASSERT_NE(dib, std::string::npos);
    ASSERT_NE(rle, std::string::npos);
    ASSERT_NE(bmp, std::string::npos);
    EXPECT_LT(dib, rle);
    EXPECT_LT(rle, bmp);
}

TEST_F(CliTest, InfoDescribesEachFileAndReportsFailures)
{
    const std::string a = WriteBitmap("a.bmp", pf8bit);
    const std::string b = WriteBytes("b.bmp", "BM" + std::string(30, 'x'));
    const Result r = RunTool({"info", a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, a + ": TBitmap 3x2 pf8bit palette=256\n");
    EXPECT_EQ(r.err, "kavrel-cli: " + b + ": Bitmap image is not valid\n");
}

TEST_F(CliTest, ConvertWritesBitmapsPngAndPam)
{
    const std::string in = WriteBitmap("in.dib", pf24bit);
    ASSERT_EQ(RunTool({"convert", in, (dir_ / "out.BMP").string()}).status, 0);
    TBitmap back;
    TFileStream s((dir_ / "out.BMP").string(), TFileStream::Mode::OpenRead);
    back.LoadStream(s);
    EXPECT_EQ(back.PixelFormat(), pf24bit);
    EXPECT_EQ(back.ScanLine(0)[0], 0x12);

    ASSERT_EQ(RunTool({ "convert", in, (dir_ / "out.Png").string() }).status, 0);
    EXPECT_TRUE(IsPng(ReadFileBytes(dir_ / "out.Png")));

    ASSERT_EQ(RunTool({"convert", in, (dir_ / "out.pam").string()}).status, 0);
    const RgbaImage pam = ReadPam(dir_ / "out.pam");
    EXPECT_EQ(pam.width, 3);
    EXPECT_FALSE(pam.hasAlpha);
    EXPECT_EQ(pam.At(0, 0)[2], 0x12);  // the blue byte of the first pixel
}

TEST_F(CliTest, AFailedConvertLeavesTheTargetAlone)
{
    const std::string target = WriteBytes("keep.pam", "old contents");
    const Result r = RunTool({"convert", WriteBytes("bad.bmp", "BMxx"), target});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("kavrel-cli: ", 0), 0u);
    EXPECT_EQ(ReadFileBytes(target).size(), 12u);
    EXPECT_EQ(RunTool({"convert", (dir_ / "missing.bmp").string(), target}).err,
              "kavrel-cli: Cannot open file " + (dir_ / "missing.bmp").string() + "\n");
    EXPECT_EQ(FileCount(), 2u); // keep.pam, bad.bmp: no temporary file left behind
}

// Every Windows bitmap of the shared samples converts to a PAM that equals its reference.
TEST_F(CliTest, ConvertsTheSharedBitmapsToTheirReferences)
{
    KAVREL_REQUIRE_TESTDATA(data);
    int converted = 0;
    for (const ManifestRow& row : ReadManifest(data)) {
        if (row.Folder() != "bmp" || row.expect == "none")
            continue;
        SCOPED_TRACE(row.path);
        const fs::path out = dir_ / "out.pam";
        const Result r = RunTool({"convert", (data / row.path).string(), out.string()});
        if (row.expect == "fail") {
            EXPECT_EQ(r.status, 1);
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        const ImageDifference d = CompareRgb(ReadPam(out), ReadPam(data / (row.path + ".ref.pam")), 8);
        EXPECT_LE(d.maxDiff, row.expect == "exact" ? 0 : 8);
        ++converted;
    }
    EXPECT_GT(converted, 20);
}

// Pictures whose readers pass rows on go to PAM files row by row as they are read or decoded; the file must be
// the one written from the whole picture, which is written here with the portable code (so the processor's
// versions are compared too). A picture that cannot be read leaves no file.
void ExpectStreamedPamLikeWhole(const fs::path& in, const fs::path& out)
{
    const Result r = RunTool({ "convert", in.string(), out.string() });
    TMemoryStream whole;
    try {
        TPicture picture;
        picture.LoadFromFile(in.string());
        ForcePortableCode(true);
        WritePam(whole, *picture.Graphic()->DisplayBitmap());
        ForcePortableCode(false);
    } catch (const Exception& e) {
        EXPECT_EQ(r.status, 1) << e.Message();
        EXPECT_FALSE(fs::exists(out));
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFileBytes(out) == whole.Bytes());
    fs::remove(out);
}

TEST_F(CliTest, StreamedPamFilesEqualThoseOfTheWholePicture)
{
    KAVREL_REQUIRE_TESTDATA(data);
    const std::vector<std::string> streamed = { "tiff", "jpeg", "bmp", "pnm", "tga", "sgi", "gif", "pcx" };
    int compared = 0;
    for (const ManifestRow& row : ReadManifest(data)) {
        if (std::find(streamed.begin(), streamed.end(), row.Folder()) == streamed.end())
            continue;
        SCOPED_TRACE(row.path);
        ExpectStreamedPamLikeWhole(data / row.path, dir_ / "streamed.pam");
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

// Pictures of several bands of rows, with rows stored top row first and bottom row first, raw and packed, of
// widths whose rows are padded and not: converted as they are read, and read whole, they give the PAM file of
// the picture they were made from.
TEST_F(CliTest, LargeStreamedPicturesConvertToThePictureTheyHold)
{
    uint32_t seed = 1;
    auto noise = [&](TPixelFormat format, int width, int height, std::vector<TPaletteEntry> colors = {}) {
        TBitmap b;
        b.SetPixelFormat(format);
        if (!colors.empty()) {
            TLogPalette log {};
            log.palVersion = kPaletteVersion;
            log.palNumEntries = static_cast<uint16_t>(colors.size());
            std::copy(colors.begin(), colors.end(), log.palPalEntry);
            b.SetPalette(CreatePalette(log));
        }
        b.SetSize(width, height);
        for (int y = 0; y < height; ++y)
            for (int i = 0; i < b.RowBytes(); ++i)
                b.ScanLine(y)[i] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
        return b;
    };
    auto upsideDown = [](TBitmap b) {
        for (int y = 0; y < b.Height() / 2; ++y)
            std::swap_ranges(b.ScanLine(y), b.ScanLine(y) + b.RowBytes(), b.ScanLine(b.Height() - 1 - y));
        return b;
    };
    // The file of the picture made by `write`; a name with "flip" has rows written upside down, which its
    // header then says.
    auto save = [&](const std::string& name, const std::function<void(TStream&)>& write) {
        TMemoryStream bytes;
        write(bytes);
        std::vector<uint8_t> file = bytes.TakeBytes();
        if (name.find("flip") != std::string::npos) {
            if (name.ends_with(".tga")) {
                file[17] ^= 0x20;
            } else {
                const int32_t height
                    = -static_cast<int32_t>(file[22] | file[23] << 8 | file[24] << 16 | file[25] << 24);
                for (int i = 0; i < 4; ++i)
                    file[22 + i] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> 8 * i);
            }
        }
        const fs::path path = dir_ / name;
        TFileStream(path.string(), TFileStream::Mode::Create)
            .WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
        return path;
    };
    auto bitmapFile = [&](const std::string& name, const TBitmap& b) {
        return save(name, [&](TStream& s) { TBitmap(b).SaveStream(s); });
    };
    auto targaFile = [&](const std::string& name, const TBitmap& b, bool compressed) {
        TTargaGraphic targa;
        targa.Assign(b);
        return save(name, [&](TStream& s) { targa.SaveTarga(s, compressed); });
    };
    auto netpbmFile = [&](const std::string& name, const std::string& magic, const TBitmap& b) {
        return save(name, [&](TStream& s) {
            const std::string header = magic + "\n" + std::to_string(b.Width()) + " " + std::to_string(b.Height())
                + (magic == "P4" ? "\n" : "\n255\n");
            s.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
            std::vector<uint8_t> row(static_cast<size_t>(b.RowBytes()));
            for (int y = 0; y < b.Height(); ++y) {
                std::copy_n(b.ScanLine(y), row.size(), row.begin());
                if (magic == "P6")
                    for (size_t i = 0; i < row.size(); i += 3)
                        std::swap(row[i], row[i + 2]);
                s.WriteBuffer(row.data(), static_cast<int64_t>(row.size()));
            }
        });
    };
    auto sgiFile = [&](const std::string& name, const TBitmap& b) {
        return save(name, [&](TStream& s) {
            uint8_t header[512] = { 0x01, 0xDA, 0, 1, 0, 3 };
            const int channels = b.PixelFormat() == pf32bit ? 4 : 3;
            const uint16_t sizes[3] = { static_cast<uint16_t>(b.Width()), static_cast<uint16_t>(b.Height()),
                static_cast<uint16_t>(channels) };
            for (int i = 0; i < 3; ++i)
                header[6 + 2 * i] = static_cast<uint8_t>(sizes[i] >> 8),
                               header[7 + 2 * i] = static_cast<uint8_t>(sizes[i]);
            s.WriteBuffer(header, sizeof header);
            std::vector<uint8_t> plane;
            for (int k = 0; k < channels; ++k) {
                plane.clear();
                for (int y = b.Height() - 1; y >= 0; --y)
                    for (int x = 0; x < b.Width(); ++x)
                        plane.push_back(b.ScanLine(y)[channels * x + (k < 3 ? 2 - k : 3)]);
                s.WriteBuffer(plane.data(), static_cast<int64_t>(plane.size()));
            }
        });
    };

    // An RGB TIFF in strips of 50 rows, uncompressed or in PackBits literals, cut after `keep` bytes of strip
    // data: the pixels whose bytes were cut off are then zero in the picture it holds.
    auto tiffFile = [&](const std::string& name, TBitmap& b, bool packBits, size_t keep = SIZE_MAX) {
        return save(name, [&](TStream& s) {
            const auto rowBytes = static_cast<size_t>(b.RowBytes());
            const int strips = (b.Height() + 49) / 50;
            // The strips' bytes, and for each the pixel byte it carries (SIZE_MAX: a PackBits count).
            std::vector<uint8_t> data;
            std::vector<size_t> origin;
            std::vector<uint32_t> starts, counts;
            for (int strip = 0; strip < strips; ++strip) {
                starts.push_back(static_cast<uint32_t>(data.size()));
                const size_t from = rowBytes * 50 * strip, to = rowBytes * std::min(50 * (strip + 1), b.Height());
                for (size_t i = from; i < to; ++i) {
                    if (packBits && (i - from) % 128 == 0) {
                        data.push_back(static_cast<uint8_t>(std::min<size_t>(128, to - i) - 1));
                        origin.push_back(SIZE_MAX);
                    }
                    data.push_back(b.ScanLine(static_cast<int>(i / rowBytes))[i % rowBytes / 3 * 3 + 2 - i % 3]);
                    origin.push_back(i);
                }
                counts.push_back(static_cast<uint32_t>(data.size()) - starts.back());
            }
            auto le = [](std::vector<uint8_t>& out, uint32_t v, int bytes) {
                for (int i = 0; i < bytes; ++i)
                    out.push_back(static_cast<uint8_t>(v >> 8 * i));
            };
            std::vector<uint8_t> file;
            le(file, 0x002A4949, 4);
            le(file, 8, 4);
            const uint32_t entries = 9, offsets = 8 + 2 + entries * 12 + 4, sizes = offsets + 4 * strips,
                           first = sizes + 4 * strips;
            le(file, entries, 2);
            const uint32_t tags[9][3] = { { 256, 4, uint32_t(b.Width()) }, { 257, 4, uint32_t(b.Height()) },
                { 258, 3, 8 }, { 259, 3, packBits ? 32773u : 1u }, { 262, 3, 2 }, { 273, 4, offsets }, { 277, 3, 3 },
                { 278, 4, 50 }, { 279, 4, sizes } };
            for (const auto& [tag, type, value] : tags) {
                le(file, tag, 2);
                le(file, type, 2);
                le(file, tag == 273 || tag == 279 ? strips : 1, 4);
                le(file, value, 4);
            }
            le(file, 0, 4);
            for (const uint32_t start : starts)
                le(file, first + start, 4);
            for (const uint32_t count : counts)
                le(file, count, 4);
            file.insert(file.end(), data.begin(), data.begin() + std::min(keep, data.size()));
            s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
            for (size_t i = keep; i < data.size(); ++i)
                if (origin[i] != SIZE_MAX)
                    b.ScanLine(static_cast<int>(origin[i] / rowBytes))[origin[i] % rowBytes / 3 * 3 + 2 - origin[i] % 3]
                        = 0;
        });
    };

    std::vector<TPaletteEntry> greys;
    for (int i = 0; i < 256; ++i)
        greys.push_back({ static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0 });
    const TBitmap rgb = noise(pf24bit, 701, 1100);
    const TBitmap rgb640 = noise(pf24bit, 640, 1100);
    const TBitmap rgba = noise(pf32bit, 640, 900);
    TBitmap tiff = noise(pf24bit, 701, 1100), cut = noise(pf24bit, 640, 1100), packed = noise(pf24bit, 640, 1100);
    const TBitmap grey = noise(pf8bit, 1201, 1000, greys);
    const TBitmap bits = noise(pf1bit, 5000, 2000, { { 255, 255, 255, 0 }, { 0, 0, 0, 0 } });
    const std::vector<std::pair<fs::path, const TBitmap*>> files = {
        { bitmapFile("rgb.bmp", rgb), &rgb },
        { bitmapFile("rgb-flip.bmp", upsideDown(rgb)), &rgb },
        { bitmapFile("rgba.bmp", rgba), &rgba },
        { bitmapFile("grey-flip.bmp", upsideDown(grey)), &grey },
        { targaFile("rgb.tga", rgb, false), &rgb },
        { targaFile("rgb-flip.tga", upsideDown(rgb), false), &rgb },
        { targaFile("rgba-packed.tga", rgba, true), &rgba },
        { targaFile("rgba-packed-flip.tga", upsideDown(rgba), true), &rgba },
        { targaFile("grey-packed-flip.tga", upsideDown(grey), true), &grey },
        { netpbmFile("rgb.ppm", "P6", rgb), &rgb },
        { netpbmFile("rgb-640.ppm", "P6", rgb640), &rgb640 },
        { netpbmFile("grey.pgm", "P5", grey), &grey },
        { netpbmFile("bits.pbm", "P4", bits), &bits },
        { sgiFile("rgb.sgi", rgb), &rgb },
        { sgiFile("rgba.sgi", rgba), &rgba },
        { tiffFile("rgb.tif", tiff, false), &tiff },
        { tiffFile("cut.tif", cut, false, 640 * 3 * 777 + 1000), &cut },
        { tiffFile("packbits-cut.tif", packed, true, 640 * 3 * 600 + 1000), &packed },
    };
    const fs::path out = dir_ / "streamed.pam";
    for (const auto& [file, picture] : files) {
        SCOPED_TRACE(file.filename().string());
        TMemoryStream expected;
        WritePam(expected, *picture);
        ASSERT_EQ(RunTool({ "convert", file.string(), out.string() }).status, 0);
        EXPECT_TRUE(ReadFileBytes(out) == expected.Bytes());
        TPicture whole;
        whole.LoadFromFile(file.string());
        TMemoryStream wholePam;
        WritePam(wholePam, *whole.Graphic()->DisplayBitmap());
        EXPECT_TRUE(wholePam.Bytes() == expected.Bytes());
    }
}

}  // namespace
