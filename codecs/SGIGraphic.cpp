#include "codecs/SGIGraphic.h"

#include "codecs/GraphicCompression.h"
#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TBitmap)

namespace {

constexpr uint16_t kSGIMagic = 474;
constexpr int kHeaderSize = 512;
const char* const kNotSGI = "Not a valid sgi, bw or rgb(a) image.";
// Uncompressed rows are read about this many bytes at a time.
constexpr size_t kPieceBytes = size_t { 256 } << 10;

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

    // Reads file row r (0 = bottom) of the channels whose buffer is given from a compressed file; each
    // buffer holds Width bytes, zero where the file holds no samples. False when the file held nothing
    // for the row.
    bool ReadPackedRow(const std::array<uint8_t*, 4>& channels, int r)
    {
        bool any = false;
        for (int k = 0; k < 4; ++k)
            if (channels[k])
                any |= ReadPackedRow(channels[k], static_cast<uint64_t>(r) + static_cast<uint64_t>(k) * height_);
        return any;
    }

    // Reads `count` file rows from r (0 = bottom) of the first `channels` channels of an uncompressed
    // file into `planes`, one channel after the other, each `count` x Width bytes (a sample's high byte
    // when it has two); zero where the file holds no samples. False when the file held none of them.
    bool ReadPlainRows(uint8_t* planes, int channels, int r, int count)
    {
        bool any = false;
        const uint64_t rowSize = static_cast<uint64_t>(width_) * bytesPerSample_;
        const auto samples = static_cast<size_t>(width_) * static_cast<size_t>(count);
        for (int k = 0; k < channels; ++k) {
            uint8_t* plane = planes + samples * static_cast<size_t>(k);
            const uint64_t rowNumber = static_cast<uint64_t>(k) * height_ + static_cast<uint64_t>(r);
            stream_.SetPosition(basePosition_ + kHeaderSize + static_cast<int64_t>(rowNumber * rowSize));
            if (bytesPerSample_ == 1) {
                const auto got
                    = static_cast<size_t>(std::max<int64_t>(stream_.Read(plane, static_cast<int64_t>(samples)), 0));
                std::fill(plane + got, plane + samples, 0);
                any |= got > 0;
                continue;
            }
            // 16-bit samples are big-endian: their first byte is the most significant one. A sample
            // cut in half by the end of the file counts as missing.
            wide_.resize(2 * samples);
            const auto got = static_cast<size_t>(
                std::max<int64_t>(stream_.Read(wide_.data(), static_cast<int64_t>(2 * samples)), 0));
            for (size_t i = 0; i < got / 2; ++i)
                plane[i] = wide_[2 * i];
            std::fill(plane + got / 2, plane + samples, 0);
            any |= got > 0;
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

    TStream& stream_;
    int64_t basePosition_;
    int width_;
    int height_;
    int bytesPerSample_;
    std::vector<uint32_t> rowStarts_;
    std::vector<uint32_t> rowLengths_;
    std::vector<uint8_t> rowBuffer_;  // packed or 16-bit row data as read
    std::unique_ptr<TSGIRLE> decoder_;
    std::vector<uint8_t> wide_; // 16-bit samples as read
};

// Pixels from one row of each channel: blue, green, red and alpha when there is a fourth channel, or
// red first for a sink that takes them so.
void Interleave(const std::array<uint8_t*, 4>& channel, int width, bool redFirst, uint8_t* row)
{
    const uint8_t* first = channel[redFirst ? 0 : 2];
    const uint8_t* green = channel[1];
    const uint8_t* third = channel[redFirst ? 2 : 0];
    if (const uint8_t* alpha = channel[3]) {
        for (int x = 0; x < width; ++x) {
            row[4 * x] = first[x];
            row[4 * x + 1] = green[x];
            row[4 * x + 2] = third[x];
            row[4 * x + 3] = alpha[x];
        }
        return;
    }
    RgbPlanesToBgr(third, green, first, row, 8, width * 3);
}

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

// The rows of the file into the bitmap, whose size and format are set.
void LoadRows(TBitmap& bitmap, TSGIRowReader& reader, bool compressed, bool rgbRows)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const auto samples = static_cast<size_t>(width);
    const int planes = bitmap.PixelFormat() == pf32bit ? 4 : bitmap.PixelFormat() == pf24bit ? 3 : 1;
    if (compressed) {
        std::vector<uint8_t> buffer(samples * static_cast<size_t>(planes));
        std::array<uint8_t*, 4> channel {};
        for (int k = 0; k < planes; ++k)
            channel[k] = buffer.data() + samples * static_cast<size_t>(k);
        for (int r = 0; r < height; ++r) {
            uint8_t* row = bitmap.ScanLine(height - 1 - r);
            if (planes == 1) {
                reader.ReadPackedRow({ row, nullptr, nullptr, nullptr }, r);
                continue;
            }
            std::fill(buffer.begin(), buffer.end(), 0);
            // A row the file holds nothing for stays as made: zero, and untouched in memory.
            if (reader.ReadPackedRow(channel, r))
                Interleave(channel, width, rgbRows, row);
        }
        return;
    }
    // Uncompressed rows some at a time, top row first: each channel's rows of a piece lie one after
    // the other in the file.
    const int pieceRows = static_cast<int>(
        std::clamp<size_t>(kPieceBytes / (samples * static_cast<size_t>(planes)), 1, static_cast<size_t>(height)));
    std::vector<uint8_t> piece(samples * static_cast<size_t>(planes) * static_cast<size_t>(pieceRows));
    for (int y = 0; y < height;) {
        const int n = std::min(pieceRows, height - y);
        if (!reader.ReadPlainRows(piece.data(), planes, height - y - n, n)) {
            y += n;
            continue;
        }
        const size_t planeBytes = samples * static_cast<size_t>(n);
        for (int i = n - 1; i >= 0; --i, ++y) {
            uint8_t* const first = piece.data() + samples * static_cast<size_t>(i);
            if (planes == 1) {
                std::memcpy(bitmap.ScanLine(y), first, samples);
                continue;
            }
            Interleave(
                { first, first + planeBytes, first + 2 * planeBytes, planes == 4 ? first + 3 * planeBytes : nullptr },
                width, rgbRows, bitmap.ScanLine(y));
        }
    }
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
    // Grey, also for two channels (grey and alpha) and for more than four: channel 0 only.
    if (format == pf8bit)
        SetPalette(GreyPalette());
    // Compressed rows are read bottom row first, as their tables lead: a bitmap that passes rows on
    // holds them. Uncompressed ones are read from the end, some at a time.
    if (compressed)
        KeepAllRows();
    const bool rgbRows = format == pf24bit && UseRgbRows();
    // A picture without rows or without columns is 0 x 0: nobody may ask it for rows of no memory, nor
    // size a row buffer after a width that no row has.
    const bool hasPixels = width > 0 && height > 0;
    SetWidth(hasPixels ? width : 0);
    SetHeight(hasPixels ? height : 0);
    if (!Empty())
        LoadRows(*this, reader, compressed, rgbRows);
    FinishRows();
}
