#include "codecs/GraphicFormats.h"

#include "framework/Bitmap.h"
#include "framework/CpuDispatch.h"
#include "framework/Picture.h"
#include "tests/support/TestData.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Registration

struct Expected {
    const char* extension;
    const char* description;
    const char* className;
};

// The registry's order, oldest first: the framework's formats, then the program's readers.
const Expected kRegistryOrder[] = {
    {"wmf", nullptr, "TMetafile"},
    {"emf", nullptr, "TMetafile"},
    {"ico", nullptr, "TIcon"},
    {"bmp", "位图", "TBitmap"},
    {"jpeg", "JPEG Image File", "TJPEGImage"},
    {"jpg", "JPEG Image File", "TJPEGImage"},
    {"win", "Truevision images", "TTargaGraphic"},
    {"vst", "Truevision images", "TTargaGraphic"},
    {"vda", "Truevision images", "TTargaGraphic"},
    {"tiff", "TIFF images", "TTIFFGraphic"},
    {"tif", "TIFF images", "TTIFFGraphic"},
    {"tga", "Truevision images", "TTargaGraphic"},
    {"sgi", "SGI true color images", "TSGIGraphic"},
    {"scr", "Word 5.x screen capture images", "TPCXGraphic"},
    {"rpf", "SGI Wavefront images", "TRLAGraphic"},
    {"rle", "Windows bitmap", "TBitmap"},
    {"rla", "SGI Wavefront images", "TRLAGraphic"},
    {"rgba", "SGI true color images", "TSGIGraphic"},
    {"rgb", "SGI true color images", "TSGIGraphic"},
    {"psd", "Photoshop images", "TPSDGraphic"},
    {"ppm", "Portable pixel map images", "TPPMGraphic"},
    {"pgm", "Portable grayscale images", "TPPMGraphic"},
    {"pbm", "Portable b&w images", "TPPMGraphic"},
    {"pic", "Autodesk images", "TAutodeskGraphic"},
    {"pcx", "ZSoft PCX images", "TPCXGraphic"},
    {"pdd", "Photoshop images", "TPSDGraphic"},
    {"pcd", "Kodak Photo-CD images", "TPCDGraphic"},
    {"pcc", "ZSoft PCC images", "TPCXGraphic"},
    {"icb", "Truevision images", "TTargaGraphic"},
    {"gif", "CompuServe images", "TGIFGraphic"},
    {"dib", "Windows bitmap", "TBitmap"},
    {"cut", "Dr. Halo images", "TCUTGraphic"},
    {"cel", "Autodesk images", "TAutodeskGraphic"},
    {"bw", "SGI black/white images", "TSGIGraphic"},
};

TEST(RegistrationTest, EntriesFollowTheFixedOrderWithTheirDescriptionsAndClasses)
{
    EnsureAllFormatsRegistered();
    const auto& entries = TPicture::Formats().Entries();
    size_t next = 0;
    for (const auto& entry : entries) {
        while (next < std::size(kRegistryOrder) && entry.extension != kRegistryOrder[next].extension)
            ++next;
        ASSERT_LT(next, std::size(kRegistryOrder)) << "\"" << entry.extension << "\" is out of order or unexpected";
        const Expected& e = kRegistryOrder[next++];
        EXPECT_EQ(entry.graphicClass->name, std::string(e.className)) << e.extension;
        if (e.description) {
            EXPECT_EQ(entry.description, e.description) << e.extension;
        }
    }
    // The plain-bitmap entries are there from the start.
    EXPECT_EQ(TPicture::Formats().FindExt("DIB"), &TBitmap::StaticClass());
    EXPECT_EQ(TPicture::Formats().FindExt("rle"), &TBitmap::StaticClass());
    EXPECT_EQ(TPicture::Formats().FindExt("Bmp"), &TBitmap::StaticClass());
}

TEST(RegistrationTest, EveryEntryIsThere)
{
    EnsureAllFormatsRegistered();
    ASSERT_EQ(TPicture::Formats().Entries().size(), std::size(kRegistryOrder));
    EXPECT_EQ(TPicture::Formats().FindExt("TIF")->name, std::string("TTIFFGraphic"));
    EXPECT_EQ(TPicture::Formats().FindExt("bw")->name, std::string("TSGIGraphic"));
}

