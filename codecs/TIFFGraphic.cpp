#include "codecs/TIFFGraphic.h"

#include "codecs/GraphicCompression.h"
#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

KAVREL_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TBitmap)

namespace {

const char kInvalidFile[] = "Invalid TIFF file.";
const char kUnknownCompression[] = "TIFF: Unknown compression scheme";
const char kTiledImage[] = "TIFF: Tiled images are not supported";
const char kPlanarImage[] = "TIFF: Planar images are not supported";
const char kUnsupportedDepth[] = "TIFF: Unsupported bit depth";
const char kUnsupportedColourModel[] = "TIFF: Unsupported colour model";
const char kUnsupportedPredictor[] = "TIFF: Unsupported predictor";
const char kImageTooLarge[] = "TIFF: Image too large";

enum TiffTag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kPredictor = 317,
    kColorMap = 320,
    kTileWidth = 322,
    kTileOffsets = 324,
    kExtraSamples = 338,
};

enum TiffType : uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSByte = 6,
    kUndefined = 7,
    kSShort = 8,
    kSLong = 9,
    kSRational = 10,
    kFloat = 11,
    kDouble = 12,
    kIfd = 13,
};

enum Photometric : uint32_t {
    kWhiteIsZero = 0,
    kBlackIsZero = 1,
    kRgb = 2,
    kPalette = 3,
    kSeparated = 5,
    kYCbCr = 6,
    kCieLab = 8,
};

enum Compression : uint32_t { kNoCompression = 1, kLzw = 5, kPackBits = 32773 };

constexpr uint32_t kHorizontalDifferencing = 2;
constexpr uint32_t kPlanarSeparate = 2;

// The most bytes one packed byte can stand for: an LZW code of at least 9 bits expands to at most
// 4096 bytes, a two-byte PackBits run to 128.
uint64_t MaxExpansion(uint32_t compression)
{
    return compression == kPackBits ? 64 : 4096;
}

// Bytes of one value of a field type; unknown types count one byte so that their size is still
// bounded by the file.
int TypeSize(uint16_t type)
{
    switch (type) {
    case kShort:
    case kSShort:
        return 2;
    case kLong:
    case kSLong:
    case kFloat:
    case kIfd:
        return 4;
    case kRational:
    case kSRational:
    case kDouble:
        return 8;
    default:
        return 1;
    }
}

// The first image file directory, with values decoded in the file's byte order on access.
class TiffDirectory {
public:
    TiffDirectory(TStream& stream, int64_t base, int64_t streamEnd, bool bigEndian)
        : stream_(stream)
        , base_(base)
        , streamEnd_(streamEnd)
        , bigEndian_(bigEndian)
    { }

    uint16_t Word(const uint8_t* p) const
    {
        return static_cast<uint16_t>(bigEndian_ ? p[0] << 8 | p[1] : p[0] | p[1] << 8);
    }
    uint32_t Long(const uint8_t* p) const
    {
        return bigEndian_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                          : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }

    void Load(uint32_t offset)
    {
        SeekTo(offset);
        uint8_t countBytes[2];
        stream_.ReadBuffer(countBytes, 2);
        const int count = Word(countBytes);
        std::vector<uint8_t> raw(static_cast<size_t>(count) * 12);
        stream_.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
        entries_.resize(count);
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = raw.data() + 12 * i;
            entries_[i] = { Word(p), Word(p + 2), Long(p + 4), { p[8], p[9], p[10], p[11] } };
        }
        // Tags should be in ascending order; a file that breaks the rule still finds its tags.
        std::stable_sort(
            entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    }

    bool Has(uint16_t tag) const { return Find(tag) != nullptr; }

    // The tag's count, or the default when it is absent.
    uint32_t Count(uint16_t tag, uint32_t fallback) const
    {
        const Entry* e = Find(tag);
        return e ? e->count : fallback;
    }

    // The value of a one-value tag by its type; for any other count the field itself (an offset).
    uint32_t SingleValue(uint16_t tag, uint32_t fallback) const
    {
        const Entry* e = Find(tag);
        if (!e)
            return fallback;
        if (e->count != 1)
            return Long(e->value);
        switch (e->type) {
        case kByte:
            return e->value[0];
        case kShort:
        case kSShort:
            return Word(e->value);
        case kLong:
        case kSLong:
            return Long(e->value);
        default:
            return fallback;
        }
    }

