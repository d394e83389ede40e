// PNG files written by the framework and read back by Pillow, an independent reader: every kind of
// picture keeps its kind, its palette and its pixels.

#include "framework/PngEncoder.h"

#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"
#include "tests/support/TestData.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct PillowImage {
    std::string mode;
    int width = 0;
    int height = 0;
    std::vector<int> palette; // red, green, blue of each entry ("P" only)
    std::vector<uint8_t> rgba; // Pillow's own conversion to RGBA
};

// The Python with Pillow: the system's (python3-pil), which comes before any other python3 on PATH.
std::string Python()
{
    return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

bool PillowAvailable()
{
    return std::system((Python() + " -c 'import PIL' 2>/dev/null").c_str()) == 0;
}

PillowImage ReadWithPillow(const fs::path& png)
{
    const fs::path raw = png.string() + ".rgba";
    const std::string script = "import sys\n"
                               "from PIL import Image\n"
                               "im = Image.open(sys.argv[1]); im.load()\n"
                               "palette = (im.getpalette() or []) if im.mode == 'P' else []\n"
                               "print(im.mode, im.width, im.height, *palette)\n"
                               "open(sys.argv[2], 'wb').write(im.convert('RGBA').tobytes())\n";
    const std::string command = Python() + " -c \"" + script + "\" '" + png.string() + "' '" + raw.string() + "'";
    PillowImage image;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return image;
    std::string line;
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, pipe))
        line += buffer;
    if (pclose(pipe) != 0)
        return image;
    std::istringstream fields(line);
    fields >> image.mode >> image.width >> image.height;
    for (int value; fields >> value;)
        image.palette.push_back(value);
    image.rgba = ReadFileBytes(raw);
    return image;
}

HPALETTE MakePalette(const std::vector<TPaletteEntry>& entries)
{
    TLogPalette log {};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = static_cast<uint16_t>(entries.size());
    std::copy(entries.begin(), entries.end(), log.palPalEntry);
    return CreatePalette(log);
}

std::vector<TPaletteEntry> Ramp(int count, bool inverted)
{
    std::vector<TPaletteEntry> ramp;
    for (int i = 0; i < count; ++i) {
        const auto v = static_cast<uint8_t>((inverted ? count - 1 - i : i) * 255 / (count - 1));
        ramp.push_back({ v, v, v, 0 });
    }
    return ramp;
}

// A stream that takes `room` bytes and then no more.
class FullStream : public TMemoryStream {
public:
    explicit FullStream(int64_t room)
        : room_(room)
    { }
    int64_t Write(const void* buffer, int64_t count) override
    {
        const int64_t taken = std::min(count, room_);
        room_ -= taken;
        return TMemoryStream::Write(buffer, taken);
    }

private:
    int64_t room_;
};

class PngEncoderTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("kavrel-png-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(PngEncoderTest, EveryKindReadsBackInPillowAsWritten)
{
    if (!PillowAvailable())
        GTEST_SKIP() << "Python's Pillow is not installed (python3-pil)";
    const std::vector<TPaletteEntry> five
        = { { 200, 10, 10, 0 }, { 10, 200, 10, 0 }, { 10, 10, 200, 0 }, { 1, 2, 3, 0 }, { 9, 9, 0, 0 } };
    struct Case {
        const char* name;
        TPixelFormat format;
        std::vector<TPaletteEntry> palette; // none: the format's default colours
        const char* mode; // Pillow's mode for the file
        int highestIndex = 255; // pixels use indices up to this
    };
    const Case cases[] = {
        { "8-bit grey", pf8bit, Ramp(256, false), "L" },
        { "1-bit black and white", pf1bit, Ramp(2, false), "1" },
        { "4-bit grey, white first", pf4bit, Ramp(16, true), "L" },
        { "8-bit palette, pixels beyond its five colours", pf8bit, five, "P", 7 },
        { "4-bit palette", pf4bit, {}, "P" },
        { "1-bit palette", pf1bit, { { 255, 0, 0, 0 }, { 0, 0, 255, 0 } }, "P" },
        { "24-bit", pf24bit, {}, "RGB" },
        { "device", pfDevice, {}, "RGB" },
        { "16-bit", pf16bit, {}, "RGB" },
        { "15-bit", pf15bit, {}, "RGB" },
        { "32-bit with alpha", pf32bit, {}, "RGBA" },
        { "32-bit with an unused fourth byte", pf32bit, {}, "RGB" },
    };
    std::mt19937 random(16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.format);
        if (!c.palette.empty())
            bitmap.SetPalette(MakePalette(c.palette));
        bitmap.SetSize(37, 5);
        const bool unusedAlpha = c.format == pf32bit && std::string(c.mode) == "RGB";
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int i = 0; i < bitmap.RowBytes(); ++i) {
                uint8_t& byte = bitmap.ScanLine(y)[i];
                byte = static_cast<uint8_t>(random() % (c.highestIndex + 1));
                if (unusedAlpha && i % 4 == 3)
                    byte = 0;
            }

        const fs::path file = dir_ / "out.png";
        {
            TFileStream stream(file.string(), TFileStream::Mode::Create);
            WritePng(stream, bitmap);
        }
        const PillowImage read = ReadWithPillow(file);
        EXPECT_EQ(read.mode, c.mode);
        ASSERT_EQ(read.width, 37);
        ASSERT_EQ(read.height, 5);
        if (read.mode == "P") {
            // The colour table, padded with black up to the highest index used.
            std::vector<TPaletteEntry> expected = bitmap.ColorTable();
            const int highest = std::min(c.highestIndex, (1 << bitmap.BitsPerPixel()) - 1);
            expected.resize(std::max<size_t>(expected.size(), highest + 1));
            ASSERT_EQ(read.palette.size(), expected.size() * 3);
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_EQ((std::vector<int> { read.palette[3 * i], read.palette[3 * i + 1], read.palette[3 * i + 2] }),
                    (std::vector<int> { expected[i].peRed, expected[i].peGreen, expected[i].peBlue }))
                    << "entry " << i;
        }
        ASSERT_EQ(read.rgba.size(), 37u * 5 * 4);
        std::vector<uint8_t> bgra(37 * 4);
        for (int y = 0; y < 5; ++y) {
            RowToBgra(bitmap, y, bgra.data());
            for (int x = 0; x < 37; ++x) {
                const uint8_t* p = &read.rgba[(static_cast<size_t>(y) * 37 + x) * 4];
                const uint8_t* q = &bgra[4 * x];
                const uint8_t alpha = read.mode == "RGBA" ? q[3] : 255;
                ASSERT_EQ((std::vector<int> { p[0], p[1], p[2], p[3] }), (std::vector<int> { q[2], q[1], q[0], alpha }))
                    << "at " << x << ", " << y;
            }
        }
    }
}

TEST_F(PngEncoderTest, FailuresAreRaisedAndTheStreamsOwnPassesThrough)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    TMemoryStream stream;
    EXPECT_THROW(WritePng(stream, bitmap), Exception) << "an empty picture";

    bitmap.SetSize(300, 200);
    std::mt19937 random(1);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int i = 0; i < bitmap.RowBytes(); ++i)
            bitmap.ScanLine(y)[i] = static_cast<uint8_t>(random());
    for (const int64_t room : { 0, 40, 100000 }) {
        FullStream full(room);
        EXPECT_THROW(WritePng(full, bitmap), EWriteError) << room << " bytes of room";
    }

    TPngHeader header = PngHeaderFor(bitmap);
    header.kind = TPngKind::Palette;
    EXPECT_THROW(TPngWriter(stream, header), Exception) << "a palette kind for 24-bit rows";
    header = PngHeaderFor(bitmap);
    TPngWriter writer(stream, header);
    writer.WriteRow(bitmap.ScanLine(0));
    EXPECT_THROW(writer.Finish(), Exception) << "rows are missing";
}

} // namespace
