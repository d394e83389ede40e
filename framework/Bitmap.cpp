#include "framework/Bitmap.h"

#include "framework/AtomicFile.h"
#include "framework/BitmapFile.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/RowSink.h"
#include "framework/Stream.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

KAVREL_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic)

namespace {
// 1 GiB of pixels: room for a 16384 x 16384 true-colour picture, yet a 20-byte header that claims
// 65535 x 65535 x 32 bits (16 GiB) is refused before anything is allocated.
constexpr uint64_t kDefaultMaxImageBytes = uint64_t{1} << 30;
std::atomic<uint64_t> maxImageBytes{kDefaultMaxImageBytes};
}  // namespace

const char* PixelFormatName(TPixelFormat format)
{
    switch (format) {
    case pfDevice: return "pfDevice";
    case pf1bit: return "pf1bit";
    case pf4bit: return "pf4bit";
    case pf8bit: return "pf8bit";
    case pf15bit: return "pf15bit";
    case pf16bit: return "pf16bit";
    case pf24bit: return "pf24bit";
    case pf32bit: return "pf32bit";
    }
    return "pfCustom";
}

int BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit:
    case pfDevice: return 32;
    }
    return 32;
}

std::vector<TPaletteEntry> DefaultColorTable(TPixelFormat format)
{
    std::vector<TPaletteEntry> table;
    switch (format) {
    case pf1bit: table = {{0, 0, 0, 0}, {255, 255, 255, 0}}; break;
    case pf4bit: {
        // The 16 colours of the standard VGA palette.
        static const uint8_t vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                           {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (const auto& c : vga)
            table.push_back({c[0], c[1], c[2], 0});
        break;
    }
    case pf8bit:
        // A 6 x 6 x 6 colour cube followed by a 40-step grey ramp.
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    table.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
        for (int i = 0; i < 40; ++i) {
            const auto v = static_cast<uint8_t>((i * 255 + 19) / 39);
            table.push_back({v, v, v, 0});
        }
        break;
    default: break;
    }
    return table;
}

uint64_t TBitmap::MaxImageBytes()
{
    return maxImageBytes.load();
}

void TBitmap::SetMaxImageBytes(uint64_t bytes)
{
    maxImageBytes.store(bytes);
}

size_t TBitmap::RowBytesFor(int width, TPixelFormat format)
{
    return (static_cast<size_t>(std::max(width, 0)) * ::BitsPerPixel(format) + 7) / 8;
}

void TBitmap::CheckSize(int64_t width, int64_t height, TPixelFormat format)
{
    if (width < 0 || height < 0 || width > INT32_MAX || height > INT32_MAX)
        throw EOutOfResources("Invalid bitmap size " + std::to_string(width) + "x" + std::to_string(height));
    // Every picture is shown at 32 bits per pixel, so the cap applies at that depth whatever the
    // format: a 1-bit picture within the cap must not need 32 times the cap once displayed. A row
    // alone must fit too: a zero height does not make any width acceptable.
    const uint64_t shownStride = static_cast<uint64_t>(width) * 4;
    if (shownStride > MaxImageBytes() / static_cast<uint64_t>(std::max<int64_t>(height, 1))) {
        throw EOutOfResources("Bitmap too large: " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                              std::to_string(::BitsPerPixel(format)) + " bits per pixel");
    }
}

TBitmap::TBitmap(const TBitmap& other) : TGraphic(other)
{
    *this = other;
}

TBitmap& TBitmap::operator=(const TBitmap& other)
{
    if (this == &other)
        return *this;
    if (other.band_.sink)
        throw Exception("A picture whose rows are passed on cannot be copied");
    // Copy everything that can fail first, so a failure leaves this bitmap as it was.
    const size_t bytes = other.pixels_ ? other.Stride() * static_cast<size_t>(other.height_) : 0;
    PixelBuffer pixels;
    if (bytes > 0) {
        pixels = AllocatePixelMemory(bytes);
        if (!pixels)
            throw EOutOfResources("Out of memory for a " + std::to_string(other.width_) + "x" +
                                  std::to_string(other.height_) + " bitmap");
        std::memcpy(pixels.get(), other.pixels_.get(), bytes);
    }
    HPALETTE palette = other.palette_ ? std::make_unique<TPalette>(*other.palette_) : nullptr;
    std::vector<TPaletteEntry> colorTable = other.colorTable_;
    width_ = other.width_;
    height_ = other.height_;
    pixelFormat_ = other.pixelFormat_;
    pixels_ = std::move(pixels);
    palette_ = std::move(palette);
    colorTable_ = std::move(colorTable);
    return *this;
}

void TBitmap::Reallocate(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    CheckSize(width, height, pixelFormat_);
    if (band_.sink) {
        if (band_.rows > 0)
            throw Exception("The size of a picture whose rows are passed on cannot change");
        width_ = width;
        height_ = height;
        if (width == 0 || height == 0)
            return; // nothing to pass on yet
        // A band of about 1 MB of rows, or all of them.
        const size_t stride = Stride();
        band_.rows = band_.whole
            ? height
            : static_cast<int>(std::clamp<size_t>((size_t { 1 } << 20) / stride, 1, static_cast<size_t>(height)));
        band_.first = 0;
        pixels_ = AllocatePixelMemory(stride * static_cast<size_t>(band_.rows));
        if (!pixels_)
            throw EOutOfResources(
                "Out of memory for a " + std::to_string(width) + "x" + std::to_string(height) + " bitmap");
        band_.sink->Start(width, height, pixelFormat_, colorTable_, band_.rgb);
        // The first band is asked of the sink when its rows are first used: they may all be copied.
        band_.lending = band_.stale = !band_.whole;
        // A picture kept whole is zero from the start.
        band_.cleared = band_.whole ? band_.rows : 0;
        return;
    }
    const size_t newRowBytes = RowBytesFor(width, pixelFormat_);
    const size_t newStride = (newRowBytes + 3) & ~size_t{3};
    PixelBuffer fresh;
    if (newStride * static_cast<size_t>(height) > 0) {
        fresh = AllocatePixelMemory(newStride * static_cast<size_t>(height));
        if (!fresh)
            throw EOutOfResources("Out of memory for a " + std::to_string(width) + "x" + std::to_string(height) + " bitmap");
        if (pixels_) {
            const size_t oldStride = Stride();
            const size_t copyBytes = std::min(newRowBytes, static_cast<size_t>(RowBytes()));
            const int rows = std::min(height, height_);
            for (int y = 0; y < rows; ++y)
                std::memcpy(fresh.get() + newStride * y, pixels_.get() + oldStride * y, copyBytes);
            // Whole bytes were copied; clear pixels of a partial last byte that now lie beyond the old width.
            const size_t oldBits = static_cast<size_t>(width_) * BitsPerPixel();
            if (width > width_ && oldBits % 8 != 0) {
                const auto keep = static_cast<uint8_t>(0xFF << (8 - oldBits % 8));
                for (int y = 0; y < rows; ++y)
                    fresh.get()[newStride * y + oldBits / 8] &= keep;
            }
        }
    }
    pixels_ = std::move(fresh);
    width_ = width;
    height_ = height;
}

void TBitmap::SetWidth(int width)
{
    if (width != width_)
        Reallocate(width, height_);
}

void TBitmap::SetHeight(int height)
{
    if (height != height_)
        Reallocate(width_, height);
}

void TBitmap::SetSize(int width, int height)
{
    if (width != width_ || height != height_)
        Reallocate(width, height);
}

void TBitmap::ApplyDefaultColorTable()
{
    if (!IsIndexed(pixelFormat_))
        colorTable_.clear();
    else if (palette_)
        colorTable_ = palette_->Entries();
    else
        colorTable_ = DefaultColorTable(pixelFormat_);
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == pixelFormat_)
        return;
    const TPixelFormat old = pixelFormat_;
    if (band_.rows > 0)
        throw Exception("The format of a picture whose rows are passed on cannot change");
    if (Empty()) {
        CheckSize(width_, height_, format);
        pixelFormat_ = format;
        pixels_.reset();
        Reallocate(width_, height_);
        ApplyDefaultColorTable();
        return;
    }

    TBitmap result;
    result.pixelFormat_ = format;
    result.palette_ = palette_ ? std::make_unique<TPalette>(*palette_) : nullptr;
    result.ApplyDefaultColorTable();
    result.Reallocate(width_, height_);

    if (IsIndexed(old) && IsIndexed(format) && ::BitsPerPixel(format) >= ::BitsPerPixel(old)) {
        // Widening indices keeps every index and the colour table as they are.
        result.colorTable_ = colorTable_;
        const int oldBits = ::BitsPerPixel(old);
        const int newBits = ::BitsPerPixel(format);
        for (int y = 0; y < height_; ++y) {
            const uint8_t* src = ScanLine(y);
            uint8_t* dst = result.ScanLine(y);
            for (int x = 0; x < width_; ++x) {
                const int oldPerByte = 8 / oldBits;
                const unsigned index = (src[x / oldPerByte] >> (8 - oldBits * (x % oldPerByte + 1))) & ((1u << oldBits) - 1);
                const int newPerByte = 8 / newBits;
                dst[x / newPerByte] |= static_cast<uint8_t>(index << (8 - newBits * (x % newPerByte + 1)));
            }
        }
    } else {
        std::vector<uint8_t> bgra(static_cast<size_t>(width_) * 4);
        std::unique_ptr<TColorMatcher> matcher;
        if (IsIndexed(format))
            matcher = std::make_unique<TColorMatcher>(result.colorTable_);
        for (int y = 0; y < height_; ++y) {
            RowToBgra(*this, y, bgra.data());
            BgraToRow(bgra.data(), width_, format, matcher.get(), result.ScanLine(y));
        }
    }
    pixelFormat_ = format;
    colorTable_ = std::move(result.colorTable_);
    pixels_ = std::move(result.pixels_);
}

