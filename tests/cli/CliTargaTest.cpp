// kavrel-cli convert writes Targa files through TTargaGraphic's own writer.

#include "codecs/TargaGraphic.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"
#include "tools/kavrel-cli/Cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class CliTargaTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("kavrel-cli-targa-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string WriteBmp(const TBitmap& bitmap, const std::string& name)
    {
        const std::string path = (dir_ / name).string();
        TFileStream out(path, TFileStream::Mode::Create);
        TBitmap copy(bitmap);
        copy.SaveStream(out);
        return path;
    }

    int Run(const std::vector<std::string>& args)
    {
        std::ostringstream out, err;
        const int status = RunCli(args, out, err);
        errors_ = err.str();
        return status;
    }

    fs::path dir_;
    std::string errors_;
};

TEST_F(CliTargaTest, ConvertWritesARunLengthTarga)
{
    TBitmap source;
    source.SetPixelFormat(pf24bit);
    source.SetSize(19, 6);
    for (int y = 0; y < 6; ++y)
        for (int i = 0; i < source.RowBytes(); ++i)
            source.ScanLine(y)[i] = static_cast<uint8_t>(i < 9 ? 200 : i * 13 + y);
    const std::string in = WriteBmp(source, "in.bmp");
    const std::string out = (dir_ / "out.tga").string();
    ASSERT_EQ(Run({"convert", in, out}), 0) << errors_;

    TTargaGraphic written;
    written.LoadFile(out);
    const std::vector<uint8_t> bytes = ReadFileBytes(out);
    EXPECT_EQ(bytes[2], 10);  // true-colour, run-length compressed
    const ImageDifference d = CompareRgb(BitmapToRgba(written), BitmapToRgba(source), 0);
    EXPECT_EQ(d.maxDiff, 0);
}

TEST_F(CliTargaTest, OneBitPicturesAreConvertedToEightBits)
{
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(12, 3);
    mono.ScanLine(1)[0] = 0xA5;
    const std::string in = WriteBmp(mono, "mono.bmp");
    const std::string out = (dir_ / "mono.tga").string();
    // Without a user the warning is answered with OK.
    ASSERT_EQ(Run({"convert", in, out}), 0) << errors_;

    TTargaGraphic written;
    written.LoadFile(out);
    EXPECT_EQ(written.PixelFormat(), pf8bit);
    const ImageDifference d = CompareRgb(BitmapToRgba(written), BitmapToRgba(mono), 0);
    EXPECT_EQ(d.maxDiff, 0);
}

}  // namespace
