// The framework's own formats come first in the registry, in the framework's order, and stay out of
// the open dialog's filter because their classes are not bitmaps.

#include "codecs/GraphicFormats.h"
#include "framework/Bitmap.h"
#include "framework/Icon.h"
#include "framework/JPEGImage.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameworkFormatsTest, RegisteredFirstInTheFrameworksOrder)
{
    EnsureAllFormatsRegistered();
    const auto& entries = TPicture::Formats().Entries();
    ASSERT_GE(entries.size(), 6u);
    const struct {
        const char* extension;
        const char* description;
        const TGraphicClass* graphicClass;
    } expected[] = {
        {"wmf", "图元文件", &TMetafile::StaticClass()},
        {"emf", "增强图元文件", &TMetafile::StaticClass()},
        {"ico", "图标", &TIcon::StaticClass()},
        {"bmp", "位图", &TBitmap::StaticClass()},
        {"jpeg", "JPEG Image File", &TJPEGImage::StaticClass()},
        {"jpg", "JPEG Image File", &TJPEGImage::StaticClass()},
    };
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(entries[i].extension, expected[i].extension) << i;
        EXPECT_EQ(entries[i].description, expected[i].description) << i;
        EXPECT_EQ(entries[i].graphicClass, expected[i].graphicClass) << i;
    }
    EXPECT_EQ(TPicture::Formats().FindExt("JPG"), &TJPEGImage::StaticClass());
    EXPECT_EQ(TPicture::Formats().FindExt("Wmf"), &TMetafile::StaticClass());
}

TEST(FrameworkFormatsTest, OpenDialogFilterListsNoneOfTheNonBitmapClasses)
{
    EnsureAllFormatsRegistered();
    const std::string filter = GraphicFilter(TPicture::Formats(), TBitmap::StaticClass());
    for (const char* pattern : {"*.jpg", "*.jpeg", "*.ico", "*.emf", "*.wmf"})
        EXPECT_EQ(filter.find(pattern), std::string::npos) << pattern;
    EXPECT_NE(filter.find("位图 (*.bmp)|*.bmp"), std::string::npos);
}

}  // namespace
