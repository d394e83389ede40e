#include "framework/BitmapFile.h"

#include "framework/Bitmap.h"
#include "framework/ByteReader.h"
#include "framework/DeviceIndependentBitmap.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/StoredRows.h"
#include "framework/Stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

constexpr int kFileHeaderSize = 14;

EInvalidGraphic InvalidBitmap()
{
    return EInvalidGraphic("Bitmap image is not valid");
}

struct BitmapHeader {
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative: rows stored top first
    int bitCount = 0;
    uint32_t compression = kBiRgb;
    uint32_t colorsUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool hasMasks = false;
};

// One channel of a bit-field pixel: where it sits and how to scale it to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(uint32_t m) : mask(m)
    {
        if (m) {
            shift = std::countr_zero(m);
            bits = std::popcount(m >> shift);
        }
    }
    uint8_t Extract(uint32_t pixel) const
    {
        if (!mask)
            return 0;
        const uint32_t v = (pixel & mask) >> shift;
        const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        if (bits >= 8)
            return static_cast<uint8_t>(v >> (bits - 8));
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

BitmapHeader ReadHeaders(TByteReader& in)
{
    BitmapHeader h;
    h.headerSize = in.U32LE();
    if (h.headerSize == 12) {
        h.width = in.U16LE();
        h.height = in.U16LE();
        in.Skip(2);
        h.bitCount = in.U16LE();
        return h;
    }
    if (h.headerSize < 16 || h.headerSize > 4096)
        throw InvalidBitmap();
    TByteReader info(in.Bytes(h.headerSize - 4));
    h.width = info.S32LE();
    h.height = info.S32LE();
    info.Skip(2);
    h.bitCount = info.U16LE();
    if (info.Remaining() >= 4)
        h.compression = info.U32LE();
    if (info.Remaining() >= 16) {
        info.Skip(12);  // image size, resolution
        h.colorsUsed = info.U32LE();
    }
    if (h.headerSize == 64 && h.compression >= kBiBitfields)
        throw InvalidBitmap();  // OS/2 Huffman and RLE24 share these numbers; not supported
    if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
        h.hasMasks = true;
        if (h.headerSize >= 52) {
            info.Seek(36);
            for (int i = 0; i < (h.headerSize >= 56 ? 4 : 3); ++i)
                h.masks[i] = info.U32LE();
        } else {
            // The masks follow a 40-byte header.
            for (int i = 0; i < (h.compression == kBiAlphaBitfields ? 4 : 3); ++i)
                h.masks[i] = in.U32LE();
        }
    } else if (h.headerSize >= 56 && h.compression == kBiRgb && (h.bitCount == 32 || h.bitCount == 16)) {
        // V4/V5 headers may name an alpha mask for plain rows.
        info.Seek(48);
        h.masks[3] = info.U32LE();
    }
    return h;
}

void DecodeRle(std::span<const uint8_t> data, int bits, TBitmap& bitmap, bool topDown)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    auto rowAt = [&](int line) { return bitmap.ScanLine(topDown ? line : height - 1 - line); };
    auto put = [&](int line, int x, unsigned index) {
        if (line >= height || x >= width)
            return;
        uint8_t* row = rowAt(line);
        if (bits == 8) {
            row[x] = static_cast<uint8_t>(index);
        } else {
            const int shift = (x & 1) ? 0 : 4;
            row[x / 2] = static_cast<uint8_t>((row[x / 2] & ~(0xF << shift)) | (index & 0xF) << shift);
        }
    };
    size_t p = 0;
    int x = 0;
    int line = 0;
    while (p + 1 < data.size() && line < height) {
        const unsigned count = data[p];
        const unsigned value = data[p + 1];
        p += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count && x < width; ++i, ++x)
                put(line, x, bits == 8 ? value : (i % 2 == 0 ? value >> 4 : value & 0xF));
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++line;
            break;
        case 1:  // end of bitmap
            return;
        case 2:  // delta
            if (p + 1 >= data.size())
                return;
            x += data[p];
            line += data[p + 1];
            p += 2;
            break;
        default: {  // absolute run, padded to a 16-bit boundary
            const size_t bytes = bits == 8 ? value : (value + 1) / 2;
            const size_t available = std::min(bytes, data.size() - p);
            for (unsigned i = 0; i < value; ++i, ++x) {
                const size_t byteIndex = bits == 8 ? i : i / 2;
                if (byteIndex >= available)
                    break;
                const uint8_t b = data[p + byteIndex];
                put(line, x, bits == 8 ? b : (i % 2 == 0 ? b >> 4 : b & 0xF));
            }
            p += (bytes + 1) & ~size_t{1};
            break;
        }
        }
    }
}

}  // namespace