uint8_t* TBitmap::ScanLine(int y)
{
    if (y < 0 || y >= height_)
        throw Exception("Scan line index out of range");
    if (band_.sink && y < band_.first)
        throw Exception("Scan line already passed on");
    if (!pixels_) {
        // Rows of a picture without columns hold no bytes, but they exist.
        static uint8_t noBytes[4];
        return noBytes;
    }
    if (band_.sink) {
        if (y >= band_.first + band_.rows)
            MoveBandTo(y);
        band_.asked = std::max(band_.asked, y + 1);
        return BandRows(y, 1, false);
    }
    return BandMemory() + Stride() * static_cast<size_t>(y);
}

uint8_t* TBitmap::ScanLines(int y, int count)
{
    return RowBlock(y, count, false);
}

uint8_t* TBitmap::RowsToFill(int y, int count)
{
    return RowBlock(y, count, true);
}

uint8_t* TBitmap::RowBlock(int y, int count, bool filled)
{
    if (y < 0 || count <= 0 || count > height_ - y || !pixels_ || Stride() != static_cast<size_t>(RowBytes()))
        return nullptr;
    if (band_.sink) {
        if (y < band_.asked || count > band_.rows)
            return nullptr;
        if (y + count > band_.first + band_.rows)
            MoveBandTo(y);
        band_.asked = y + count;
        return BandRows(y, count, filled);
    }
    return BandMemory() + Stride() * static_cast<size_t>(y);
}