// The open dialog lists every class derived from the bitmap class, newest first, after an entry
// for all of them; the JPEG, icon and metafile classes are not bitmaps.
TEST(RegistrationTest, OpenDialogFilterAndDefaultExtension)
{
    EnsureAllFormatsRegistered();
    std::string descriptions, patterns;
    for (auto it = std::rbegin(kRegistryOrder); it != std::rend(kRegistryOrder); ++it) {
        const std::string ext = it->extension;
        if (ext == "jpeg" || ext == "jpg" || ext == "ico" || ext == "emf" || ext == "wmf")
            continue;
        descriptions += (descriptions.empty() ? "" : "|") + std::string(it->description) + " (*." + ext + ")|*." + ext;
        patterns += (patterns.empty() ? "" : ";") + ("*." + ext);
    }
    const std::string filter = GraphicFilter(TPicture::Formats(), TBitmap::StaticClass());
    EXPECT_EQ(filter, "全部 (" + patterns + ")|" + patterns + "|" + descriptions);
    EXPECT_EQ(filter.rfind("全部 (*.bw;*.cel;*.cut;*.dib;*.gif;", 0), 0u);
    EXPECT_NE(filter.find(";*.win;*.bmp)|*.bw;"), std::string::npos);
    EXPECT_EQ(std::count(patterns.begin(), patterns.end(), ';'), 28);
    EXPECT_NE(filter.find("|SGI black/white images (*.bw)|*.bw|Autodesk images (*.cel)|*.cel|"), std::string::npos);
    const std::string last = "|位图 (*.bmp)|*.bmp";
    EXPECT_EQ(filter.substr(filter.size() - last.size()), last);
    EXPECT_EQ(GraphicExtension(TPicture::Formats(), TBitmap::StaticClass()), "dib");
}

TEST(RegistrationTest, ShutDownLeavesOnlyThePlainBitmapEntries)
{
    EnsureAllFormatsRegistered();
    TFileFormatsList saved = TPicture::Formats();
    UnregisterGraphicFormats();
    for (const auto& entry : TPicture::Formats().Entries())
        EXPECT_TRUE(entry.graphicClass == &TBitmap::StaticClass() || !entry.graphicClass->InheritsFrom(TBitmap::StaticClass()))
            << entry.extension << " of " << entry.graphicClass->name << " survived";
    EXPECT_EQ(TPicture::Formats().FindExt("dib"), &TBitmap::StaticClass());
    EXPECT_EQ(TPicture::Formats().FindExt("rle"), &TBitmap::StaticClass());
    TPicture::Formats() = saved;
}

// ---------------------------------------------------------------------------------------------
// Byte order

TEST(RowRoutinesTest, Swaps)
{
    uint8_t words[] = {1, 2, 3, 4, 5};
    SwapWords(words, 0);
    EXPECT_EQ(words[0], 1);
    SwapWords(words, 2);
    EXPECT_EQ((std::vector<uint8_t>(words, words + 5)), (std::vector<uint8_t>{2, 1, 4, 3, 5}));

    uint8_t longs[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    SwapLongs(longs, 0);
    EXPECT_EQ(longs[0], 1);
    SwapLongs(longs, 2);
    EXPECT_EQ((std::vector<uint8_t>(longs, longs + 9)), (std::vector<uint8_t>{4, 3, 2, 1, 8, 7, 6, 5, 9}));
    EXPECT_EQ(SwapLongValue(0x12345678u), 0x78563412u);
}

TEST(RowRoutinesTest, SixteenBitSamplesContributeTheirHighByte)
{
    const uint8_t samples[] = {0xAB, 0x12, 0x00, 0xFF};  // 0x12AB, 0xFF00
    uint8_t out[2] = {};
    Samples16To8(samples, out, 16, 2);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0xFF);

    const uint8_t rgb16[] = {0, 0x10, 0, 0x20, 0, 0x30};
    uint8_t bgr[3] = {};
    RgbToBgr(rgb16, bgr, 16, 3);
    EXPECT_EQ((std::array<uint8_t, 3>{bgr[0], bgr[1], bgr[2]}), (std::array<uint8_t, 3>{0x30, 0x20, 0x10}));
}