    // All values of a tag, each by its type. Values that fit in the field are stored there, others
    // at the offset the field holds. Types that are not integers read as 0.
    std::vector<uint32_t> ArrayValue(uint16_t tag) const
    {
        const Entry* e = Find(tag);
        if (!e || e->count == 0)
            return {};
        const int size = TypeSize(e->type);
        const uint64_t bytes = uint64_t { e->count } * size;
        std::vector<uint8_t> outOfLine;
        const uint8_t* data = e->value;
        if (bytes > 4) {
            // The table must be in the file before anything is allocated for it.
            const int64_t at = base_ + Long(e->value);
            if (at >= streamEnd_ || bytes > static_cast<uint64_t>(streamEnd_ - at))
                throw EReadError();
            outOfLine.resize(bytes);
            SeekTo(Long(e->value));
            stream_.ReadBuffer(outOfLine.data(), static_cast<int64_t>(bytes));
            data = outOfLine.data();
        }
        std::vector<uint32_t> values(e->count);
        for (uint32_t i = 0; i < e->count; ++i) {
            const uint8_t* p = data + static_cast<size_t>(i) * size;
            switch (e->type) {
            case kByte:
            case kAscii:
            case kSByte:
            case kUndefined:
                values[i] = p[0];
                break;
            case kShort:
            case kSShort:
                values[i] = Word(p);
                break;
            case kLong:
            case kSLong:
            case kIfd:
                values[i] = Long(p);
                break;
            default:
                values[i] = 0;
                break;
            }
        }
        return values;
    }

    void SeekTo(uint32_t offset) const { stream_.SetPosition(base_ + offset); }

private:
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        uint8_t value[4];
    };

    const Entry* Find(uint16_t tag) const
    {
        const auto it = std::lower_bound(
            entries_.begin(), entries_.end(), tag, [](const Entry& e, uint16_t t) { return e.tag < t; });
        return it != entries_.end() && it->tag == tag ? &*it : nullptr;
    }

    TStream& stream_;
    int64_t base_;
    int64_t streamEnd_;
    bool bigEndian_;
    std::vector<Entry> entries_;
};

// How the samples of a row become a bitmap row.
enum class Conversion {
    Copy, // the kept samples already have the bitmap's layout
    Indices, // one index of 1, 2 or 4 bits per pixel picked out of wider pixels
    Grey16,
    Rgb,
    Rgba,
    Cmyk,
    Lab,
};

struct Layout {
    TPixelFormat format;
    Conversion conversion;
    uint32_t keptSamples; // the first samples of each pixel that the conversion uses
};

Layout ChooseLayout(uint32_t photometric, uint32_t bitsPerSample, uint32_t samplesPerPixel, uint32_t extraSamples)
{
    if (samplesPerPixel == 0 || extraSamples >= samplesPerPixel)
        throw Exception(kUnsupportedColourModel);
    const uint32_t colourCount = samplesPerPixel - extraSamples;
    const bool wholeBytes = bitsPerSample == 8 || bitsPerSample == 16;
    if (colourCount == 1) {
        // Extra samples (alpha) of grey and palette images are dropped.
        const bool extras = samplesPerPixel > 1;
        if (photometric == kPalette && bitsPerSample > 8)
            throw Exception(kUnsupportedDepth); // a colour map of more than 256 entries
        switch (bitsPerSample) {
        case 1:
            return { pf1bit, extras ? Conversion::Indices : Conversion::Copy, 1 };
        case 2:
            return { pf4bit, Conversion::Indices, 1 };
        case 4:
            return { pf4bit, extras ? Conversion::Indices : Conversion::Copy, 1 };
        case 8:
            return { pf8bit, Conversion::Copy, 1 };
        case 16:
            return { pf8bit, Conversion::Grey16, 1 };
        default:
            throw Exception(kUnsupportedDepth);
        }
    }
    if (colourCount == 3) {
        if (photometric != kRgb && photometric != kYCbCr && photometric != kCieLab)
            throw Exception(kUnsupportedColourModel);
        if (!wholeBytes || (photometric == kYCbCr && bitsPerSample != 8))
            throw Exception(kUnsupportedDepth);
        if (photometric == kRgb)
            return extraSamples != 0 ? Layout { pf32bit, Conversion::Rgba, 4 } : Layout { pf24bit, Conversion::Rgb, 3 };
        if (photometric == kYCbCr)
            return { pf24bit, Conversion::Copy, 3 }; // shown as stored, unconverted
        return { pf24bit, Conversion::Lab, 3 };
    }
    if (colourCount == 4) {
        if (photometric != kRgb && photometric != kSeparated)
            throw Exception(kUnsupportedColourModel);
        if (!wholeBytes)
            throw Exception(kUnsupportedDepth);
        return photometric == kRgb ? Layout { pf32bit, Conversion::Rgba, 4 } : Layout { pf24bit, Conversion::Cmyk, 4 };
    }
    throw Exception(kUnsupportedColourModel);
}

