// Every picture of the shared sample folder, read by the class registered for its extension and
// compared with its independent reference decode as MANIFEST.tsv says.

#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"
#include "framework/Icon.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <map>

namespace fs = std::filesystem;

namespace {

// How far an `approx` decode may stray from its reference, by its note or else per folder. A pixel
// counts as off when one of its samples differs by more than `threshold`.
struct Tolerance {
    int threshold;
    double maxFractionOver;
    double maxMeanDiff;
};

Tolerance ApproxTolerance(const ManifestRow& row)
{
    // Rows whose note names a deliberate difference that their folder's tolerance does not cover.
    static const struct {
        const char* folder;
        const char* note;
        Tolerance tolerance;
    } byNote[] = {
        // The L*a*b* conversion has its own matrix and white point (white stays 255, 255, 255 where
        // libtiff shows a D50 white as 255, 252, 222), so colours stray by tens of levels; a
        // conversion that forgot the sRGB curve would be off by about 40 on average.
        { nullptr, "L*a*b*", { 56, 0.0, 13.0 } },
        // The reader's 4-bit grey ramp is i x 16 where the references scale by 17: at most 15 apart.
        { "tiff", "4-bit grey", { 15, 0.0, 8.0 } },
    };
    for (const auto& rule : byNote)
        if ((!rule.folder || row.Folder() == rule.folder) && row.note.find(rule.note) != std::string::npos)
            return rule.tolerance;

    static const std::map<std::string, Tolerance> tolerances = {
        // 5- and 6-bit channels expanded by bit replication or by scaling: at most a few levels apart.
        {"bmp", {8, 0.0, 4.0}},
        {"tga", {8, 0.0, 4.0}},
        // PhotoYCC: the reader scales luminance linearly by 1.3584 (Y 188 is white), the reference
        // decoder applies its own tone curve, so bright areas differ by up to about 70 levels. Rows
        // or columns out of place would still differ by far more on average.
        {"pcd", {72, 0.0, 24.0}},
    };
    const auto it = tolerances.find(row.Folder());
    return it != tolerances.end() ? it->second : Tolerance{16, 0.02, 3.0};
}

std::vector<ManifestRow> CorpusRows()
{
    const auto dir = TestDataDir();
    return dir ? ReadManifest(*dir) : std::vector<ManifestRow>{};
}

std::string TestName(const testing::TestParamInfo<ManifestRow>& info)
{
    std::string name = info.param.path;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class CorpusTest : public testing::TestWithParam<ManifestRow> {
protected:
    void SetUp() override { EnsureAllFormatsRegistered(); }
};

TEST_P(CorpusTest, DecodesAsTheManifestSays)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    const ManifestRow& row = GetParam();
    const fs::path file = dir / row.path;
    const std::string extension = FileExtension(row.path);
    if (!TPicture::Formats().FindExt(extension))
        GTEST_SKIP() << "no reader registered for ." << extension << " yet";

    TPicture picture;
    if (row.expect == "fail" || row.expect == "none") {
        // Malformed or unreferenced: a clean failure or a clean load, never a crash.
        try {
            picture.LoadFromFile(file.string());
        } catch (const Exception& e) {
            EXPECT_FALSE(e.Message().empty());
        }
        return;
    }

    ASSERT_NO_THROW(picture.LoadFromFile(file.string())) << row.path;
    const TBitmap* bitmap = picture.Graphic()->DisplayBitmap();
    if (!bitmap && dynamic_cast<const TMetafile*>(picture.Graphic()))
        GTEST_SKIP() << row.path << " draws itself; the display tests compare its rendering";
    ASSERT_NE(bitmap, nullptr) << row.path << " has no raster form";
    // An icon shows its largest image; the references show the first image of the directory.
    TBitmap firstIconImage;
    if (const auto* icon = dynamic_cast<const TIcon*>(picture.Graphic())) {
        firstIconImage = icon->DecodeImage(0);
        bitmap = &firstIconImage;
    }
    const RgbaImage actual = BitmapToRgba(*bitmap);
    ASSERT_EQ(actual.width, row.width) << row.path;
    ASSERT_EQ(actual.height, row.height) << row.path;
    if (row.ByDesign())
        return;  // the reader deliberately differs from the oracle: only the size is comparable

    const RgbaImage reference = ReadPam(dir / (row.path + ".ref.pam"));
    if (row.expect == "exact") {
        const ImageDifference d = CompareRgb(actual, reference, 0);
        EXPECT_EQ(d.maxDiff, 0) << row.path << ": " << d.fractionOver * 100 << "% of pixels differ";
    } else {
        const Tolerance t = ApproxTolerance(row);
        const ImageDifference d = CompareRgb(actual, reference, t.threshold);
        EXPECT_LE(d.fractionOver, t.maxFractionOver) << row.path << " max diff " << d.maxDiff;
        EXPECT_LE(d.meanDiff, t.maxMeanDiff) << row.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, CorpusTest, testing::ValuesIn(CorpusRows()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusTest);

}  // namespace