bool TBitmap::PassStoredRows(int y, int count, TStream& source)
{
    if (!band_.sink || band_.whole || band_.rows == 0 || y < band_.asked || count <= 0 || count > height_ - y)
        return false;
    // The rows before them go first.
    if (y > band_.first)
        MoveBandTo(y);
    if (!band_.sink->PutStoredRows(y, count, source))
        return false;
    // The band starts after them; its memory is renewed only when rows are made in it, since the
    // next rows may be copied as well.
    band_.first = band_.asked = y + count;
    band_.lent = nullptr;
    band_.stale = true;
    return true;
}

uint8_t* TBitmap::BandRows(int y, int count, bool filled)
{
    if (band_.stale)
        RenewBand();
    const int at = y - band_.first;
    ClearBandRows(filled ? at : at + count);
    band_.cleared = std::max(band_.cleared, at + count);
    return BandMemory() + Stride() * static_cast<size_t>(at);
}

void TBitmap::ClearBandRows(int end)
{
    if (end <= band_.cleared)
        return;
    std::memset(BandMemory() + Stride() * static_cast<size_t>(band_.cleared), 0,
        Stride() * static_cast<size_t>(end - band_.cleared));
    band_.cleared = end;
}

const uint8_t* TBitmap::ScanLine(int y) const
{
    return const_cast<TBitmap*>(this)->ScanLine(y);
}

