#include "codecs/TargaGraphic.h"

#include "framework/DialogHooks.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/StoredRows.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TBitmap)

namespace {

constexpr int kHeaderSize = 18;
constexpr uint8_t kTopFirst = 0x20;  // descriptor bit 5: the first stored row is the top row
constexpr int kMaxPacketPixels = 128;
constexpr uint8_t kNoImageData = 0;

const char kInvalidImage[] = "Targa: invalid image";
const char kCouldNotWrite[] = "Targa: could not write image data";
const char kConvertQuestion[] = "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?";

struct TargaHeader {
    uint8_t idLength = 0;
    uint8_t colorMapType = 0;
    uint8_t imageType = 0;
    uint16_t colorMapLength = 0;
    uint8_t colorMapEntrySize = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t depth = 0;
    uint8_t descriptor = 0;

    bool Grey() const { return imageType == 3 || imageType == 11; }
    bool Raw() const { return imageType == 1 || imageType == 2 || imageType == 3; }
    bool Packed() const { return imageType == 9 || imageType == 10 || imageType == 11; }
    // Bytes of one colour map entry: 24 and 32 bits as such, every other size as a 16-bit word.
    int ColorMapEntryBytes() const { return colorMapEntrySize == 24 ? 3 : colorMapEntrySize == 32 ? 4 : 2; }
};

TargaHeader ParseHeader(const uint8_t* b)
{
    TargaHeader h;
    h.idLength = b[0];
    h.colorMapType = b[1];
    h.imageType = b[2];
    h.colorMapLength = static_cast<uint16_t>(b[5] | b[6] << 8);
    h.colorMapEntrySize = b[7];
    h.width = static_cast<uint16_t>(b[12] | b[13] << 8);
    h.height = static_cast<uint16_t>(b[14] | b[15] << 8);
    h.depth = b[16];
    h.descriptor = b[17];
    return h;
}

// Bytes of one stored pixel for the depths the reader supports; 0 for any other depth.
int PixelSizeOfDepth(int depth)
{
    switch (depth) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
    }
}

TPixelFormat PixelFormatOfDepth(int depth)
{
    switch (depth) {
    case 8: return pf8bit;
    case 15:
    case 16: return pf15bit;
    case 24: return pf24bit;
    default: return pf32bit;
    }
}

// The colour map's first 256 entries as red, green, blue.
HPALETTE DecodeColorMap(std::span<const uint8_t> map, const TargaHeader& h)
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = static_cast<uint16_t>(std::min<int>(h.colorMapLength, 256));
    const int entryBytes = h.ColorMapEntryBytes();
    for (int i = 0; i < log.palNumEntries; ++i) {
        const uint8_t* e = map.data() + static_cast<size_t>(i) * entryBytes;
        TPaletteEntry& p = log.palPalEntry[i];
        if (entryBytes >= 3) {
            p.peBlue = e[0];
            p.peGreen = e[1];
            p.peRed = e[2];
        } else {
            const unsigned w = e[0] | e[1] << 8;
            p.peBlue = static_cast<uint8_t>((w & 0x1F) << 3);
            p.peGreen = static_cast<uint8_t>((w & 0x3E0) >> 2);
            p.peRed = static_cast<uint8_t>((w & 0x7C00) >> 7);
        }
    }
    return CreatePalette(log);
}

HPALETTE GreyRamp()
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 256;
    for (int i = 0; i < 256; ++i)
        log.palPalEntry[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return CreatePalette(log);
}

// Run-length packets read as one stream of pixels. Real files let a packet run on into the next
// row, so the packet being decoded carries over from one row to the next.
class TPacketReader {
public:
    explicit TPacketReader(int pixelSize) : pixelSize_(pixelSize) {}

    // Fills `pixels` pixels of `row` from `input` and returns the bytes consumed. When the input
    // ends first, the rest of the row keeps what it holds.
    size_t DecodeRow(std::span<const uint8_t> input, uint8_t* row, int pixels)
    {
        const size_t s = static_cast<size_t>(pixelSize_);
        size_t pos = 0;
        int x = 0;
        while (x < pixels) {
            if (remaining_ == 0) {
                if (pos >= input.size())
                    break;
                const uint8_t header = input[pos++];
                remaining_ = (header & 0x7F) + 1;
                run_ = (header & 0x80) != 0;
                if (run_) {
                    if (input.size() - pos < s) {
                        remaining_ = 0;
                        pos = input.size();
                        break;
                    }
                    std::memcpy(runPixel_, input.data() + pos, s);
                    pos += s;
                }
            }
            int n = std::min(remaining_, pixels - x);
            if (run_) {
                for (int i = 0; i < n; ++i)
                    std::memcpy(row + (x + i) * s, runPixel_, s);
            } else {
                n = static_cast<int>(std::min<size_t>(n, (input.size() - pos) / s));
                if (n == 0)
                    break;
                std::memcpy(row + x * s, input.data() + pos, n * s);
                pos += n * s;
            }
            x += n;
            remaining_ -= n;
        }
        return pos;
    }

