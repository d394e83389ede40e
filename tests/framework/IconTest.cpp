// Icons: BMP images with their AND masks at every depth, PNG images, the choice of the image shown,
// the shared samples, and directories that lie.

#include "framework/Exception.h"
#include "framework/Icon.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <png.h>

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v)), out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF), Put16(out, v >> 16);
}

// The colour of test pixel (x, y): distinct per pixel and per quadrant.
TPaletteEntry Colour(int x, int y)
{
    return {uint8_t(x * 16), uint8_t(y * 16), uint8_t(x < 4 ? 200 : 40), 0};
}
// Test pixels on the diagonal are transparent in the mask.
bool Masked(int x, int y)
{
    return x == y;
}

// A BMP icon image: header, colour table, picture rows and mask rows, bottom row first.
// Indexed depths use a palette whose entry i is Colour(i % 8, i / 8).
std::vector<uint8_t> BmpImage(int size, int bits, bool alpha = false)
{
    std::vector<uint8_t> out;
    const int colours = bits <= 8 ? 1 << bits : 0;
    Put32(out, 40), Put32(out, size), Put32(out, size * 2), Put16(out, 1), Put16(out, bits);
    for (int i = 0; i < 6; ++i)
        Put32(out, 0);
    for (int i = 0; i < colours; ++i) {
        const TPaletteEntry c = Colour(i % 8, i / 8);
        out.insert(out.end(), {c.peBlue, c.peGreen, c.peRed, 0});
    }
    const size_t stride = ((size_t(size) * bits + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(stride, 0);
        for (int x = 0; x < size; ++x) {
            const int index = (y * 8 + x) % (colours ? colours : 1);
            const TPaletteEntry c = Colour(x, y);
            switch (bits) {
            case 1: row[x / 8] |= uint8_t(index << (7 - x % 8)); break;
            case 4: row[x / 2] |= uint8_t(index << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = uint8_t(index); break;
            case 24: row[3 * x] = c.peBlue, row[3 * x + 1] = c.peGreen, row[3 * x + 2] = c.peRed; break;
            case 32:
                row[4 * x] = c.peBlue, row[4 * x + 1] = c.peGreen, row[4 * x + 2] = c.peRed;
                row[4 * x + 3] = alpha ? uint8_t(x * 30) : 0;
                break;
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    const size_t maskStride = ((size_t(size) + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < size; ++x)
            if (Masked(x, y))
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The colour that BmpImage gives pixel (x, y) at a depth, as blue, green, red.
TPaletteEntry ExpectedColour(int x, int y, int bits)
{
    if (bits > 8)
        return Colour(x, y);
    const int index = (y * 8 + x) % (1 << bits);
    return Colour(index % 8, index / 8);
}

std::vector<uint8_t> PngImage(int width, int height)
{
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x * 4), p[1] = uint8_t(y * 4), p[2] = 99, p[3] = uint8_t(255 - x);
        }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr));
    std::vector<uint8_t> out(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr));
    out.resize(size);
    return out;
}

struct Entry {
    std::vector<uint8_t> data;
    uint32_t declaredSize = 0;    // 0: the real size
    uint32_t declaredOffset = 0;  // 0: the real offset
};

std::vector<uint8_t> IconFile(const std::vector<Entry>& entries)
{
    std::vector<uint8_t> out;
    Put16(out, 0), Put16(out, 1), Put16(out, uint32_t(entries.size()));
    uint32_t offset = 6 + 16 * uint32_t(entries.size());
    for (const Entry& e : entries) {
        // Width, height, colours and depth are left zero: readers must trust the image's own header.
        Put32(out, 0), Put16(out, 1), Put16(out, 0);
        Put32(out, e.declaredSize ? e.declaredSize : uint32_t(e.data.size()));
        Put32(out, e.declaredOffset ? e.declaredOffset : offset);
        offset += uint32_t(e.data.size());
    }
    for (const Entry& e : entries)
        out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

TIcon Load(const std::vector<uint8_t>& bytes)
{
    TIcon icon;
    TMemoryStream stream(bytes);
    icon.LoadStream(stream);
    return icon;
}

void ExpectInvalid(const std::vector<uint8_t>& bytes, const char* what)
{
    try {
        Load(bytes);
        ADD_FAILURE() << what << ": loaded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Icon image is not valid") << what;
    }
}

TEST(IconTest, BmpImagesOfEveryDepthTakeTheirAlphaFromTheMask)
{
    for (const int bits : {1, 4, 8, 24, 32}) {
        SCOPED_TRACE(bits);
        const TIcon icon = Load(IconFile({{BmpImage(8, bits)}}));
        const TBitmap& bitmap = *icon.DisplayBitmap();
        ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
        ASSERT_EQ(bitmap.Width(), 8);
        ASSERT_EQ(bitmap.Height(), 8);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
                const TPaletteEntry c = ExpectedColour(x, y, bits);
                EXPECT_EQ(p[0], c.peBlue) << x << "," << y;
                EXPECT_EQ(p[1], c.peGreen) << x << "," << y;
                EXPECT_EQ(p[2], c.peRed) << x << "," << y;
                EXPECT_EQ(p[3], Masked(x, y) ? 0 : 255) << x << "," << y;
            }
    }
}

TEST(IconTest, AnAlphaChannelWinsOverTheMask)
{
    const TIcon icon = Load(IconFile({{BmpImage(8, 32, true)}}));
    const TBitmap& bitmap = *icon.DisplayBitmap();
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(bitmap.ScanLine(3)[4 * x + 3], x * 30);
}

TEST(IconTest, PngImagesDecodeWithTheirAlpha)
{
    const TIcon icon = Load(IconFile({{PngImage(40, 24)}}));
    ASSERT_TRUE(icon.Images()[0].png);
    const TBitmap& bitmap = *icon.DisplayBitmap();
    ASSERT_EQ(bitmap.Width(), 40);
    ASSERT_EQ(bitmap.Height(), 24);
    const uint8_t* p = bitmap.ScanLine(5) + 4 * 7;
    EXPECT_EQ(p[0], 99);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 28);
    EXPECT_EQ(p[3], 255 - 7);
}

