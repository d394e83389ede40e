#include "codecs/PSDGraphic.h"

#include "codecs/GraphicCompression.h"
#include "codecs/GraphicFormats.h"
#include "framework/ByteReader.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TBitmap)

namespace {

constexpr int kHeaderSize = 26;
constexpr int kColorTableSize = 768;
constexpr int64_t kMaxPackBitsGain = 64;  // bytes out per packed byte at most

enum ColorMode {
    kBitmapMode = 0,
    kGreyMode = 1,
    kIndexedMode = 2,
    kRgbMode = 3,
    kCmykMode = 4,
    kDuotoneMode = 8,
    kLabMode = 9,
};

const char kNotPsd[] = "Not a valid psd file.";

struct PsdHeader {
    int channels = 0;
    uint32_t height = 0;
    uint32_t width = 0;
    int depth = 0;
    int mode = 0;

    bool SingleChannel() const
    {
        return mode == kBitmapMode || mode == kGreyMode || mode == kIndexedMode || mode == kDuotoneMode;
    }
    bool Planar() const { return mode == kRgbMode || mode == kCmykMode || mode == kLabMode; }
    int ColorChannels() const { return mode == kCmykMode ? 4 : Planar() ? 3 : 1; }
    // Bytes of one stored row of one channel.
    int64_t RowBytes() const { return mode == kBitmapMode ? (int64_t{width} + 7) / 8 : int64_t{width} * (depth / 8); }
};

TPixelFormat FormatOf(int mode)
{
    switch (mode) {
    case kBitmapMode: return pf1bit;
    case kGreyMode:
    case kIndexedMode:
    case kDuotoneMode: return pf8bit;
    case kRgbMode:
    case kCmykMode:
    case kLabMode: return pf24bit;
    default: return pfDevice;
    }
}

// The modes this reader draws must come with the depths and channels they are drawn from.
bool Drawable(const PsdHeader& h)
{
    if (h.mode == kBitmapMode)
        return h.depth == 1 && h.channels >= 1;
    return (h.depth == 8 || h.depth == 16) && h.channels >= h.ColorChannels();
}

// Moves past a section of the given length; a section longer than the stream is a short stream.
void SkipSection(TStream& stream, uint32_t length)
{
    if (length > static_cast<uint64_t>(stream.Remaining()))
        throw EReadError();
    stream.Seek(length, TSeekOrigin::Current);
}

std::vector<uint8_t> ReadExactly(TStream& stream, int64_t count)
{
    if (count > stream.Remaining())
        throw EReadError();
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    stream.ReadBuffer(bytes.data(), count);
    return bytes;
}

HPALETTE MakePalette(const PsdHeader& h, const uint8_t* colorTable)
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = h.depth == 1 ? 2 : h.depth == 4 ? 16 : 256;
    for (int i = 0; i < log.palNumEntries; ++i) {
        TPaletteEntry& e = log.palPalEntry[i];
        if (h.mode == kBitmapMode) {
            const uint8_t v = i == 0 ? 255 : 0;  // set bits are black ink
            e = {v, v, v, 0};
        } else if (h.mode == kIndexedMode) {
            e = {colorTable[i], colorTable[256 + i], colorTable[512 + i], 0};
        } else {
            e = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
    }
    return CreatePalette(log);
}

// The stored rows of the colour channels, raw or PackBits, each row unpacked into a row buffer of the
// caller. The whole pixel data must be in the stream before anything is made, but only a window of
// each channel is held: rows are asked for in order within each channel.
class TChannelRows {
public:
    TChannelRows(TStream& stream, const PsdHeader& h, bool packBits)
        : stream_(stream), rowBytes_(h.RowBytes()), height_(h.height), packBits_(packBits)
    {
        // Further channels (alpha, spot colours) are left unread.
        const int channels = h.ColorChannels();
        const int64_t rows = int64_t{channels} * h.height;
        std::vector<uint8_t> table;
        if (packBits) {
            // One 16-bit count per row of every channel, channel 0 first; the packed rows follow.
            table = ReadExactly(stream, 2 * int64_t{h.channels} * h.height);
            counts_.resize(static_cast<size_t>(rows));
        }
        const int64_t start = stream.Position();
        int64_t total = 0;
        cursors_.resize(static_cast<size_t>(channels));
        for (int64_t i = 0; i < rows; ++i) {
            if (i % h.height == 0)
                cursors_[static_cast<size_t>(i / h.height)].next = start + total;
            int64_t count = rowBytes_;
            if (packBits) {
                count = uint32_t(table[2 * i]) << 8 | table[2 * i + 1];
                // Two packed bytes give at most 128: a count too small for its row belongs to no
                // Photoshop file, and would let a few bytes claim an enormous picture.
                if (count * kMaxPackBitsGain < rowBytes_)
                    throw Exception(kNotPsd);
                counts_[static_cast<size_t>(i)] = static_cast<uint16_t>(count);
            }
            total += count;
        }
        if (total > stream.Remaining())
            throw EReadError();
    }