void ReadWindowsBitmap(TStream& stream, TBitmap& bitmap)
{
    const int64_t start = stream.Position();
    uint8_t fileHeader[kFileHeaderSize];
    stream.ReadBuffer(fileHeader, kFileHeaderSize);
    // A .dib from the clipboard has no file header: the information header comes first, and the
    // pixels follow it, its bit-field masks and its colour table.
    const bool packed = fileHeader[0] != 'B' || fileHeader[1] != 'M';
    const int fileHeaderSize = packed ? 0 : kFileHeaderSize;
    stream.SetPosition(start + fileHeaderSize);

    // Headers, masks and colour table are small: read at most what they can occupy.
    std::vector<uint8_t> headBytes = stream.ReadBytes(4096 + 16 + 256 * 4);
    uint32_t pixelOffset = fileHeader[10] | fileHeader[11] << 8 | fileHeader[12] << 16 | uint32_t(fileHeader[13]) << 24;
    if (packed) {
        const size_t infoSize = DibInfoSize(headBytes);
        if (infoSize == 0)
            throw InvalidBitmap();
        pixelOffset = static_cast<uint32_t>(infoSize);
    }
    TByteReader in(headBytes);
    const BitmapHeader h = ReadHeaders(in);

    const int bits = h.bitCount;
    const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
    const bool validDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (!validDepth || h.width <= 0 || h.height == 0 || h.height == INT64_MIN)
        throw InvalidBitmap();
    if ((h.compression == kBiRle8 && bits != 8) || (h.compression == kBiRle4 && bits != 4) ||
        (h.hasMasks && bits != 16 && bits != 32) ||
        (h.compression != kBiRgb && !rle && !h.hasMasks))
        throw InvalidBitmap();
    const bool topDown = h.height < 0;
    const int64_t height = topDown ? -h.height : h.height;

    // Colour table.
    std::vector<TPaletteEntry> colors;
    if (bits <= 8) {
        const size_t entrySize = h.headerSize == 12 ? 3 : 4;
        size_t count = h.colorsUsed ? std::min<uint32_t>(h.colorsUsed, 1u << bits) : (1u << bits);
        // A table cut short by the pixel data's offset holds only the entries before it.
        const size_t tableStart = fileHeaderSize + in.Position();
        if (pixelOffset > tableStart && pixelOffset < tableStart + count * entrySize)
            count = (pixelOffset - tableStart) / entrySize;
        count = std::min(count, in.Remaining() / entrySize);
        for (size_t i = 0; i < count; ++i) {
            auto e = in.Bytes(entrySize);
            colors.push_back({e[2], e[1], e[0], 0});
        }
    }

    TPixelFormat format = pf24bit;
    uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
    if (bits == 16 && !h.hasMasks) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    }
    bool rawCopy = true;
    switch (bits) {
    case 1: format = pf1bit; break;
    case 4: format = pf4bit; break;
    case 8: format = pf8bit; break;
    case 16:
        if (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F && !masks[3]) {
            format = pf15bit;
        } else if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F && !masks[3]) {
            format = pf16bit;
        } else {
            format = masks[3] ? pf32bit : pf24bit;
            rawCopy = false;
        }
        break;
    case 24: format = pf24bit; break;
    case 32:
        format = pf32bit;
        rawCopy = !h.hasMasks || (masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF &&
                                  (masks[3] == 0 || masks[3] == 0xFF000000u));
        break;
    }

    const uint64_t fileStride = ((static_cast<uint64_t>(h.width) * bits + 31) / 32) * 4;
    stream.SetPosition(start + fileHeaderSize + static_cast<int64_t>(in.Position()));
    const int64_t dataStart = pixelOffset >= fileHeaderSize + in.Position() ? start + pixelOffset : stream.Position();
    stream.SetPosition(dataStart);
    if (!rle && fileStride * static_cast<uint64_t>(height) > static_cast<uint64_t>(stream.Remaining()))
        throw EReadError();  // the pixel data cannot be there: refuse before allocating

    TBitmap::CheckSize(h.width, height, format);
    bitmap.ReleaseHandle();
    bitmap.SetPixelFormat(format);
    if (bits <= 8) {
        TLogPalette log{};
        log.palVersion = kPaletteVersion;
        log.palNumEntries = static_cast<uint16_t>(colors.size());
        std::copy(colors.begin(), colors.end(), log.palPalEntry);
        bitmap.SetPalette(CreatePalette(log));
    }
    // Packed rows come in the file's order and may skip ahead: a bitmap that passes rows on holds them.
    if (rle)
        bitmap.KeepAllRows();
    // Plain 24-bit rows are turned round once, on their way to a sink that takes red, green, blue.
    const bool rgbRows = !rle && bits == 24 && bitmap.UseRgbRows();
    bitmap.SetSize(static_cast<int>(h.width), static_cast<int>(height));

    if (rle) {
        const std::vector<uint8_t> data = stream.ReadBytes(stream.Remaining());
        DecodeRle(data, bits, bitmap, topDown);
        bitmap.FinishRows();
        return;
    }

    const Channel channels[4] = {Channel(masks[0]), Channel(masks[1]), Channel(masks[2]), Channel(masks[3])};
    const int outBytes = format == pf32bit ? 4 : 3;
    auto extract = [&](const uint8_t* row, uint8_t* dest) {
        for (int64_t x = 0; x < h.width; ++x) {
            const uint32_t pixel = bits == 16 ? uint32_t(row[2 * x] | row[2 * x + 1] << 8)
                                              : uint32_t(row[4 * x]) | uint32_t(row[4 * x + 1]) << 8 |
                                                    uint32_t(row[4 * x + 2]) << 16 | uint32_t(row[4 * x + 3]) << 24;
            uint8_t* out = dest + outBytes * x;
            out[0] = channels[2].Extract(pixel);
            out[1] = channels[1].Extract(pixel);
            out[2] = channels[0].Extract(pixel);
            if (outBytes == 4)
                out[3] = masks[3] ? channels[3].Extract(pixel) : 0;
        }
    };
    ReadStoredRows(stream, bitmap, dataStart, static_cast<size_t>(fileStride), topDown, rgbRows,
        rawCopy ? TStoredRowConversion() : TStoredRowConversion(extract));
    bitmap.FinishRows();
}

