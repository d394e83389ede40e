// kavrel-cli convert on the framework's own pictures: JPEG and icons by their raster, metafiles by
// rendering (with Qt) or with a clear refusal (without).

#include "framework/Bitmap.h"
#include "framework/Icon.h"
#include "framework/JPEGImage.h"
#include "tests/support/TestData.h"
#include "tools/kavrel-cli/Cli.h"
#ifdef KAVREL_WITH_DISPLAY
#include "tools/kavrel-cli/QtParts.h"
#endif

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ConvertFrameworkPicturesTest : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef KAVREL_WITH_DISPLAY
        InstallQtMetafileRenderer();
#endif
        folder_ = fs::temp_directory_path() / ("kavrel-cli-framework-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    int Convert(const fs::path& in, const std::string& outName)
    {
        out_.str({});
        err_.str({});
        return RunCli({"convert", in.string(), (folder_ / outName).string()}, out_, err_);
    }
    static fs::path Seed(const char* name) { return fs::path(KAVREL_SOURCE_DIR) / "fuzz" / "seeds" / name; }

    fs::path folder_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(ConvertFrameworkPicturesTest, JpegAndIconConvertTheirRaster)
{
    ASSERT_EQ(Convert(Seed("jpeg-progressive.jpg"), "a.pam"), 0) << err_.str();
    TJPEGImage jpeg;
    jpeg.LoadFile(Seed("jpeg-progressive.jpg").string());
    EXPECT_EQ(CompareRgb(ReadPam(folder_ / "a.pam"), BitmapToRgba(*jpeg.DisplayBitmap()), 0).maxDiff, 0);

    ASSERT_EQ(Convert(Seed("ico-png.ico"), "b.bmp"), 0) << err_.str();
    TBitmap bmp;
    bmp.LoadFile((folder_ / "b.bmp").string());
    EXPECT_EQ(bmp.Width(), 12);
    EXPECT_EQ(bmp.Height(), 10);
}

TEST_F(ConvertFrameworkPicturesTest, MetafilesAreRenderedOrRefusedClearly)
{
    const int status = Convert(Seed("wmf-shapes.wmf"), "c.bmp");
#ifdef KAVREL_WITH_DISPLAY
    ASSERT_EQ(status, 0) << err_.str();
    TBitmap bmp;
    bmp.LoadFile((folder_ / "c.bmp").string());
    EXPECT_EQ(bmp.Width(), 200);
    EXPECT_EQ(bmp.Height(), 100);
#else
    EXPECT_EQ(status, 1);
    EXPECT_NE(err_.str().find("without Qt"), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(folder_ / "c.bmp"));
#endif
}

}  // namespace
