#include "codecs/SGIGraphic.h"

#include "codecs/GraphicCompression.h"
#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TBitmap)

namespace {

constexpr uint16_t kSGIMagic = 474;
constexpr int kHeaderSize = 512;
const char* const kNotSGI = "Not a valid sgi, bw or rgb(a) image.";

uint16_t Word(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// Reads up to `count` big-endian 32-bit values (fewer when the stream ends first). Never allocates
// more than the stream can fill, whatever the header claims.
std::vector<uint32_t> ReadTable(TStream& stream, uint64_t count)
{
    const uint64_t fits = static_cast<uint64_t>(stream.Remaining()) / 4;
    std::vector<uint32_t> table(static_cast<size_t>(std::min(count, fits)));
    const int64_t got = stream.Read(table.data(), static_cast<int64_t>(table.size()) * 4);
    table.resize(static_cast<size_t>(got / 4));
    SwapLongs(table.data(), static_cast<int>(table.size()));
    return table;
}

// What one load needs beside the bitmap: where the file starts, the row tables of a compressed
// file, the row buffer and the decoder.
class TSGIRowReader {
public:
    TSGIRowReader(TStream& stream, int64_t basePosition, int width, int height, int bytesPerSample)
        : stream_(stream), basePosition_(basePosition), width_(width), height_(height),
          bytesPerSample_(bytesPerSample),
          rowBuffer_(static_cast<size_t>(width) * bytesPerSample * 3)
    {
    }

    // The tables follow the header: (height x channels) row starts, then as many row lengths.
    void ReadTables(int channels)
    {
        const uint64_t entries = static_cast<uint64_t>(height_) * channels;
        rowStarts_ = ReadTable(stream_, entries);
        if (rowStarts_.size() == entries)
            rowLengths_ = ReadTable(stream_, entries);
        decoder_ = std::make_unique<TSGIRLE>();
        decoder_->SampleSize = static_cast<uint8_t>(bytesPerSample_);
    }

    // Reads file row r (0 = bottom) of the channels whose buffer is given; each buffer holds Width
    // bytes, zero where the file holds no samples. False when the file held nothing for the row.
    bool ReadRow(const std::array<uint8_t*, 4>& channels, int r)
    {
        bool any = false;
        for (int k = 0; k < 4; ++k) {
            if (!channels[k])
                continue;
            if (decoder_)
                any |= ReadPackedRow(channels[k], static_cast<uint64_t>(r) + static_cast<uint64_t>(k) * height_);
            else
                any |= ReadPlainRow(channels[k], static_cast<uint64_t>(k) * height_ + r);
        }
        return any;
    }

private:
    bool ReadPackedRow(uint8_t* dest, uint64_t index)
    {
        // Tables cut short by the end of the file have no entry for the row.
        if (index >= rowStarts_.size() || index >= rowLengths_.size())
            return false;
        const uint64_t wanted = static_cast<uint64_t>(rowLengths_[index]) * bytesPerSample_;
        const auto count = static_cast<int64_t>(std::min<uint64_t>(wanted, rowBuffer_.size()));
        stream_.SetPosition(basePosition_ + rowStarts_[index]);
        const int64_t got = stream_.Read(rowBuffer_.data(), count);
        if (got <= 0)
            return false;
        const uint8_t* source = rowBuffer_.data();
        decoder_->Decode(source, rowBuffer_.data() + got, dest, static_cast<int32_t>(got), width_);
        return true;
    }

    bool ReadPlainRow(uint8_t* dest, uint64_t rowNumber)
    {
        const uint64_t rowSize = static_cast<uint64_t>(width_) * bytesPerSample_;
        stream_.SetPosition(basePosition_ + kHeaderSize + static_cast<int64_t>(rowNumber * rowSize));
        if (bytesPerSample_ == 1)
            return stream_.Read(dest, width_) > 0;
        // 16-bit samples are big-endian: their first byte is the most significant one.
        const int64_t got = stream_.Read(rowBuffer_.data(), static_cast<int64_t>(rowSize));
        for (int64_t i = 0; i < got / 2; ++i)
            dest[i] = rowBuffer_[2 * i];
        return got > 0;
    }

    TStream& stream_;
    int64_t basePosition_;
    int width_;
    int height_;
    int bytesPerSample_;
    std::vector<uint32_t> rowStarts_;
    std::vector<uint32_t> rowLengths_;
    std::vector<uint8_t> rowBuffer_;  // packed or 16-bit row data as read
    std::unique_ptr<TSGIRLE> decoder_;
};

HPALETTE GreyPalette()
{
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        log.palPalEntry[i] = {v, v, v, 0};
    }
    return CreatePalette(log);
}

}  // namespace

void TSGIGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    const int64_t basePosition = stream.Position();

    // Unchecked: a short file leaves the rest of the header zero.
    uint8_t header[kHeaderSize] = {};
    stream.Read(header, kHeaderSize);
    if (Word(header) != kSGIMagic)
        throw Exception(kNotSGI);
    const bool compressed = header[2] == 1;
    const int bytesPerSample = header[3];
    const int width = Word(header + 6);
    const int height = Word(header + 8);
    const int channels = Word(header + 10);
    // Samples are one or two bytes; anything else cannot be laid out in rows at all.
    if (bytesPerSample != 1 && bytesPerSample != 2)
        throw Exception(kNotSGI);

    TSGIRowReader reader(stream, basePosition, width, height, bytesPerSample);
    // A z size of 0 is read as one channel, as an uncompressed file's channel 0 is.
    if (compressed)
        reader.ReadTables(std::max(channels, 1));

    const TPixelFormat format = channels == 3 ? pf24bit : channels == 4 ? pf32bit : pf8bit;
    SetPixelFormat(format);
    // A picture without rows or without columns is 0 x 0: nobody may ask it for rows of no memory, nor
    // size a row buffer after a width that no row has.
    const bool hasPixels = width > 0 && height > 0;
    SetWidth(hasPixels ? width : 0);
    SetHeight(hasPixels ? height : 0);
    if (Empty())
        return;

    if (format == pf8bit) {
        // Grey, also for two channels (grey and alpha) and for more than four: channel 0 only.
        SetPalette(GreyPalette());
        for (int r = 0; r < height; ++r)
            reader.ReadRow({ScanLine(height - 1 - r), nullptr, nullptr, nullptr}, r);
        return;
    }

    std::vector<uint8_t> planes(static_cast<size_t>(width) * 4);
    std::array<uint8_t*, 4> channel = {planes.data(), planes.data() + width, planes.data() + 2 * width,
                                       format == pf32bit ? planes.data() + 3 * width : nullptr};
    const int bytesPerPixel = format == pf32bit ? 4 : 3;
    for (int r = 0; r < height; ++r) {
        std::fill(planes.begin(), planes.end(), 0);
        // A row the file holds nothing for stays as made: zero, and untouched in memory.
        if (!reader.ReadRow(channel, r))
            continue;
        uint8_t* row = ScanLine(height - 1 - r);
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = row + bytesPerPixel * x;
            pixel[0] = channel[2][x];
            pixel[1] = channel[1][x];
            pixel[2] = channel[0][x];
            if (channel[3])
                pixel[3] = channel[3][x];
        }
    }
}