void TBitmap::SetPalette(HPALETTE palette)
{
    palette_ = std::move(palette);
    ApplyDefaultColorTable();
}

void TBitmap::SetRowSink(TRowSink* sink)
{
    band_ = RowBand {};
    band_.sink = sink;
}

void TBitmap::KeepAllRows()
{
    if (band_.sink && band_.rows == 0)
        band_.whole = true;
}

bool TBitmap::UseRgbRows()
{
    band_.rgb = band_.sink && band_.rows == 0 && pixelFormat_ == pf24bit && band_.sink->TakesRgbRows();
    return band_.rgb;
}

void TBitmap::MoveBandTo(int row)
{
    const size_t stride = Stride();
    const int bandEnd = std::min(band_.first + band_.rows, height_);
    if (std::min(bandEnd, row) > band_.first) {
        const int count = std::min(bandEnd, row) - band_.first;
        if (band_.stale)
            RenewBand();
        ClearBandRows(count);
        band_.sink->PutRows(band_.first, count, BandMemory(), stride);
    }
    // Past the last row, with none skipped, nothing more comes into the band.
    if (bandEnd >= row && row >= height_) {
        band_.lent = nullptr;
        band_.first = row;
        return;
    }
    RenewBand();
    for (int first = bandEnd; first < row;) {
        const int count = std::min(band_.rows, row - first);
        ClearBandRows(count);
        band_.sink->PutRows(first, count, BandMemory(), stride);
        // The bitmap's own zero band can be passed on again; lent memory is the sink's now.
        if (band_.lent)
            RenewBand();
        first += count;
    }
    band_.first = row;
}

void TBitmap::RenewBand()
{
    // Memory lent anew, or the bitmap's own, whose rows are cleared as they are used.
    band_.stale = false;
    band_.cleared = 0;
    if (band_.lending && BorrowBand())
        return;
    band_.lent = nullptr;
}

bool TBitmap::BorrowBand()
{
    band_.lent = band_.sink->LendBand(Stride() * static_cast<size_t>(band_.rows));
    band_.lending = band_.lent != nullptr;
    return band_.lending;
}

void TBitmap::FinishRows()
{
    if (!band_.sink)
        return;
    TRowSink* const sink = band_.sink;
    if (band_.rows > 0)
        MoveBandTo(height_);
    band_ = RowBand {};
    ReleaseHandle();
    sink->Finish();
}

void TBitmap::ReleaseHandle()
{
    pixels_.reset();
    palette_.reset();
    colorTable_.clear();
    width_ = height_ = 0;
    pixelFormat_ = pfDevice;
}

bool TBitmap::StreamRowsTo(TRowSink* sink)
{
    if (&ClassType() != &StaticClass())
        return false;
    SetRowSink(sink);
    return true;
}

void TBitmap::LoadStream(TStream& stream)
{
    ReadWindowsBitmap(stream, *this);
}

void TBitmap::SaveStream(TStream& stream)
{
    WriteWindowsBitmap(stream, *this);
}

void TBitmap::SaveToFileAsBitmap(const std::string& fileName) const
{
    if (Empty())
        return;
    WriteFileAtomically(fileName, [this](TStream& stream) { WriteWindowsBitmap(stream, *this); });
}