TEST(RowRoutinesTest, InterleavedConvertersReorderChannels)
{
    uint8_t rgb[] = {1, 2, 3, 4, 5, 6, 99};
    RgbToBgr(rgb, rgb, 8, 7);  // in place; Count div 3 pixels
    EXPECT_EQ((std::vector<uint8_t>(rgb, rgb + 7)), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 99}));

    const uint8_t rgba[] = {1, 2, 3, 4};
    uint8_t bgra[4] = {};
    RgbaToBgra(rgba, bgra, 8, 4);
    EXPECT_EQ((std::vector<uint8_t>(bgra, bgra + 4)), (std::vector<uint8_t>{3, 2, 1, 4}));

    uint8_t untouched[3] = {7, 7, 7};
    RgbToBgr(rgb, untouched, 4, 3);
    RgbaToBgra(rgba, untouched, 12, 4);
    CmykToBgr(rgba, untouched, 1, 4);
    EXPECT_EQ((std::vector<uint8_t>(untouched, untouched + 3)), (std::vector<uint8_t>{7, 7, 7}));

    const uint8_t r[] = {10, 11}, g[] = {20, 21}, b[] = {30, 31};
    uint8_t planar[6] = {};
    RgbPlanesToBgr(r, g, b, planar, 8, 6);
    EXPECT_EQ((std::vector<uint8_t>(planar, planar + 6)), (std::vector<uint8_t>{30, 20, 10, 31, 21, 11}));
}

TEST(RowRoutinesTest, CmykToBgr)
{
    const uint8_t white[] = {0, 0, 0, 0};
    const uint8_t black[] = {10, 200, 255, 255};
    const uint8_t cyanHalf[] = {128, 0, 0, 0};
    uint8_t out[3];
    CmykToBgr(white, out, 8, 4);
    EXPECT_EQ((std::array<uint8_t, 3>{out[0], out[1], out[2]}), (std::array<uint8_t, 3>{255, 255, 255}));
    CmykToBgr(black, out, 8, 4);
    EXPECT_EQ((std::array<uint8_t, 3>{out[0], out[1], out[2]}), (std::array<uint8_t, 3>{0, 0, 0}));
    CmykToBgr(cyanHalf, out, 8, 4);
    EXPECT_EQ((std::array<uint8_t, 3>{out[0], out[1], out[2]}), (std::array<uint8_t, 3>{255, 255, 127}));
    // C=0x8000, K=0x4000 at 16 bits: 255 - ((32768 + 16384 - 8192) >> 8) = 95.
    const uint8_t c16[] = {0, 0x80, 0, 0, 0, 0, 0, 0x40};
    CmykToBgr(c16, out, 16, 4);
    EXPECT_EQ(out[2], 95);
    EXPECT_EQ(out[0], 255 - (16384 >> 8));

    const uint8_t c[] = {0}, m[] = {0}, y[] = {0}, k[] = {255};
    CmykPlanesToBgr(c, m, y, k, out, 8, 4);
    EXPECT_EQ((std::array<uint8_t, 3>{out[0], out[1], out[2]}), (std::array<uint8_t, 3>{0, 0, 0}));
}

TEST(RowRoutinesTest, LabToBgr)
{
    const uint8_t black[] = {0, 0, 0};
    const uint8_t white[] = {255, 0, 0};
    uint8_t out[3];
    LabToBgr(black, out, 8, 3);
    EXPECT_EQ((std::array<uint8_t, 3>{out[0], out[1], out[2]}), (std::array<uint8_t, 3>{0, 0, 0}));
    LabToBgr(white, out, 8, 3);  // red from 0.999 x 255 = 254.745, rounded
    EXPECT_EQ((std::array<uint8_t, 3>{out[0], out[1], out[2]}), (std::array<uint8_t, 3>{255, 255, 255}));
    // Mid-grey L* = 50.2 is linear Y = 0.1855, which the sRGB curve shows as 119 (not 47).
    const uint8_t grey[] = { 128, 0, 0 };
    LabToBgr(grey, out, 8, 3);
    EXPECT_EQ((std::array<uint8_t, 3> { out[0], out[1], out[2] }), (std::array<uint8_t, 3> { 119, 119, 119 }));
    // L* = 1.96 lies on the curve's linear toe: 12.92 x 0.00217 x 255 = 7.2.
    const uint8_t nearBlack[] = { 5, 0, 0 };
    LabToBgr(nearBlack, out, 8, 3);
    EXPECT_EQ(out[1], 7);
    // A saturated red: a* = +127, b* = +127 at L* = 50%: red clamps high; blue is linear
    // 0.099 x 0.561 - 0.198 x 0.186 + 1.099 x -0.00027 = 0.0184, shown as 36.9.
    const uint8_t red[] = {128, 127, 127};
    LabToBgr(red, out, 8, 3);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[0], 37);
    // a* and b* are signed: 0x80 is -128 (green-blue), not +128.
    const uint8_t greenBlue[] = {128, 0x80, 0x80};
    LabToBgr(greenBlue, out, 8, 3);
    EXPECT_EQ(out[2], 0);
    EXPECT_GT(out[0], 200);
    uint8_t planar[3];
    const uint8_t l[] = {128}, a[] = {0x80}, b[] = {0x80};
    LabPlanesToBgr(l, a, b, planar, 8, 3);
    EXPECT_EQ((std::vector<uint8_t>(planar, planar + 3)), (std::vector<uint8_t>(out, out + 3)));
}

