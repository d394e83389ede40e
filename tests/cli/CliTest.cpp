#include "framework/Bitmap.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"
#include "tools/kavrel-cli/Cli.h"

#include <gtest/gtest.h>

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
    Result r = RunTool({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("convert IN OUT"), std::string::npos);
    r = RunTool({});
    EXPECT_EQ(r.status, 1);
    r = RunTool({"frobnicate"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("kavrel-cli: ", 0), 0u);
    EXPECT_EQ(RunTool({"convert", "only-one"}).status, 1);
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

TEST_F(CliTest, ConvertWritesBitmapsAndPam)
{
    const std::string in = WriteBitmap("in.dib", pf24bit);
    ASSERT_EQ(RunTool({"convert", in, (dir_ / "out.BMP").string()}).status, 0);
    TBitmap back;
    TFileStream s((dir_ / "out.BMP").string(), TFileStream::Mode::OpenRead);
    back.LoadStream(s);
    EXPECT_EQ(back.PixelFormat(), pf24bit);
    EXPECT_EQ(back.ScanLine(0)[0], 0x12);

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
    EXPECT_EQ(RunTool({"convert", WriteBitmap("ok.bmp", pf8bit), (dir_ / "x.unknown").string()}).status, 1);
    EXPECT_EQ(RunTool({"convert", (dir_ / "missing.bmp").string(), target}).err,
              "kavrel-cli: Cannot open file " + (dir_ / "missing.bmp").string() + "\n");
    EXPECT_EQ(FileCount(), 3u);  // keep.pam, bad.bmp, ok.bmp: no temporary file left behind
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