// The palette of a one-sample image: from the colour map, or a grey ramp.
HPALETTE MakePalette(TiffDirectory& dir, TStream& stream, uint32_t photometric, uint32_t bitsPerSample)
{
    TLogPalette log {};
    log.palVersion = kPaletteVersion;
    const int entries = bitsPerSample <= 8 ? 1 << bitsPerSample : 256;
    log.palNumEntries = static_cast<uint16_t>(entries);
    if (photometric == kPalette) {
        if (!dir.Has(kColorMap))
            throw Exception(kInvalidFile);
        // Red values, then green, then blue; each colour takes the high byte of its 16-bit value.
        std::vector<uint8_t> map(static_cast<size_t>(entries) * 6);
        dir.SeekTo(dir.SingleValue(kColorMap, 0));
        stream.ReadBuffer(map.data(), static_cast<int64_t>(map.size()));
        for (int i = 0; i < entries; ++i) {
            log.palPalEntry[i].peRed = static_cast<uint8_t>(dir.Word(&map[2 * i]) >> 8);
            log.palPalEntry[i].peGreen = static_cast<uint8_t>(dir.Word(&map[2 * (entries + i)]) >> 8);
            log.palPalEntry[i].peBlue = static_cast<uint8_t>(dir.Word(&map[2 * (2 * entries + i)]) >> 8);
        }
        return CreatePalette(log);
    }
    for (int i = 0; i < entries; ++i) {
        int grey;
        switch (entries) {
        case 2:
            grey = i * 255;
            break;
        case 4:
            grey = i * 85;
            break;
        case 16:
            grey = i * 16;
            break;
        default:
            grey = i;
            break;
        }
        if (photometric == kWhiteIsZero)
            grey = entries == 16 ? (15 - i) * 16 : 255 - grey;
        log.palPalEntry[i] = { static_cast<uint8_t>(grey), static_cast<uint8_t>(grey), static_cast<uint8_t>(grey), 0 };
    }
    return CreatePalette(log);
}

// Undoes horizontal differencing with any number of 8-bit samples per pixel.
void UndoByteDifferencing(uint8_t* row, size_t stride, size_t count)
{
    for (size_t i = 0; i < stride * count; ++i)
        row[i + stride] = static_cast<uint8_t>(row[i + stride] + row[i]);
}

// Undoes horizontal differencing on 16-bit little-endian samples.
void UndoWordDifferencing(uint8_t* row, size_t stride, size_t count)
{
    for (size_t i = 0; i < stride * count; ++i) {
        uint8_t* p = row + 2 * (i + stride);
        const auto sum = static_cast<uint16_t>((p[0] | p[1] << 8) + (row[2 * i] | row[2 * i + 1] << 8));
        p[0] = static_cast<uint8_t>(sum);
        p[1] = static_cast<uint8_t>(sum >> 8);
    }
}

// Turns one row of file samples into one bitmap row. The file row is changed in place.
class RowConverter {
public:
    RowConverter(const Layout& layout, int width, uint32_t bitsPerSample, uint32_t samplesPerPixel, size_t bytesPerRow,
        bool swapSamples, bool differencing, size_t destBytes)
        : layout_(layout)
        , width_(width)
        , bitsPerSample_(bitsPerSample)
        , samplesPerPixel_(samplesPerPixel)
        , bytesPerRow_(bytesPerRow)
        , swapSamples_(swapSamples)
        , differencing_(differencing)
        , destBytes_(destBytes)
    { }