    // Bytes of a raw packet that the image ended in the middle of.
    size_t PendingBytes() const { return run_ ? 0 : static_cast<size_t>(remaining_) * pixelSize_; }

private:
    int pixelSize_;
    int remaining_ = 0;  // pixels of the current packet not yet produced
    bool run_ = false;
    uint8_t runPixel_[4] = {};
};

// Encodes `count` pixels of `pixelSize` bytes as run-length packets; returns the bytes written,
// at most 2 x count x pixelSize. Two equal neighbours always start a run packet.
size_t EncodeRow(const uint8_t* row, int pixelSize, int count, uint8_t* out)
{
    const size_t s = static_cast<size_t>(pixelSize);
    auto equal = [&](int a, int b) { return std::memcmp(row + a * s, row + b * s, s) == 0; };
    size_t written = 0;
    int i = 0;
    while (i < count) {
        const int left = count - i;
        // Pixels before the first equal neighbouring pair, at most one packet's worth.
        int raw = 0;
        while (raw < kMaxPacketPixels) {
            if (raw + 1 >= left) {
                raw = left;
                break;
            }
            if (equal(i + raw, i + raw + 1))
                break;
            ++raw;
        }
        raw = std::min(raw, kMaxPacketPixels);
        if (raw > 0) {
            out[written++] = static_cast<uint8_t>(raw - 1);
            std::memcpy(out + written, row + i * s, raw * s);
            written += raw * s;
            i += raw;
        } else {
            int run = 1;
            while (run < kMaxPacketPixels && run < left && equal(i, i + run))
                ++run;
            out[written++] = static_cast<uint8_t>((run - 1) | 0x80);
            std::memcpy(out + written, row + i * s, s);
            written += s;
            i += run;
        }
    }
    return written;
}

void WriteRow(TStream& stream, const uint8_t* bytes, size_t count)
{
    if (stream.Write(bytes, static_cast<int64_t>(count)) != static_cast<int64_t>(count))
        throw Exception(kCouldNotWrite);
}

}  // namespace

void TTargaGraphic::LoadStream(TStream& stream)
{
    // Nothing of an earlier picture may show through a file that leaves pixels unset.
    ReleaseHandle();
    identification_.clear();

    uint8_t headerBytes[kHeaderSize];
    if (stream.Read(headerBytes, kHeaderSize) != kHeaderSize)
        throw Exception(kInvalidImage);
    const TargaHeader h = ParseHeader(headerBytes);
    const bool hasPixels = h.Raw() || h.Packed();
    const int pixelSize = PixelSizeOfDepth(h.depth);
    // Type 0 announces that no pixels follow; any other type this reader does not know has pixels
    // it cannot decode, and a blank picture would pass for the image.
    if ((hasPixels && pixelSize == 0) || (!hasPixels && h.imageType != kNoImageData))
        throw Exception(kInvalidImage);

    if (h.idLength > 0) {
        // The text is taken as far as the stream holds it.
        std::vector<uint8_t> id = stream.ReadBytes(h.idLength);
        identification_.assign(id.begin(), id.end());
    }

    if (pixelSize > 0)
        SetPixelFormat(PixelFormatOfDepth(h.depth));

    if (h.colorMapType == 1 || h.Grey()) {
        std::vector<uint8_t> map;
        if (h.colorMapType == 1) {
            // Grey images get their ramp whatever the file's map says, but its bytes are still
            // skipped: the pixels follow them.
            const int64_t mapBytes = int64_t{h.colorMapLength} * h.ColorMapEntryBytes();
            map = stream.ReadBytes(mapBytes);
            if (static_cast<int64_t>(map.size()) != mapBytes)
                throw Exception(kInvalidImage);
        }
        SetPalette(h.Grey() ? GreyRamp() : DecodeColorMap(map, h));
    }

    // A picture without pixels in one direction has none in the other either.
    const int width = h.height == 0 ? 0 : h.width;
    const int height = h.width == 0 ? 0 : h.height;
    const size_t rowSize = static_cast<size_t>(width) * pixelSize;
    if (h.Raw() && static_cast<uint64_t>(stream.Remaining()) < uint64_t{rowSize} * height)
        throw Exception(kInvalidImage);  // refused before a large bitmap is made for a short file
    const bool topFirst = (h.descriptor & kTopFirst) != 0;
    // Packed rows stored bottom row first come bottom row first: a bitmap that passes rows on holds
    // them. Raw ones are read from the end.
    if (h.Packed() && !topFirst)
        KeepAllRows();
    // Raw 24-bit rows are turned round once, on their way to a sink that takes red, green, blue.
    const bool rgbRows = h.Raw() && pixelSize == 3 && UseRgbRows();
    SetSize(width, height);
    if (!hasPixels || Empty()) {
        FinishRows();
        return;
    }

    if (h.Raw()) {
        try {
            ReadStoredRows(stream, *this, stream.Position(), rowSize, topFirst, rgbRows);
        } catch (const EReadError&) {
            throw Exception(kInvalidImage);
        }
        FinishRows();
        return;
    }

    // One block of twice the row size always holds a row's packets (a one-pixel packet of one-byte
    // pixels is the worst case); the stream goes back to just after the bytes used.
    std::vector<uint8_t> block(2 * rowSize);
    TPacketReader packets(pixelSize);
    for (int k = 0; k < height; ++k) {
        const int64_t got = stream.Read(block.data(), static_cast<int64_t>(block.size()));
        const size_t used = packets.DecodeRow(std::span<const uint8_t>(block.data(), static_cast<size_t>(got)),
            ScanLine(topFirst ? k : height - 1 - k), width);
        stream.Seek(static_cast<int64_t>(used) - got, TSeekOrigin::Current);
    }
    // A packet running past the last pixel is clipped, but it still belongs to the image.
    stream.Seek(std::min<int64_t>(packets.PendingBytes(), stream.Remaining()), TSeekOrigin::Current);
    FinishRows();
}

