#include "framework/PngEncoder.h"

#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <algorithm>
#include <csetjmp>
#include <png.h>

namespace {

// Deflate's fastest level with the Up filter. Measured on 1920 x 1080 screens, a text-heavy one and one
// with photos: a fifth to a third of the time of level 6 with the adaptive filter choice, for files 20 to
// 30 % larger; the Sub and Paeth filters and run-length-only deflate were slower, larger or both.
constexpr int kCompressionLevel = 1;
constexpr int kFilter = PNG_FILTER_UP;
// Large image data chunks: fewer chunk headers and fewer writes.
constexpr size_t kChunkBytes = 256 * 1024;

bool IsGreyRamp(const std::vector<TPaletteEntry>& table, int bits)
{
    const size_t count = size_t { 1 } << bits;
    if (table.size() != count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const auto level = static_cast<uint8_t>(i * 255 / (count - 1));
        if (table[i] != TPaletteEntry { level, level, level, table[i].peFlags })
            return false;
    }
    return true;
}

bool AllGrey(const std::vector<TPaletteEntry>& table)
{
    return std::all_of(table.begin(), table.end(),
        [](const TPaletteEntry& e) { return e.peRed == e.peGreen && e.peGreen == e.peBlue; });
}

// The palette index of pixel x in a row of `bits` (1, 4 or 8) bits per pixel, leftmost pixel highest.
unsigned IndexAt(const uint8_t* row, int x, int bits)
{
    const int perByte = 8 / bits;
    return (row[x / perByte] >> (8 - bits * (x % perByte + 1))) & ((1u << bits) - 1);
}

int HighestIndex(const TBitmap& bitmap)
{
    unsigned highest = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            highest = std::max(highest, IndexAt(bitmap.ScanLine(y), x, bitmap.BitsPerPixel()));
    return static_cast<int>(highest);
}

// libpng's errors jump back to the guarded call; its warnings are not shown.
void JumpOnError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
void IgnoreWarning(png_structp, png_const_charp) { }

} // namespace

