// JPEG pictures: decoding through libjpeg (checked against libjpeg's own djpeg), the bytes kept for
// saving, CMYK conventions, and damaged files.

#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"
#include "framework/JPEGImage.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Encodes width x height pixels of `components` samples each (in `space`) with libjpeg.
std::vector<uint8_t> Encode(int width, int height, int components, J_COLOR_SPACE space,
                            const std::vector<uint8_t>& pixels, J_COLOR_SPACE fileSpace, bool adobeMarker,
                            bool progressive = false)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, fileSpace);
    cinfo.write_Adobe_marker = adobeMarker;
    jpeg_set_quality(&cinfo, 100, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&pixels[size_t(cinfo.next_scanline) * width * components]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> result(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return result;
}

// A colour test picture: a gradient, so that truncation and decoding errors show.
std::vector<uint8_t> GradientJpeg(int width, int height, bool progressive = false)
{
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(x * 255 / width), p[1] = uint8_t(y * 255 / height), p[2] = uint8_t((x + y) & 0xFF);
        }
    return Encode(width, height, 3, JCS_RGB, rgb, JCS_YCbCr, false, progressive);
}

TJPEGImage Load(const std::vector<uint8_t>& bytes)
{
    TJPEGImage image;
    TMemoryStream stream(bytes);
    image.LoadStream(stream);
    return image;
}

// Reads a binary PGM or PPM (maxval 255) as djpeg writes it.
bool ReadPnm(const std::string& bytes, int& width, int& height, int& channels, std::vector<uint8_t>& samples)
{
    std::istringstream in(bytes);
    std::string magic;
    int maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if ((magic != "P5" && magic != "P6") || maxval != 255)
        return false;
    channels = magic == "P5" ? 1 : 3;
    samples.resize(size_t(width) * height * channels);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
    return in.gcount() == static_cast<std::streamsize>(samples.size());
}

std::string RunDjpeg(const fs::path& file)
{
    const std::string command = "djpeg -pnm '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string output;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    pclose(pipe);
    return output;
}

bool HaveDjpeg()
{
    return std::system("command -v djpeg >/dev/null 2>&1") == 0;
}

TEST(JPEGImageTest, DecodesTheSharedSamplesExactlyAsDjpeg)
{
    KAVREL_REQUIRE_TESTDATA(dir);
    if (!HaveDjpeg())
        GTEST_SKIP() << "djpeg not found (Debian package libjpeg-turbo-progs)";
    size_t compared = 0;
    for (const auto& entry : fs::directory_iterator(dir / "jpeg")) {
        if (entry.path().extension() != ".jpg")
            continue;
        SCOPED_TRACE(entry.path().string());
        int width = 0, height = 0, channels = 0;
        std::vector<uint8_t> expected;
        ASSERT_TRUE(ReadPnm(RunDjpeg(entry.path()), width, height, channels, expected));

        TJPEGImage image;
        image.LoadFile(entry.path().string());
        const TBitmap& bitmap = *image.DisplayBitmap();
        ASSERT_EQ(bitmap.Width(), width);
        ASSERT_EQ(bitmap.Height(), height);
        ASSERT_EQ(image.Grayscale(), channels == 1);
        size_t differing = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                const uint8_t* want = &expected[(size_t(y) * width + x) * channels];
                if (channels == 1)
                    differing += bitmap.ColorTable()[row[x]].peRed != want[0];
                else
                    differing += row[3 * x] != want[2] || row[3 * x + 1] != want[1] || row[3 * x + 2] != want[0];
            }
        }
        EXPECT_EQ(differing, 0u);
        ++compared;
    }
    EXPECT_GE(compared, 4u);
}

TEST(JPEGImageTest, SavingWritesTheBytesAsReadWhateverTheName)
{
    const std::vector<uint8_t> bytes = GradientJpeg(40, 30, true);
    const fs::path folder = fs::temp_directory_path() / ("kavrel-jpeg-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path source = folder / "picture.jpg";
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    EnsureAllFormatsRegistered();
    TPicture picture;
    picture.LoadFromFile(source.string());
    ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr);
    for (const char* name : {"copy.jpeg", "copy.bmp", "COPY.WMF"}) {
        picture.SaveToFile((folder / name).string());
        EXPECT_EQ(ReadFileBytes(folder / name), bytes) << name;
    }
    fs::remove_all(folder);
}

