#include "codecs/RLAGraphic.h"

#include "codecs/GraphicCompression.h"
#include "codecs/GraphicFormats.h"
#include "framework/ByteReader.h"
#include "framework/Exception.h"
#include "framework/Stream.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TBitmap)

namespace {

constexpr int kHeaderSize = 740;
constexpr int kFloatChannels = 4;  // the channel type of raw floating-point samples

// The header fields the reader uses (all big-endian).
struct RlaHeader {
    int activeLeft, activeRight, activeBottom, activeTop;
    int colorChannelType, colorChannels, matteChannels;
    int colorBits, matteChannelType, matteBits;
};

RlaHeader ParseHeader(const uint8_t* bytes)
{
    TByteReader r({bytes, kHeaderSize});
    RlaHeader h{};
    r.Seek(8);
    h.activeLeft = r.S16BE();
    h.activeRight = r.S16BE();
    h.activeBottom = r.S16BE();
    h.activeTop = r.S16BE();
    r.Seek(18);
    h.colorChannelType = r.S16BE();
    h.colorChannels = r.S16BE();
    h.matteChannels = r.S16BE();
    r.Seek(658);
    h.colorBits = r.S16BE();
    h.matteChannelType = r.S16BE();
    h.matteBits = r.S16BE();
    return h;
}

// How many bytes one sample of a channel group takes. Up to 8 bits (or an unset field) a sample is
// one byte; 9 to 32 bits are stored as 2 or 4 bytes, the most significant byte of every pixel first,
// then the next one. Floating-point channels are not run-length packed and are not read.
struct SampleDepth {
    int bytes;
    int bits;
};

SampleDepth ChannelDepth(int channelType, int bits)
{
    if (bits <= 8)
        return {1, 8};
    if (channelType == kFloatChannels || bits > 32)
        throw Exception("RLA: unsupported channel depth.");
    return {bits <= 16 ? 2 : 4, bits};
}

class TChannelReader {
public:
    explicit TChannelReader(int width) : width_(width) {}

    // Reads one packed channel at the stream's position and unpacks it to `width` 8-bit samples.
    void Read(TStream& stream, SampleDepth depth, uint8_t* samples)
    {
        const int count = stream.ReadWordBE();
        // A channel may hold more than the two bytes per pixel that 8-bit data ever needs (deeper
        // samples, padding); the buffer grows to the count, which is at most 65535.
        if (count > stream.Remaining())
            throw EReadError();
        packed_.resize(std::max(count, 1));
        stream.ReadBuffer(packed_.data(), count);

        const size_t unpacked = static_cast<size_t>(width_) * depth.bytes;
        planes_.assign(unpacked, 0);
        const uint8_t* source = packed_.data();
        decoder_.Decode(source, packed_.data() + count, planes_.data(), count, static_cast<int32_t>(unpacked));

        if (depth.bytes == 1) {
            std::copy_n(planes_.begin(), width_, samples);
            return;
        }
        // Keep the top 8 of the sample's significant bits.
        for (int x = 0; x < width_; ++x) {
            uint32_t value = 0;
            for (int b = 0; b < depth.bytes; ++b)
                value = value << 8 | planes_[static_cast<size_t>(b) * width_ + x];
            samples[x] = static_cast<uint8_t>(value >> (depth.bits - 8));
        }
    }

    // Passes over a channel that is not shown.
    void Skip(TStream& stream)
    {
        const int count = stream.ReadWordBE();
        if (count > stream.Remaining())
            throw EReadError();
        stream.Seek(count, TSeekOrigin::Current);
    }

private:
    int width_;
    TRLADecoder decoder_;
    std::vector<uint8_t> packed_;
    std::vector<uint8_t> planes_;
};

}  // namespace

void TRLAGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    const int64_t start = stream.Position();

    uint8_t headerBytes[kHeaderSize];
    stream.ReadBuffer(headerBytes, kHeaderSize);
    const RlaHeader header = ParseHeader(headerBytes);
    if (header.colorChannels != 3 && header.colorChannels != 4)
        throw Exception("RLA: image must be RGB(A).");
    const bool hasMatte = header.matteChannels != 0;
    const SampleDepth colorDepth = ChannelDepth(header.colorChannelType, header.colorBits);
    const SampleDepth matteDepth = hasMatte ? ChannelDepth(header.matteChannelType, header.matteBits) : colorDepth;

    const int width = header.activeRight - header.activeLeft + 1;
    const int height = std::abs(header.activeBottom - header.activeTop) + 1;
    const bool bottomFirst = header.activeBottom < header.activeTop;
    if (width < 1)
        throw Exception("RLA: invalid image size.");

    // The row offset table: one 32-bit position per stored row, relative to the image's start.
    if (int64_t{height} * 4 > stream.Remaining())
        throw EReadError();
    const std::vector<uint8_t> tableBytes = stream.ReadBytes(int64_t{height} * 4);
    TByteReader table(tableBytes);

    SetPixelFormat(hasMatte ? pf32bit : pf24bit);
    SetSize(width, height);

    TChannelReader channels(width);
    std::vector<uint8_t> samples(static_cast<size_t>(width) * 4);
    uint8_t* const red = samples.data();
    uint8_t* const green = red + width;
    uint8_t* const blue = green + width;
    uint8_t* const matte = blue + width;

    for (int i = 0; i < height; ++i) {
        stream.SetPosition(start + table.U32BE());
        channels.Read(stream, colorDepth, red);
        channels.Read(stream, colorDepth, green);
        channels.Read(stream, colorDepth, blue);
        uint8_t* row = ScanLine(bottomFirst ? height - 1 - i : i);
        if (!hasMatte) {
            RgbPlanesToBgr(red, green, blue, row, 8, width * 3);
            continue;
        }
        // A fourth colour channel comes before the matte.
        for (int c = 3; c < header.colorChannels; ++c)
            channels.Skip(stream);
        channels.Read(stream, matteDepth, matte);
        for (int x = 0; x < width; ++x) {
            row[4 * x] = blue[x];
            row[4 * x + 1] = green[x];
            row[4 * x + 2] = red[x];
            row[4 * x + 3] = matte[x];
        }
    }
}