    void Convert(uint8_t* row, uint8_t* dest) const
    {
        if (differencing_ && layout_.conversion == Conversion::Rgb && bitsPerSample_ == 8) {
            RgbDifferencesToBgr(row, dest, width_ * 3); // one pass instead of two
            return;
        }
        if (swapSamples_)
            SwapWords(row, static_cast<int>(bytesPerRow_ / 2));
        if (differencing_)
            UndoDifferencing(row);
        if (layout_.conversion == Conversion::Indices) {
            PickIndices(row, dest);
            return;
        }
        if (layout_.keptSamples < samplesPerPixel_)
            DropExtraSamples(row);
        const int samples = width_ * static_cast<int>(layout_.keptSamples);
        const int bits = static_cast<int>(bitsPerSample_);
        switch (layout_.conversion) {
        case Conversion::Copy:
            std::memcpy(dest, row, destBytes_);
            break;
        case Conversion::Grey16:
            Samples16To8(row, dest, bits, samples);
            break;
        case Conversion::Rgb:
            RgbToBgr(row, dest, bits, samples);
            break;
        case Conversion::Rgba:
            RgbaToBgra(row, dest, bits, samples);
            break;
        case Conversion::Cmyk:
            CmykToBgr(row, dest, bits, samples);
            break;
        case Conversion::Lab:
            if (bits == 16)
                Samples16To8(row, row, bits, samples); // in place: each byte comes from further on
            LabToBgr(row, dest, 8, samples);
            break;
        case Conversion::Indices:
            break;
        }
    }

private:
    void UndoDifferencing(uint8_t* row) const
    {
        const size_t count = static_cast<size_t>(width_) - 1;
        if (bitsPerSample_ == 16) {
            UndoWordDifferencing(row, samplesPerPixel_, count);
            return;
        }
        switch (samplesPerPixel_) {
        case 1:
            UndoDifferencing1(row, static_cast<int>(count));
            break;
        case 3:
            UndoDifferencing3(row, static_cast<int>(count));
            break;
        case 4:
            UndoDifferencing4(row, static_cast<int>(count));
            break;
        default:
            UndoByteDifferencing(row, samplesPerPixel_, count);
            break;
        }
    }

    // Keeps the first samples of each pixel, packed at the start of the row.
    void DropExtraSamples(uint8_t* row) const
    {
        const size_t sampleBytes = bitsPerSample_ / 8;
        const size_t keep = layout_.keptSamples * sampleBytes;
        const size_t stride = samplesPerPixel_ * sampleBytes;
        for (size_t x = 1; x < static_cast<size_t>(width_); ++x)
            std::memmove(row + x * keep, row + x * stride, keep);
    }

    // Takes the first sample of each pixel (1, 2 or 4 bits) into a row of 1-bit or 4-bit indices.
    void PickIndices(const uint8_t* row, uint8_t* dest) const
    {
        const int destBits = BitsPerPixel(layout_.format);
        const uint64_t pixelBits = uint64_t { samplesPerPixel_ } * bitsPerSample_;
        const unsigned mask = (1u << bitsPerSample_) - 1;
        std::memset(dest, 0, destBytes_);
        for (uint64_t x = 0; x < static_cast<uint64_t>(width_); ++x) {
            const uint64_t bit = x * pixelBits;
            const unsigned index = (row[bit >> 3] >> (8 - bitsPerSample_ - (bit & 7))) & mask;
            const uint64_t destBit = x * destBits;
            dest[destBit >> 3] |= static_cast<uint8_t>(index << (8 - destBits - (destBit & 7)));
        }
    }

    Layout layout_;
    int width_;
    uint32_t bitsPerSample_;
    uint32_t samplesPerPixel_;
    size_t bytesPerRow_;
    bool swapSamples_;
    bool differencing_;
    size_t destBytes_;
};

} // namespace

TTIFFGraphic::TTIFFGraphic()
{
    SetPixelFormat(pf24bit);
}

void TTIFFGraphic::SaveStream(TStream&) { }

