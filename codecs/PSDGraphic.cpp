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

// The stored rows of the colour channels, raw or PackBits; only what the file holds is kept in
// memory, and each row comes out unpacked into a row buffer of the caller.
class TChannelRows {
public:
    TChannelRows(TStream& stream, const PsdHeader& h, bool packBits)
        : rowBytes_(h.RowBytes()), height_(h.height), packBits_(packBits)
    {
        // Further channels (alpha, spot colours) are left unread.
        const int64_t rows = int64_t{h.ColorChannels()} * h.height;
        if (!packBits) {
            data_ = ReadExactly(stream, rows * rowBytes_);
            return;
        }
        // One 16-bit count per row of every channel, channel 0 first; the packed rows follow.
        const std::vector<uint8_t> table = ReadExactly(stream, 2 * int64_t{h.channels} * h.height);
        offsets_.resize(static_cast<size_t>(rows) + 1);
        for (size_t i = 0; i < static_cast<size_t>(rows); ++i) {
            const int64_t count = uint32_t(table[2 * i]) << 8 | table[2 * i + 1];
            // Two packed bytes give at most 128: a count too small for its row belongs to no
            // Photoshop file, and would let a few bytes claim an enormous picture.
            if (count * kMaxPackBitsGain < rowBytes_)
                throw Exception(kNotPsd);
            offsets_[i + 1] = offsets_[i] + count;
        }
        data_ = ReadExactly(stream, offsets_.back());
    }

    int64_t RowBytes() const { return rowBytes_; }

    // Row y of channel c. A packed row that unpacks to more than its row stops at the row's end;
    // one that unpacks to less leaves the rest zero.
    void Row(int c, int y, uint8_t* dest)
    {
        const size_t index = static_cast<size_t>(int64_t{c} * height_ + y);
        if (!packBits_) {
            std::memcpy(dest, data_.data() + index * rowBytes_, static_cast<size_t>(rowBytes_));
            return;
        }
        std::memset(dest, 0, static_cast<size_t>(rowBytes_));
        const uint8_t* source = data_.data() + offsets_[index];
        const uint8_t* sourceEnd = data_.data() + offsets_[index + 1];
        decoder_.Decode(source, sourceEnd, dest, static_cast<int32_t>(sourceEnd - source),
                        static_cast<int32_t>(rowBytes_));
    }

private:
    int64_t rowBytes_;
    int64_t height_;
    bool packBits_;
    std::vector<uint8_t> data_;
    std::vector<int64_t> offsets_;  // where each packed row starts in data_
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
