#include "framework/Bitmap.h"
#include "framework/PngDecoder.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"
#include "tools/kavrel-cli/Cli.h"
#include "tools/kavrel-cli/GeometryArgument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
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

}  // namespace
