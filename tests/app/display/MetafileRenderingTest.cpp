// The QPainter canvas: the shared metafiles rendered and compared with their reference, and the
// conversion of an enhanced metafile into a Windows metafile through the real renderer.

#include "app/display/ImageConversion.h"
#include "app/display/MetafileRendering.h"
#include "app/display/OffscreenGui.h"
#include "framework/Metafile.h"
#include "framework/MetafilePlayer.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

namespace {

class GuiEnvironment : public testing::Environment {
public:
    void SetUp() override { EnsureOffscreenGuiApplication(); }
};
testing::Environment* const gui = testing::AddGlobalTestEnvironment(new GuiEnvironment);

RgbaImage ToRgba(const QImage& image)
{
    return BitmapToRgba(QImageToBitmap(image));
}

TMetafile LoadMetafile(const std::filesystem::path& file)
{
    TMetafile metafile;
    metafile.LoadFile(file.string());
    return metafile;
}

// Most pixels alike; the edges of shapes may differ (antialiasing, where an outline one pixel wide
// falls, a frame a pixel larger), which for a circle filling the picture is a ring of some 7%.
void ExpectResembles(const RgbaImage& actual, const RgbaImage& reference)
{
    ASSERT_EQ(actual.width, reference.width);
    ASSERT_EQ(actual.height, reference.height);
    const ImageDifference d = CompareRgb(actual, reference, 100);
    EXPECT_LE(d.fractionOver, 0.10) << "max diff " << d.maxDiff;
    EXPECT_LE(d.meanDiff, 16.0);
}

TEST(MetafileRenderingTest, WindowsMetafileDrawingResemblesItsReference)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    const TMetafile metafile = LoadMetafile(dir / "wmf" / "drawing.wmf");
    const RgbaImage reference = ReadPam(dir / "wmf" / "drawing.wmf.ref.pam");
    // The reference's renderer frames what is drawn, whereas the file's own header frames a square
    // that cuts the drawing; compare the drawing by framing it the same way.
    double drawn[4];
    ASSERT_TRUE(MeasureMetafile(metafile, drawn));
    ExpectResembles(ToRgba(RenderMetafileArea(metafile, drawn, QSize(reference.width, reference.height))),
                    reference);

    // At its own frame the circle's centre lies right of and below the picture's centre.
    const QImage own = RenderMetafile(metafile);
    ASSERT_EQ(own.size(), QSize(110, 110));
    EXPECT_EQ(own.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(own.pixelColor(74, 74), QColor(Qt::red));
}

TEST(MetafileRenderingTest, EnhancedMetafileResemblesTheSameDrawingsReference)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    // drawing.emf has no reference of its own; it is the same drawing as drawing.wmf, framed by
    // its header exactly around the circle.
    const TMetafile metafile = LoadMetafile(dir / "emf" / "drawing.emf");
    const RgbaImage reference = ReadPam(dir / "wmf" / "drawing.wmf.ref.pam");
    ExpectResembles(ToRgba(RenderMetafile(metafile, QSize(reference.width, reference.height))), reference);
}

TEST(MetafileRenderingTest, EnhancedMetafileSavedAsWmfShowsTheSamePicture)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    InstallMetafileRasterizer();
    const TMetafile enhanced = LoadMetafile(dir / "emf" / "drawing.emf");
    TMemoryStream converted;
    enhanced.SaveAsWindowsMetafile(converted);
    TMetafile windows;
    converted.SetPosition(0);
    windows.LoadStream(converted);
    TMetafile::SetRasterizer(nullptr);
    EXPECT_FALSE(windows.Enhanced());
    EXPECT_EQ(windows.Width(), enhanced.Width());
    const ImageDifference d = CompareRgb(ToRgba(RenderMetafile(windows)), ToRgba(RenderMetafile(enhanced)), 0);
    EXPECT_EQ(d.maxDiff, 0) << "the bitmap record holds the rendering pixel for pixel";
}

}  // namespace