    int64_t RowBytes() const { return rowBytes_; }

    // Row y of channel c. A packed row that unpacks to more than its row stops at the row's end;
    // one that unpacks to less leaves the rest zero.
    void Row(int c, int y, uint8_t* dest)
    {
        const int64_t count = packBits_ ? counts_[static_cast<size_t>(int64_t{c} * height_ + y)] : rowBytes_;
        const uint8_t* source = Take(cursors_[static_cast<size_t>(c)], count);
        if (!packBits_) {
            std::memcpy(dest, source, static_cast<size_t>(rowBytes_));
            return;
        }
        std::memset(dest, 0, static_cast<size_t>(rowBytes_));
        decoder_.Decode(source, source + count, dest, static_cast<int32_t>(count), static_cast<int32_t>(rowBytes_));
    }

private:
    // Where a channel's next row lies in the stream, and the bytes of it already read.
    struct Cursor {
        int64_t next = 0;
        std::vector<uint8_t> window;
        size_t used = 0;
    };

    // The next `count` bytes of the channel, read ahead a window at a time.
    const uint8_t* Take(Cursor& cursor, int64_t count)
    {
        constexpr int64_t kWindowBytes = 256 * 1024;
        if (static_cast<int64_t>(cursor.window.size() - cursor.used) < count) {
            cursor.window.erase(cursor.window.begin(), cursor.window.begin() + static_cast<std::ptrdiff_t>(cursor.used));
            cursor.used = 0;
            const size_t kept = cursor.window.size();
            const int64_t more = std::max(count - static_cast<int64_t>(kept), kWindowBytes);
            stream_.Seek(cursor.next, TSeekOrigin::Beginning);
            const int64_t got = std::min(more, stream_.Remaining());
            cursor.window.resize(kept + static_cast<size_t>(got));
            stream_.ReadBuffer(cursor.window.data() + kept, got);
            cursor.next += got;
            if (static_cast<int64_t>(cursor.window.size()) < count)
                throw EReadError();
        }
        const uint8_t* bytes = cursor.window.data() + cursor.used;
        cursor.used += static_cast<size_t>(count);
        return bytes;
    }

    TStream& stream_;
    int64_t rowBytes_;
    int64_t height_;
    bool packBits_;
    std::vector<uint16_t> counts_;  // packed bytes of each row, channel by channel
    std::vector<Cursor> cursors_;
    TPackbitsRLE decoder_;
};

}  // namespace

void TPSDGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();

    uint8_t headerBytes[kHeaderSize];
    const int64_t got = stream.Read(headerBytes, kHeaderSize);
    if (got < 4 || std::memcmp(headerBytes, "8BPS", 4) != 0)
        throw Exception(kNotPsd);
    if (got < kHeaderSize)
        throw EReadError();
    TByteReader fields({headerBytes + 12, kHeaderSize - 12});
    PsdHeader h;
    h.channels = fields.U16BE();
    h.height = fields.U32BE();
    h.width = fields.U32BE();
    h.depth = fields.U16BE();
    h.mode = fields.U16BE();
    const bool drawn = h.SingleChannel() || h.Planar();
    if (h.width == 0 || h.height == 0 || (drawn && !Drawable(h)))
        throw Exception(kNotPsd);
    const TPixelFormat format = FormatOf(h.mode);
    SetPixelFormat(format);
    CheckSize(h.width, h.height, format);

    // Colour mode data: the indexed colour table (red, green, blue thirds). Shorter tables leave
    // the missing colours black, longer ones are cut.
    uint8_t colorTable[kColorTableSize] = {};
    const uint32_t colorDataLength = stream.ReadLongBE();
    if (h.mode == kIndexedMode) {
        const uint32_t used = std::min<uint32_t>(colorDataLength, kColorTableSize);
        stream.ReadBuffer(colorTable, used);
        SkipSection(stream, colorDataLength - used);
    } else {
        SkipSection(stream, colorDataLength);
    }
    if (h.SingleChannel())
        SetPalette(MakePalette(h, colorTable));

    SkipSection(stream, stream.ReadLongBE());  // image resources
    SkipSection(stream, stream.ReadLongBE());  // layer and mask information
    const bool packBits = stream.ReadWordBE() == 1;
    if (!drawn) {
        SetSize(static_cast<int>(h.width), static_cast<int>(h.height));
        return;
    }
    // The pixel data are read (and their sizes checked) before the bitmap is made.
    TChannelRows rows(stream, h, packBits);
    SetSize(static_cast<int>(h.width), static_cast<int>(h.height));

    const int width = Width();
    const int height = Height();
    if (h.SingleChannel()) {
        std::vector<uint8_t> wide(h.depth == 16 ? static_cast<size_t>(rows.RowBytes()) : 0);
        for (int y = 0; y < height; ++y) {
            if (h.depth != 16) {
                rows.Row(0, y, ScanLine(y));
                continue;
            }
            rows.Row(0, y, wide.data());
            uint8_t* dest = ScanLine(y);
            for (int x = 0; x < width; ++x)
                dest[x] = wide[2 * x];  // the high byte of each big-endian sample
        }
        return;
    }

    const int channels = h.ColorChannels();
    const int64_t rowBytes = rows.RowBytes();
    std::vector<uint8_t> stored(static_cast<size_t>(channels * rowBytes));
    // The L*a*b* conversion takes 8-bit samples: 16-bit ones give their high byte.
    const bool narrowed = h.mode == kLabMode && h.depth == 16;
    std::vector<uint8_t> narrow(narrowed ? static_cast<size_t>(channels) * width : 0);
    const int bitsPerSample = narrowed ? 8 : h.depth;
    const int64_t stride = narrowed ? width : rowBytes;
    uint8_t* samples = narrowed ? narrow.data() : stored.data();
    const uint8_t* plane[4] = {};
    for (int c = 0; c < channels; ++c)
        plane[c] = samples + c * stride;

    for (int y = 0; y < height; ++y) {
        for (int c = 0; c < channels; ++c)
            rows.Row(c, y, stored.data() + c * rowBytes);
        if (narrowed) {
            for (int64_t i = 0; i < int64_t{channels} * width; ++i)
                narrow[i] = stored[2 * i];
        } else if (h.depth == 16) {
            // The converters take 16-bit samples low byte first.
            SwapWords(stored.data(), static_cast<int>(channels * rowBytes / 2));
        }
        if (h.mode == kCmykMode) {
            // The file stores the inks inverted.
            for (int64_t i = 0; i < 4 * stride; ++i)
                samples[i] = static_cast<uint8_t>(255 - samples[i]);
        } else if (h.mode == kLabMode) {
            // a* and b* become signed values centred on 0.
            for (int64_t i = stride; i < 3 * stride; ++i)
                samples[i] = static_cast<uint8_t>(samples[i] - 128);
        }
        uint8_t* dest = ScanLine(y);
        switch (h.mode) {
        case kRgbMode: RgbPlanesToBgr(plane[0], plane[1], plane[2], dest, bitsPerSample, width * 3); break;
        case kCmykMode:
            CmykPlanesToBgr(plane[0], plane[1], plane[2], plane[3], dest, bitsPerSample, width * 4);
            break;
        default: LabPlanesToBgr(plane[0], plane[1], plane[2], dest, bitsPerSample, width * 3); break;
        }
    }
}