namespace {

void PutWord(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLong(std::vector<uint8_t>& out, uint32_t v)
{
    PutWord(out, v & 0xFFFF);
    PutWord(out, v >> 16);
}

}  // namespace

void WriteWindowsBitmap(TStream& stream, const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return;
    const TPixelFormat format = bitmap.PixelFormat();
    const int bits = bitmap.BitsPerPixel();
    const bool bitfields = format == pf16bit;

    std::vector<TPaletteEntry> table;
    if (IsIndexed(format)) {
        table = bitmap.ColorTable();
        table.resize(std::min<size_t>(table.size(), size_t{1} << bits));
        if (table.empty())
            table.resize(size_t{1} << bits);
    } else if (bitmap.Palette()) {
        table = bitmap.Palette()->Entries();
    }
    const uint32_t colorsUsed = IsIndexed(format) && table.size() == (size_t{1} << bits) ? 0 : static_cast<uint32_t>(table.size());

    const uint32_t stride = static_cast<uint32_t>(((static_cast<uint64_t>(bitmap.Width()) * bits + 31) / 32) * 4);
    const uint32_t imageSize = stride * static_cast<uint32_t>(bitmap.Height());
    const uint32_t offset = kFileHeaderSize + 40 + (bitfields ? 12 : 0) + static_cast<uint32_t>(table.size()) * 4;

    std::vector<uint8_t> head;
    head.reserve(offset);
    head.push_back('B');
    head.push_back('M');
    PutLong(head, offset + imageSize);
    PutLong(head, 0);
    PutLong(head, offset);
    PutLong(head, 40);
    PutLong(head, static_cast<uint32_t>(bitmap.Width()));
    PutLong(head, static_cast<uint32_t>(bitmap.Height()));
    PutWord(head, 1);
    PutWord(head, static_cast<uint32_t>(bits));
    PutLong(head, bitfields ? kBiBitfields : kBiRgb);
    PutLong(head, imageSize);
    PutLong(head, 0);
    PutLong(head, 0);
    PutLong(head, colorsUsed);
    PutLong(head, 0);
    if (bitfields) {
        PutLong(head, 0xF800);
        PutLong(head, 0x07E0);
        PutLong(head, 0x001F);
    }
    for (const TPaletteEntry& e : table) {
        head.push_back(e.peBlue);
        head.push_back(e.peGreen);
        head.push_back(e.peRed);
        head.push_back(0);
    }
    stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));

    std::vector<uint8_t> row(stride, 0);
    const size_t rowBytes = static_cast<size_t>(bitmap.RowBytes());
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        std::memcpy(row.data(), bitmap.ScanLine(y), rowBytes);
        stream.WriteBuffer(row.data(), stride);
    }
}