// libpng's structures are given back however the writer ends, also when its constructor fails.
struct TPngWriter::State {
    explicit State(TStream& target)
        : stream(target)
    { }
    ~State() { png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    TStream& stream;
    // A failure of the stream cannot travel through libpng's frames: it is kept here, libpng is
    // stopped, and the guard raises it again.
    std::exception_ptr streamFailure;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

TPngHeader PngHeaderFor(const TBitmap& bitmap)
{
    TPngHeader header;
    header.width = bitmap.Width();
    header.height = bitmap.Height();
    header.rowFormat = bitmap.PixelFormat();
    if (IsIndexed(bitmap.PixelFormat())) {
        const int bits = bitmap.BitsPerPixel();
        const auto& table = bitmap.ColorTable();
        const size_t most = size_t { 1 } << bits;
        header.bitDepth = bits;
        if (IsGreyRamp(table, bits)) {
            header.kind = TPngKind::Grey;
        } else if (AllGrey(table)) {
            header.kind = TPngKind::Grey;
            header.bitDepth = 8;
            for (size_t i = 0; i < std::min(table.size(), most); ++i)
                header.greyLevels.push_back(table[i].peRed);
        } else {
            header.kind = TPngKind::Palette;
            header.palette.assign(table.begin(), table.begin() + static_cast<ptrdiff_t>(std::min(table.size(), most)));
            if (header.palette.size() < most)
                header.palette.resize(std::max(header.palette.size(), static_cast<size_t>(HighestIndex(bitmap)) + 1));
        }
    } else {
        header.kind = CarriesAlpha(bitmap) ? TPngKind::Rgba : TPngKind::Rgb;
    }
    return header;
}

template <class Step> void TPngWriter::Guard(Step&& step)
{
    // Nothing with a destructor lives in the frames the jump skips.
    if (setjmp(png_jmpbuf(state_->png))) {
        if (state_->streamFailure)
            std::rethrow_exception(state_->streamFailure);
        throw Exception("Cannot write the picture as PNG");
    }
    step();
}

TPngWriter::TPngWriter(TStream& stream, const TPngHeader& header)
    : state_(std::make_unique<State>(stream))
    , header_(header)
{
    const bool indexed = IsIndexed(header.rowFormat);
    const bool greyFromTable = !header.greyLevels.empty();
    bool consistent = header.width > 0 && header.height > 0;
    switch (header.kind) {
    case TPngKind::Grey:
        consistent = consistent && indexed && header.greyLevels.size() <= 256
            && header.bitDepth == (greyFromTable ? 8 : BitsPerPixel(header.rowFormat));
        break;
    case TPngKind::Palette:
        consistent = consistent && indexed && header.bitDepth == BitsPerPixel(header.rowFormat)
            && !header.palette.empty() && header.palette.size() <= size_t { 1 } << header.bitDepth;
        break;
    case TPngKind::Rgb:
        consistent = consistent && !indexed;
        break;
    case TPngKind::Rgba:
        consistent = consistent && header.rowFormat == pf32bit;
        break;
    }
    if (!consistent)
        throw Exception("Cannot write the picture as PNG");

    state_->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
    if (state_->png)
        state_->info = png_create_info_struct(state_->png);
    if (!state_->info)
        throw Exception("Cannot write the picture as PNG");

    png_structp png = state_->png;
    png_infop info = state_->info;
    // 16-bit rows become blue, green, red and a fourth byte; grey levels from the table one byte each.
    const bool expand = header.rowFormat == pf15bit || header.rowFormat == pf16bit;
    if (expand || greyFromTable)
        converted_.resize(static_cast<size_t>(header.width) * (expand ? 4 : 1));
    std::vector<png_color> palette(header.palette.size());
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = { header.palette[i].peRed, header.palette[i].peGreen, header.palette[i].peBlue };

    Guard([&] {
        png_set_write_fn(
            png, state_.get(),
            [](png_structp p, png_bytep data, png_size_t count) {
                auto* state = static_cast<State*>(png_get_io_ptr(p));
                bool failed = false;
                try {
                    state->stream.WriteBuffer(data, static_cast<int64_t>(count));
                } catch (...) {
                    state->streamFailure = std::current_exception();
                    failed = true;
                }
                if (failed)
                    png_error(p, "write failed");
            },
            [](png_structp) {});
        png_set_compression_level(png, kCompressionLevel);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, kFilter);
        png_set_compression_buffer_size(png, kChunkBytes);
        int colorType = PNG_COLOR_TYPE_RGB;
        int depth = 8;
        switch (header.kind) {
        case TPngKind::Grey:
            colorType = PNG_COLOR_TYPE_GRAY;
            depth = header.bitDepth;
            break;
        case TPngKind::Palette:
            colorType = PNG_COLOR_TYPE_PALETTE;
            depth = header.bitDepth;
            break;
        case TPngKind::Rgb:
            break;
        case TPngKind::Rgba:
            colorType = PNG_COLOR_TYPE_RGB_ALPHA;
            break;
        }
        png_set_IHDR(png, info, static_cast<png_uint_32>(header.width), static_cast<png_uint_32>(header.height), depth,
            colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
        if (header.kind == TPngKind::Palette)
            png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
        png_write_info(png, info);
        // The rows come as TBitmap keeps them: blue first, and a fourth byte that RGB drops.
        if (header.kind == TPngKind::Rgb || header.kind == TPngKind::Rgba)
            png_set_bgr(png);
        if (header.kind == TPngKind::Rgb && (expand || BitsPerPixel(header.rowFormat) == 32))
            png_set_filler(png, 0, PNG_FILLER_AFTER);
    });
}

TPngWriter::~TPngWriter() = default;

void TPngWriter::WriteRow(const uint8_t* row)
{
    if (rowsWritten_ >= header_.height)
        throw Exception("Cannot write the picture as PNG: more rows than its height");
    if (!header_.greyLevels.empty()) {
        const int bits = BitsPerPixel(header_.rowFormat);
        const auto& levels = header_.greyLevels;
        for (int x = 0; x < header_.width; ++x) {
            const unsigned index = IndexAt(row, x, bits);
            converted_[x] = index < levels.size() ? levels[index] : 0;
        }
        row = converted_.data();
    } else if (!converted_.empty()) {
        PixelsToBgra(row, header_.width, header_.rowFormat, {}, converted_.data());
        row = converted_.data();
    }
    png_structp png = state_->png;
    Guard([&] { png_write_row(png, row); });
    ++rowsWritten_;
}

void TPngWriter::Finish()
{
    if (rowsWritten_ != header_.height)
        throw Exception("Cannot write the picture as PNG: rows are missing");
    png_structp png = state_->png;
    png_infop info = state_->info;
    Guard([&] { png_write_end(png, info); });
}

void WritePng(TStream& stream, const TBitmap& bitmap)
{
    if (bitmap.Empty())
        throw Exception("Cannot write an empty picture as PNG");
    TPngWriter writer(stream, PngHeaderFor(bitmap));
    for (int y = 0; y < bitmap.Height(); ++y)
        writer.WriteRow(bitmap.ScanLine(y));
    writer.Finish();
}