TEST(RowRoutinesTest, UndoDifferencing)
{
    uint8_t one[] = {10, 1, 1, 1};
    UndoDifferencing1(one, 0);
    EXPECT_EQ(one[1], 1);
    UndoDifferencing1(one, 3);
    EXPECT_EQ((std::vector<uint8_t>(one, one + 4)), (std::vector<uint8_t>{10, 11, 12, 13}));

    uint8_t three[] = {10, 20, 30, 1, 2, 3, 255, 1, 1};
    UndoDifferencing3(three, 2);  // channels summed separately, modulo 256
    EXPECT_EQ((std::vector<uint8_t>(three, three + 9)), (std::vector<uint8_t>{10, 20, 30, 11, 22, 33, 10, 23, 34}));

    uint8_t four[] = {1, 2, 3, 4, 1, 1, 1, 1};
    UndoDifferencing4(four, 1);
    EXPECT_EQ((std::vector<uint8_t>(four, four + 8)), (std::vector<uint8_t>{1, 2, 3, 4, 2, 3, 4, 5}));
}

// The routines with a version for newer x86-64 processors: that version and the portable one give the same
// rows, leave the bytes after a row alone, and the one-pass differencing matches the two routines it joins.
TEST(RowRoutinesTest, ProcessorVersionsAndOnePassDifferencingAgree)
{
    std::mt19937 rng(3);
    constexpr size_t kGuard = 32;
    for (int width : { 0, 1, 4, 5, 6, 10, 11, 16, 33, 100, 4080 }) {
        const size_t bytes = static_cast<size_t>(width) * 3;
        std::vector<uint8_t> rgb(bytes);
        for (uint8_t& b : rgb)
            b = static_cast<uint8_t>(rng());
        const int count = width * 3;

        std::vector<uint8_t> reference(rgb);
        UndoDifferencing3(reference.data(), width - 1);
        RgbToBgr(reference.data(), reference.data(), 8, count);

        std::vector<uint8_t> swapped[2], summed[2], inPlace[2], interleaved[2];
        for (bool portable : { false, true }) {
            ForcePortableCode(portable);
            // The three thirds of the bytes taken as planes of red, green and blue.
            interleaved[portable].assign(bytes + kGuard, 0x5A);
            RgbPlanesToBgr(rgb.data(), rgb.data() + width, rgb.data() + 2 * width, interleaved[portable].data(), 8, count);
            swapped[portable].assign(bytes + kGuard, 0x5A);
            RgbToBgr(rgb.data(), swapped[portable].data(), 8, count);
            summed[portable].assign(bytes + kGuard, 0x5A);
            RgbDifferencesToBgr(rgb.data(), summed[portable].data(), count);
            inPlace[portable] = rgb;
            RgbToBgr(inPlace[portable].data(), inPlace[portable].data(), 8, count);
        }
        ForcePortableCode(false);
        EXPECT_EQ(swapped[0], swapped[1]) << width;
        EXPECT_EQ(summed[0], summed[1]) << width;
        EXPECT_EQ(inPlace[0], inPlace[1]) << width;
        EXPECT_EQ(interleaved[0], interleaved[1]) << width;
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(interleaved[0][3 * x], rgb[2 * width + x]) << width;
        EXPECT_EQ(
            std::vector<uint8_t>(swapped[0].begin() + bytes, swapped[0].end()), std::vector<uint8_t>(kGuard, 0x5A));
        EXPECT_EQ(std::vector<uint8_t>(summed[0].begin(), summed[0].begin() + bytes), reference) << width;
        EXPECT_EQ(std::vector<uint8_t>(summed[0].begin() + bytes, summed[0].end()), std::vector<uint8_t>(kGuard, 0x5A));
        EXPECT_EQ(std::vector<uint8_t>(swapped[0].begin(), swapped[0].begin() + bytes), inPlace[0]) << width;
    }
}

}  // namespace