void TTargaGraphic::SaveStream(TStream& stream)
{
    SaveTarga(stream, true);
}

void TTargaGraphic::SaveTarga(TStream& stream, bool compressed)
{
    int pixelSize = 0;
    switch (PixelFormat()) {
    case pf1bit:
    case pf4bit:
        if (!WarningOkCancel(kConvertQuestion))
            return;
        SetPixelFormat(pf8bit);
        pixelSize = 1;
        break;
    case pf8bit: pixelSize = 1; break;
    case pf15bit:
    case pf16bit: pixelSize = 2; break;
    case pf24bit: pixelSize = 3; break;
    case pf32bit:
    case pfDevice: pixelSize = 4; break;
    }
    if (Empty())
        return;
    // The header holds 16-bit sizes: a larger picture cannot be described, and a cut size would
    // give a file that reads back as garbage.
    if (Width() > 0xFFFF || Height() > 0xFFFF)
        throw Exception(kCouldNotWrite);

    const std::string id = identification_.substr(0, 255);
    const bool mapped = pixelSize == 1;
    uint8_t header[kHeaderSize] = {};
    header[0] = static_cast<uint8_t>(id.size());
    header[1] = mapped ? 1 : 0;
    header[2] = compressed ? (mapped ? 9 : 10) : (mapped ? 1 : 2);
    header[5] = 0x00;  // colour map length 256, also when no map follows
    header[6] = 0x01;
    header[7] = 24;
    header[12] = static_cast<uint8_t>(Width());
    header[13] = static_cast<uint8_t>(Width() >> 8);
    header[14] = static_cast<uint8_t>(Height());
    header[15] = static_cast<uint8_t>(Height() >> 8);
    header[16] = static_cast<uint8_t>(8 * pixelSize);
    header[17] = kTopFirst;
    stream.Write(header, kHeaderSize);
    if (!id.empty())
        stream.Write(id.data(), static_cast<int64_t>(id.size()));

    if (mapped) {
        // Entries the picture's colour table lacks are written black.
        uint8_t map[256 * 3] = {};
        const std::vector<TPaletteEntry>& colors = ColorTable();
        for (size_t i = 0; i < std::min<size_t>(colors.size(), 256); ++i) {
            map[3 * i] = colors[i].peBlue;
            map[3 * i + 1] = colors[i].peGreen;
            map[3 * i + 2] = colors[i].peRed;
        }
        stream.Write(map, sizeof map);
    }

    const size_t rowSize = static_cast<size_t>(Width()) * pixelSize;
    // Rows whose layout differs from the file's are converted here: 5-6-5 words to 5-5-5, and the
    // unused fourth byte of device pixels to opaque, since the file's fourth byte is alpha.
    std::vector<uint8_t> converted(PixelFormat() == pf16bit || PixelFormat() == pfDevice ? rowSize : 0);
    std::vector<uint8_t> packed(compressed ? 2 * rowSize : 0);
    for (int y = 0; y < Height(); ++y) {
        const uint8_t* row = ScanLine(y);
        if (PixelFormat() == pf16bit) {
            for (int x = 0; x < Width(); ++x) {
                const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
                const unsigned v555 = (v >> 1 & 0x7FE0) | (v & 0x1F);
                converted[2 * x] = static_cast<uint8_t>(v555);
                converted[2 * x + 1] = static_cast<uint8_t>(v555 >> 8);
            }
            row = converted.data();
        } else if (PixelFormat() == pfDevice) {
            std::memcpy(converted.data(), row, rowSize);
            for (int x = 0; x < Width(); ++x)
                converted[4 * x + 3] = 0xFF;
            row = converted.data();
        }
        if (compressed)
            WriteRow(stream, packed.data(), EncodeRow(row, pixelSize, Width(), packed.data()));
        else
            WriteRow(stream, row, rowSize);
    }
}