void TTIFFGraphic::LoadStream(TStream& stream)
{
    ReleaseHandle();
    const int64_t base = stream.Position();
    const int64_t streamEnd = stream.Size();

    uint8_t header[8];
    stream.ReadBuffer(header, sizeof header);
    const bool bigEndian = header[0] == 'M' && header[1] == 'M';
    TiffDirectory dir(stream, base, streamEnd, bigEndian);
    if (dir.Word(header + 2) != 42)
        throw Exception(kInvalidFile);
    dir.Load(dir.Long(header + 4));

    const uint32_t photometric = dir.SingleValue(kPhotometric, kWhiteIsZero);
    const uint32_t samplesPerPixel = dir.SingleValue(kSamplesPerPixel, 1);
    const std::vector<uint32_t> bitsPerSampleArray = dir.ArrayValue(kBitsPerSample);
    const uint32_t bitsPerSample = bitsPerSampleArray.empty() ? 1 : bitsPerSampleArray[0];
    const uint32_t extraSamples = dir.Count(kExtraSamples, 0);

    // Strip tables, each read by its own type.
    if (!dir.Has(kStripOffsets))
        throw Exception(dir.Has(kTileOffsets) || dir.Has(kTileWidth) ? kTiledImage : kInvalidFile);
    const std::vector<uint32_t> stripOffsets = dir.ArrayValue(kStripOffsets);
    if (stripOffsets.empty())
        throw Exception(kInvalidFile);
    const std::vector<uint32_t> stripByteCounts = dir.ArrayValue(kStripByteCounts);
    const std::vector<uint32_t> rowsPerStrip = dir.ArrayValue(kRowsPerStrip);

    if (dir.SingleValue(kPlanarConfiguration, 1) == kPlanarSeparate && samplesPerPixel > 1)
        throw Exception(kPlanarImage);
    const Layout layout = ChooseLayout(photometric, bitsPerSample, samplesPerPixel, extraSamples);
    SetPixelFormat(layout.format);
    if (IsIndexed(layout.format))
        SetPalette(MakePalette(dir, stream, photometric, bitsPerSample));

    const uint32_t width = dir.SingleValue(kImageWidth, 0);
    const uint32_t height = dir.SingleValue(kImageLength, 0);
    if (width == 0 || height == 0)
        throw Exception(kInvalidFile);
    CheckSize(width, height, layout.format);
    // Samples may take more room than the bitmap (16-bit samples, extra samples), but never
    // without limit: the strips that hold them are allocated one at a time.
    const uint64_t bytesPerRow = (uint64_t { width } * bitsPerSample * samplesPerPixel + 7) / 8;
    if (bytesPerRow > INT32_MAX || bytesPerRow * height > 4 * MaxImageBytes())
        throw EOutOfResources(kImageTooLarge);
    const bool differencing = dir.SingleValue(kPredictor, 0) == kHorizontalDifferencing;
    // Plain 8-bit RGB rows go as they are to a sink that takes them so.
    Layout rowLayout = layout;
    if (layout.conversion == Conversion::Rgb && bitsPerSample == 8 && !differencing && UseRgbRows())
        rowLayout.conversion = Conversion::Copy;
    SetSize(static_cast<int>(width), static_cast<int>(height));

    if (differencing && bitsPerSample != 8 && bitsPerSample != 16)
        throw Exception(kUnsupportedPredictor);

    const uint32_t compression = dir.SingleValue(kCompression, kNoCompression);
    std::unique_ptr<TDecoder> decoder;
    switch (compression) {
    case kNoCompression:
        break;
    case kLzw:
        decoder = std::make_unique<TTIFFLZW>();
        break;
    case kPackBits:
        decoder = std::make_unique<TPackbitsRLE>();
        break;
    default:
        throw Exception(kUnknownCompression);
    }
    // Without StripByteCounts a packed strip runs to the next strip in the file or to its end.
    std::vector<uint32_t> sortedOffsets;
    if (decoder && stripByteCounts.empty()) {
        sortedOffsets = stripOffsets;
        std::sort(sortedOffsets.begin(), sortedOffsets.end());
    }

    // 16-bit samples of a big-endian file are swapped so that their high byte comes second.
    const RowConverter converter(rowLayout, static_cast<int>(width), bitsPerSample, samplesPerPixel, bytesPerRow,
        bigEndian && bitsPerSample == 16, differencing, static_cast<size_t>(RowBytes()));
    // Rows that the converter would copy as they are.
    const bool copiedRows = rowLayout.conversion == Conversion::Copy && !differencing
        && !(bigEndian && bitsPerSample == 16) && rowLayout.keptSamples == samplesPerPixel
        && bytesPerRow == static_cast<uint64_t>(RowBytes());

    std::vector<uint8_t> packed;
    std::vector<uint8_t> strip;
    std::vector<uint8_t> missingRow;
    uint32_t y = 0;
    for (size_t i = 0; i < stripOffsets.size() && y < height; ++i) {
        // One strip holds every row; otherwise the last RowsPerStrip value serves the strips
        // beyond the table, and without the tag (or with 0) a strip runs to the end of the image.
        uint64_t rows = height - y;
        if (stripOffsets.size() > 1 && !rowsPerStrip.empty()) {
            const uint32_t declared = rowsPerStrip[std::min(i, rowsPerStrip.size() - 1)];
            if (declared != 0)
                rows = std::min<uint64_t>(rows, declared);
        }
        const int64_t at = base + stripOffsets[i];
        const uint64_t available = at < streamEnd ? static_cast<uint64_t>(streamEnd - at) : 0;

        // Only as much of the strip as its data can fill is held; the rest reads as zero.
        const uint64_t stripSize = rows * bytesPerRow;
        uint64_t packedSize = 0;
        uint64_t filled;
        if (decoder) {
            uint64_t declared = i < stripByteCounts.size() ? stripByteCounts[i] : 0;
            if (stripByteCounts.empty()) {
                const auto next = std::upper_bound(sortedOffsets.begin(), sortedOffsets.end(), stripOffsets[i]);
                declared = next != sortedOffsets.end() ? *next - stripOffsets[i] : available;
            }
            packedSize = std::min(declared, available);
            filled = std::min(stripSize, packedSize * MaxExpansion(compression));
        } else {
            filled = std::min(stripSize, available);
        }
        const uint64_t heldRows = std::min(rows, (filled + bytesPerRow - 1) / bytesPerRow);
        const uint64_t heldBytes = heldRows * bytesPerRow;
        if (heldBytes > INT32_MAX || packedSize > INT32_MAX)
            throw EOutOfResources(kImageTooLarge);
        // Stored rows that need no conversion may be copied by the row sink itself; otherwise rows that
        // need none are read or decoded straight into the bitmap, and what the data does not fill
        // is cleared, as in a strip.
        if (heldBytes > 0)
            stream.SetPosition(at);
        const bool passed = copiedRows && !decoder && heldBytes > 0
            && PassStoredRows(static_cast<int>(y), static_cast<int>(heldRows), stream);
        uint8_t* const rowsInPlace
            = copiedRows && !passed ? RowsToFill(static_cast<int>(y), static_cast<int>(heldRows)) : nullptr;
        if (!passed && !rowsInPlace && strip.size() < heldBytes)
            strip.resize(heldBytes);
        uint8_t* const target = rowsInPlace ? rowsInPlace : strip.data();

        if (heldBytes > 0 && !passed) {
            if (decoder) {
                packed.resize(packedSize);
                const auto got = static_cast<size_t>(stream.Read(packed.data(), static_cast<int64_t>(packedSize)));
                const uint8_t* source = packed.data();
                const size_t written = decoder->Decode(
                    source, packed.data() + got, target, static_cast<int32_t>(got), static_cast<int32_t>(heldBytes));
                std::memset(target + written, 0, heldBytes - written);
            } else {
                const auto got = static_cast<size_t>(stream.Read(target, static_cast<int64_t>(heldBytes)));
                std::memset(target + got, 0, heldBytes - got);
            }
        }

        for (uint64_t r = 0; r < rows; ++r, ++y) {
            if (r < heldRows && (rowsInPlace || passed))
                continue;
            uint8_t* dest = ScanLine(static_cast<int>(y));
            if (r < heldRows) {
                converter.Convert(strip.data() + r * bytesPerRow, dest);
                continue;
            }
            // Rows without data are zero samples; they all convert alike, so once is enough.
            if (missingRow.empty()) {
                std::vector<uint8_t> zeros(bytesPerRow, 0);
                missingRow.resize(static_cast<size_t>(RowBytes()));
                converter.Convert(zeros.data(), missingRow.data());
            }
            std::memcpy(dest, missingRow.data(), missingRow.size());
        }
    }
    FinishRows();
}
