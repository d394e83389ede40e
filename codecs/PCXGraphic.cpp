#include "codecs/PCXGraphic.h"

#include "codecs/GraphicCompression.h"
#include "codecs/GraphicFormats.h"
#include "framework/DialogHooks.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TBitmap)

namespace {

constexpr int kHeaderSize = 128;
constexpr int64_t kTrailingPaletteSize = 769;  // the marker byte and 256 entries
constexpr uint8_t kPaletteMarker = 0x0C;
constexpr int kGreyPaletteInfo = 2;
constexpr int kDefaultPaletteVersion = 3;
constexpr int64_t kChunkSize = 256 * 1024; // packed bytes read at a time

const char kNotPcx[] = "Not a PCX or SCR file.";
const char kWrongPixelFormat[] = "PCX: wrong pixel format";

// The framework's 16-colour system palette, red, green, blue.
constexpr uint8_t kDefaultColors[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

struct PcxHeader {
    uint8_t manufacturer = 0;
    uint8_t version = 0;
    uint8_t encoding = 0;
    uint8_t bitsPerPixel = 0;
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    const uint8_t* palette = nullptr;  // 16 entries of red, green, blue inside the header bytes
    uint8_t planes = 0;
    int bytesPerLine = 0;
    int paletteInfo = 0;
};

PcxHeader ParseHeader(const uint8_t* b)
{
    auto word = [b](int offset) { return b[offset] | b[offset + 1] << 8; };
    PcxHeader h;
    h.manufacturer = b[0];
    h.version = b[1];
    h.encoding = b[2];
    h.bitsPerPixel = b[3];
    h.xMin = word(4);
    h.yMin = word(6);
    h.xMax = word(8);
    h.yMax = word(10);
    h.palette = b + 16;
    h.planes = b[65];
    h.bytesPerLine = word(66);
    h.paletteInfo = word(68);
    return h;
}

TPixelFormat FormatOf(const PcxHeader& h)
{
    if (h.bitsPerPixel == 1 && h.planes == 1)
        return pf1bit;
    if (h.bitsPerPixel == 1 && h.planes == 4)
        return pf4bit;
    if (h.bitsPerPixel == 8 && h.planes == 1)
        return pf8bit;
    if (h.bitsPerPixel == 8 && h.planes == 3)
        return pf24bit;
    return pfDevice;
}

void FillGreyRamp(TLogPalette& log, int step)
{
    for (int i = 0; i < log.palNumEntries; ++i) {
        const auto v = static_cast<uint8_t>(i * step);
        log.palPalEntry[i] = {v, v, v, 0};
    }
}

// The palette of every format but 24-bit. For 8-bit images it looks at the end of the stream for
// the trailing palette and comes back to where it was.
HPALETTE MakePalette(const PcxHeader& h, TPixelFormat format, TStream& stream)
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    if (h.version == kDefaultPaletteVersion && format != pf1bit) {
        log.palNumEntries = 16;
        for (int i = 0; i < 16; ++i)
            log.palPalEntry[i] = {kDefaultColors[i][0], kDefaultColors[i][1], kDefaultColors[i][2], 0};
        return CreatePalette(log);
    }
    switch (format) {
    case pf1bit:
        log.palNumEntries = 2;
        log.palPalEntry[1] = {255, 255, 255, 0};
        break;
    case pf4bit:
        log.palNumEntries = 16;
        if (h.paletteInfo == kGreyPaletteInfo) {
            FillGreyRamp(log, 16);
        } else {
            for (int i = 0; i < 16; ++i)
                log.palPalEntry[i] = {h.palette[3 * i], h.palette[3 * i + 1], h.palette[3 * i + 2], 0};
        }
        break;
    default: {
        log.palNumEntries = 256;
        const int64_t position = stream.Position();
        stream.SetPosition(stream.Size() - kTrailingPaletteSize);
        if (stream.ReadByte() == kPaletteMarker) {
            uint8_t entries[768];
            stream.ReadBuffer(entries, sizeof entries);
            for (int i = 0; i < 256; ++i)
                log.palPalEntry[i] = {entries[3 * i], entries[3 * i + 1], entries[3 * i + 2], 0};
        } else {
            // Neither a palette nor the grey-scale mark: grey is the likeliest reading.
            if (h.paletteInfo != kGreyPaletteInfo)
                MessageBeep();
            FillGreyRamp(log, 1);
        }
        stream.SetPosition(position);
        break;
    }
    }
    return CreatePalette(log);
}

// One image row of `planes` planes of `bytesPerLine` bytes each into a bitmap row; 24-bit rows come
// red first when `rgbRows`.
void ConvertRow(const uint8_t* src, int bytesPerLine, int width, TPixelFormat format, bool rgbRows, uint8_t* dest)
{
    switch (format) {
    case pf1bit: std::memcpy(dest, src, (static_cast<size_t>(width) + 7) / 8); break;
    case pf8bit: std::memcpy(dest, src, static_cast<size_t>(width)); break;
    case pf4bit: {
        const uint8_t* planes[4] = {src, src + bytesPerLine, src + 2 * bytesPerLine, src + 3 * bytesPerLine};
        for (int x = 0; x < width; ++x) {
            const int byte = x >> 3;
            const int mask = 0x80 >> (x & 7);
            unsigned value = 0;
            for (int k = 0; k < 4; ++k)
                if (planes[k][byte] & mask)
                    value |= 1u << k;
            uint8_t& out = dest[x >> 1];
            out = (x & 1) ? static_cast<uint8_t>((out & 0xF0) | value) : static_cast<uint8_t>(value << 4);
        }
        break;
    }
    default: {
        const uint8_t* red = src;
        const uint8_t* green = src + bytesPerLine;
        const uint8_t* blue = src + 2 * bytesPerLine;
        // The routine puts its first plane last.
        if (rgbRows)
            std::swap(red, blue);
        RgbPlanesToBgr(red, green, blue, dest, 8, width * 3);
        break;
    }
    }
}

}  // namespace

void TPCXGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();

    uint8_t headerBytes[kHeaderSize];
    const int64_t got = stream.Read(headerBytes, kHeaderSize);
    if (got < 1 || (headerBytes[0] != 0x0A && headerBytes[0] != 0xCD))
        throw Exception(kNotPcx);
    if (got < kHeaderSize)
        throw EReadError();
    const PcxHeader h = ParseHeader(headerBytes);

    const TPixelFormat format = FormatOf(h);
    if (format == pfDevice)
        throw Exception(kWrongPixelFormat);
    const int width = h.xMax - h.xMin + 1;
    const int height = h.yMax - h.yMin + 1;
    // Each plane of a row must hold the row's pixels; the planes are read from these offsets.
    const int planeBytesNeeded = h.bitsPerPixel == 1 ? (width + 7) / 8 : width;
    if (width <= 0 || height <= 0 || h.bytesPerLine < planeBytesNeeded)
        throw Exception(kNotPcx);

    int64_t dataSize = stream.Size() - stream.Position();
    if (format == pf8bit)
        dataSize -= kTrailingPaletteSize;
    if (dataSize <= 0)
        throw EReadError();  // no image data at all

    SetPixelFormat(format);
    if (format != pf24bit)
        SetPalette(MakePalette(h, format, stream));
    const bool rgbRows = UseRgbRows();
    SetSize(width, height);

    // The rows come a few at a time from packed bytes read in chunks, so that the bitmap is the only
    // copy of the whole picture. Runs may go on from one row into the next.
    const size_t lineBytes = size_t { h.planes } * static_cast<size_t>(h.bytesPerLine);
    // What the image's rows can take; the decoded bytes stop at 2 GiB as well.
    const int64_t rowBytesTotal = static_cast<int64_t>(lineBytes) * height;
    const int64_t limit = h.encoding == 1 ? std::min<int64_t>(rowBytesTotal, INT32_MAX) : rowBytesTotal;
    int64_t dataLeft = dataSize;
    // Packed bytes: a chunk at a time, after what the last chunk left unused (a count whose byte is in
    // the next one).
    std::vector<uint8_t> chunk(h.encoding == 1 ? static_cast<size_t>(std::min<int64_t>(dataSize, kChunkSize)) + 1 : 0);
    TPCXRunReader runs;
    runs.SetInput(chunk.data(), chunk.data());
    const auto readData = [&](uint8_t* to, size_t count) {
        if (h.encoding != 1) {
            const int64_t got = stream.Read(to, std::min<int64_t>(static_cast<int64_t>(count), dataLeft));
            dataLeft -= got;
            return static_cast<size_t>(got);
        }
        size_t got = runs.Read(to, count);
        while (got < count && dataLeft > 0) {
            const auto unused = static_cast<size_t>(runs.End() - runs.Unused());
            std::memmove(chunk.data(), runs.Unused(), unused);
            const int64_t room = std::min<int64_t>(dataLeft, static_cast<int64_t>(chunk.size() - unused));
            const int64_t read = std::max<int64_t>(stream.Read(chunk.data() + unused, room), 0);
            dataLeft = read > 0 ? dataLeft - read : 0;
            runs.SetInput(chunk.data(), chunk.data() + unused + read);
            got += runs.Read(to + got, count - got);
        }
        return got;
    };

    // Rows the data do not reach stay blank; a row cut short is completed with zeros.
    std::vector<uint8_t> line(lineBytes);
    for (int y = 0; y < height; ++y) {
        const int64_t offset = y * static_cast<int64_t>(lineBytes);
        if (offset >= limit)
            break;
        const size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(lineBytes), limit - offset));
        const size_t got = readData(line.data(), wanted);
        if (got == 0)
            break;
        std::fill(line.begin() + static_cast<ptrdiff_t>(got), line.end(), 0);
        ConvertRow(line.data(), h.bytesPerLine, width, format, rgbRows, ScanLine(y));
    }
    FinishRows();
}

void TPCXGraphic::SaveStream(TStream&)
{
}
