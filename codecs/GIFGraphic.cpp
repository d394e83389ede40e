#include "codecs/GIFGraphic.h"

#include "codecs/GraphicCompression.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/PixelMemory.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TGIFGraphic, TBitmap)

namespace {

const char kNotGif[] = "Not a valid GIF file.";

constexpr uint8_t kExtensionIntroducer = 0x21; // '!'
constexpr uint8_t kImageSeparator = 0x2C; // ','
constexpr uint8_t kTrailer = 0x3B; // ';'

constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kInterlacedFlag = 0x40;

// Writers may choose a minimum code size above the pixels' depth (up to 11, which leaves room for
// the Clear and end codes in a 12-bit table); larger ones cannot describe a GIF image.
constexpr uint8_t kMaxCodeSize = 11;

// The most pixels one byte of LZW data can stand for: a code of c bits names a string of at most
// 2^c bytes and never more than 4096, so a byte of codes stands for fewer than 4096 pixels.
constexpr uint64_t kMaxExpansion = 4096;

uint16_t WordLE(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Reads a colour table of 2 shl n entries into the record and counts them.
void ReadColourTable(TStream& stream, int n, TLogPalette& log)
{
    const int entries = 2 << n;
    uint8_t table[256 * 3];
    stream.ReadBuffer(table, entries * 3);
    for (int i = 0; i < entries; ++i)
        log.palPalEntry[i] = { table[3 * i], table[3 * i + 1], table[3 * i + 2], 0 };
    log.palNumEntries = static_cast<uint16_t>(entries);
}

void SkipSubBlocks(TStream& stream)
{
    for (uint8_t size = stream.ReadByte(); size != 0; size = stream.ReadByte())
        stream.Seek(size, TSeekOrigin::Current);
}

// Joins the image's data sub-blocks; data cut short end where the stream ends.
std::vector<uint8_t> ReadSubBlocks(TStream& stream)
{
    std::vector<uint8_t> data;
    // Room for all the data the stream can still hold, so that it is not copied as it grows.
    data.reserve(static_cast<size_t>(std::min<int64_t>(stream.Remaining(), INT32_MAX)));
    uint8_t size = 0;
    while (stream.Read(&size, 1) == 1 && size != 0) {
        const size_t at = data.size();
        data.resize(at + size);
        const auto got = static_cast<size_t>(stream.Read(data.data() + at, size));
        data.resize(at + got);
        if (got < size)
            break;
    }
    return data;
}

} // namespace

void TGIFGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    SetPixelFormat(pf8bit);

    uint8_t signature[6];
    stream.ReadBuffer(signature, sizeof signature);
    if (std::toupper(signature[0]) != 'G' || std::toupper(signature[1]) != 'I' || std::toupper(signature[2]) != 'F')
        throw Exception(kNotGif);

    uint8_t screen[7];
    stream.ReadBuffer(screen, sizeof screen);
    TLogPalette log {};
    log.palVersion = kPaletteVersion;
    if (screen[4] & kColourTableFlag) {
        ReadColourTable(stream, screen[4] & 7, log);
        SetPalette(CreatePalette(log));
    }

    for (;;) {
        const uint8_t introducer = stream.ReadByte();
        if (introducer == kImageSeparator)
            break;
        if (introducer == kTrailer)
            return; // no image: the bitmap stays empty
        if (introducer == kExtensionIntroducer) {
            stream.ReadByte(); // label
            SkipSubBlocks(stream);
        }
        // Anything else between blocks is ignored.
    }

    uint8_t descriptor[9];
    stream.ReadBuffer(descriptor, sizeof descriptor);
    const int width = WordLE(descriptor + 4) != 0 ? WordLE(descriptor + 4) : WordLE(screen);
    const int height = WordLE(descriptor + 6) != 0 ? WordLE(descriptor + 6) : WordLE(screen + 2);
    const uint8_t flags = descriptor[8];
    if (flags & kColourTableFlag) {
        ReadColourTable(stream, flags & 7, log);
        SetPalette(CreatePalette(log));
    }
    const bool interlaced = (flags & kInterlacedFlag) != 0;
    // Interlaced rows come in four passes: a bitmap that passes rows on holds them.
    if (interlaced)
        KeepAllRows();
    SetSize(width, height);

    const uint8_t codeSize = stream.ReadByte();
    if (codeSize > kMaxCodeSize)
        throw Exception(kNotGif);
    const std::vector<uint8_t> data = ReadSubBlocks(stream);

    // Only as many rows as the data can fill are decoded; the others stay zero.
    const uint64_t pixels = std::min<uint64_t>(uint64_t(width) * height, data.size() * kMaxExpansion);
    const uint64_t rows = width > 0 ? std::min<uint64_t>(height, (pixels + width - 1) / width) : 0;
    const uint64_t bufferBytes = std::min<uint64_t>(rows * width, INT32_MAX);
    if (bufferBytes == 0) {
        FinishRows();
        return;
    }
    // Rows in order that lie one after the other are decoded where they belong (their fresh memory is
    // zero, as the decoder wants it); others by way of a buffer.
    uint8_t* const inPlace = interlaced ? nullptr : ScanLines(0, static_cast<int>(rows));
    TPixelMemory buffer = inPlace ? TPixelMemory() : AllocatePixelMemory(bufferBytes);
    if (!inPlace && !buffer)
        throw EOutOfResources("Out of memory");
    TGIFLZW decoder;
    decoder.InitialCodeSize = codeSize;
    const uint8_t* source = data.data();
    decoder.Decode(source, data.data() + data.size(), inPlace ? inPlace : buffer.get(),
        static_cast<int32_t>(data.size()), static_cast<int32_t>(bufferBytes));

    const auto place = [&](uint64_t k, int y) {
        if ((k + 1) * width <= bufferBytes)
            std::memcpy(ScanLine(y), buffer.get() + k * width, static_cast<size_t>(width));
    };
    if (interlaced) {
        // Every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
        static const int kStart[4] = { 0, 4, 2, 1 };
        static const int kStep[4] = { 8, 8, 4, 2 };
        uint64_t k = 0;
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < height; y += kStep[pass])
                place(k++, y);
    } else if (!inPlace) {
        for (int y = 0; y < height; ++y)
            place(static_cast<uint64_t>(y), y);
    }
    FinishRows();
}