TEST(IconTest, ShowsTheLargestThenDeepestImageAndKeepsTheBytes)
{
    const std::vector<uint8_t> bytes =
        IconFile({{BmpImage(16, 32)}, {BmpImage(32, 4)}, {PngImage(24, 24)}, {BmpImage(32, 8)}, {BmpImage(32, 1)}});
    TIcon icon = Load(bytes);
    ASSERT_EQ(icon.Images().size(), 5u);
    EXPECT_EQ(icon.DisplayIndex(), 3);
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Images()[3].bitsPerPixel, 8);
    EXPECT_EQ(icon.DecodeImage(0).Width(), 16);

    TMemoryStream saved;
    icon.SaveStream(saved);
    EXPECT_EQ(saved.Bytes(), bytes);
}

TEST(IconTest, DamagedBestImageGivesWayToTheNextOne)
{
    std::vector<uint8_t> broken = PngImage(64, 64);
    broken.resize(broken.size() / 2);
    const TIcon icon = Load(IconFile({{BmpImage(16, 8)}, {broken}}));
    EXPECT_EQ(icon.DisplayIndex(), 0);
    EXPECT_EQ(icon.Width(), 16);
}

TEST(IconTest, HostileDirectoriesFailCleanly)
{
    ExpectInvalid({}, "empty");
    ExpectInvalid({0, 0, 1, 0}, "directory cut short");
    ExpectInvalid({0, 0, 1, 0, 0, 0}, "no images");
    ExpectInvalid({0, 0, 7, 0, 1, 0}, "not an icon type");

    // 65535 entries announced, none present.
    ExpectInvalid({0, 0, 1, 0, 0xFF, 0xFF, 0, 0, 0, 0}, "huge count");

    // Offsets beyond the file, and sizes beyond the file for an image that is not all there.
    ExpectInvalid(IconFile({{BmpImage(8, 8), 0, 0x7FFFFFF0}}), "offset outside");
    std::vector<uint8_t> cut = BmpImage(32, 24);
    cut.resize(200);
    ExpectInvalid(IconFile({{cut, 0xFFFFFFF0}}), "huge size, data missing");

    // An image header that claims a picture of a billion pixels in a small file.
    std::vector<uint8_t> giant = BmpImage(8, 8);
    giant[4] = 0x00, giant[5] = 0x80, giant[6] = 0x00, giant[7] = 0x00;  // width 32768
    giant[8] = 0x00, giant[9] = 0x00, giant[10] = 0x01, giant[11] = 0x00;  // height 65536 (two halves)
    ExpectInvalid(IconFile({{giant}}), "giant image header");
}

TEST(IconTest, OneBadEntryDoesNotHideTheGoodOnes)
{
    const TIcon icon = Load(IconFile({{BmpImage(8, 4), 0, 0x7FFFFFF0}, {BmpImage(16, 24)}}));
    EXPECT_EQ(icon.Images().size(), 1u);
    EXPECT_EQ(icon.Width(), 16);
}

TEST(IconTest, SharedSamplesFirstImagesMatchTheirReferences)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    for (const char* name : {"hopper.ico", "python.ico"}) {
        SCOPED_TRACE(name);
        TIcon icon;
        icon.LoadFile((dir / "ico" / name).string());
        const RgbaImage reference = ReadPam(dir / "ico" / (std::string(name) + ".ref.pam"));
        const RgbaImage first = BitmapToRgba(icon.DecodeImage(0));
        ASSERT_EQ(first.width, reference.width);
        ASSERT_EQ(first.height, reference.height);
        EXPECT_EQ(CompareRgb(first, reference, 0).maxDiff, 0);
        if (reference.hasAlpha) {
            for (int y = 0; y < first.height; ++y)
                for (int x = 0; x < first.width; ++x)
                    ASSERT_EQ(first.At(x, y)[3], reference.At(x, y)[3]) << x << "," << y;
        }
    }
    TIcon python;
    python.LoadFile((dir / "ico" / "python.ico").string());
    EXPECT_EQ(python.Width(), 48) << "the largest of 16, 32 and 48 is shown";
}

}  // namespace