TEST(JPEGImageTest, CmykFollowsAdobesInvertedConventionOnlyWhenMarked)
{
    // One pure ink per quarter: cyan, magenta, yellow, black (ink amounts, 255 = full).
    const uint8_t inks[4][4] = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {0, 0, 0, 255}};
    const uint8_t expectedBgr[4][3] = {{255, 255, 0}, {255, 0, 255}, {0, 255, 255}, {0, 0, 0}};
    const int size = 32;
    for (const bool adobe : {true, false}) {
        for (const J_COLOR_SPACE fileSpace : {JCS_CMYK, JCS_YCCK}) {
            if (!adobe && fileSpace == JCS_YCCK)
                continue;  // YCCK exists only with the Adobe marker
            SCOPED_TRACE(std::string(adobe ? "Adobe " : "plain ") + (fileSpace == JCS_CMYK ? "CMYK" : "YCCK"));
            std::vector<uint8_t> cmyk(size_t(size) * size * 4);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    for (int c = 0; c < 4; ++c) {
                        const uint8_t ink = inks[(y / 16) * 2 + x / 16][c];
                        cmyk[(size_t(y) * size + x) * 4 + c] = adobe ? uint8_t(255 - ink) : ink;
                    }
            const TJPEGImage image = Load(Encode(size, size, 4, JCS_CMYK, cmyk, fileSpace, adobe));
            const TBitmap& bitmap = *image.DisplayBitmap();
            ASSERT_EQ(bitmap.PixelFormat(), pf24bit);
            for (int quarter = 0; quarter < 4; ++quarter) {
                const uint8_t* p = bitmap.ScanLine((quarter / 2) * 16 + 8) + 3 * ((quarter % 2) * 16 + 8);
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(p[c], expectedBgr[quarter][c], 4) << "quarter " << quarter << " channel " << c;
            }
        }
    }
}

TEST(JPEGImageTest, DamagedFilesFailWithAMessageOrShowWhatDecoded)
{
    EXPECT_THROW(
        {
            try {
                Load({'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0});
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find("Not a JPEG file"), std::string::npos) << e.Message();
                throw;
            }
        },
        Exception);
    EXPECT_THROW(Load({}), Exception);

    // Every cut of a small file either fails with a message or shows a picture of the full size.
    const std::vector<uint8_t> whole = GradientJpeg(33, 17, true);
    size_t shown = 0;
    for (size_t length = 0; length < whole.size(); length += 7) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
        try {
            const TJPEGImage image = Load(cut);
            EXPECT_EQ(image.Width(), 33);
            EXPECT_EQ(image.Height(), 17);
            EXPECT_EQ(image.Data(), cut);  // saving writes what was read, cut or not
            ++shown;
        } catch (const Exception& e) {
            EXPECT_FALSE(e.Message().empty());
        }
    }
    EXPECT_GT(shown, 0u) << "a file cut after its header shows what libjpeg decoded";
}

TEST(JPEGImageTest, RefusesHugeDeclaredSizesBeforeDecoding)
{
    std::vector<uint8_t> bytes = GradientJpeg(16, 16);
    // Patch the frame header (SOF0: FF C0, length, precision, height, width) to 60000 x 60000.
    size_t sof = 0;
    for (size_t i = 0; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_NE(sof, 0u);
    bytes[sof + 5] = 0xEA, bytes[sof + 6] = 0x60;
    bytes[sof + 7] = 0xEA, bytes[sof + 8] = 0x60;
    TJPEGImage image;
    TMemoryStream stream(bytes);
    EXPECT_THROW(image.LoadStream(stream), EOutOfResources);
    EXPECT_TRUE(image.Empty()) << "a failed load keeps what the picture held";
}

}  // namespace
