#include "framework/PixelConversion.h"

#include "framework/VectorPixels.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

void IndexedToBgra(const uint8_t* row, int width, int bits, const std::vector<TPaletteEntry>& table, uint8_t* dest)
{
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        const unsigned index = (row[x / perByte] >> shift) & mask;
        uint8_t* out = dest + 4 * x;
        if (index < table.size()) {
            out[0] = table[index].peBlue;
            out[1] = table[index].peGreen;
            out[2] = table[index].peRed;
        } else {
            out[0] = out[1] = out[2] = 0;
        }
        out[3] = 255;
    }
}

}  // namespace

void RowToBgra(const TBitmap& bitmap, int y, uint8_t* dest)
{
    if (bitmap.Width() > 0)
        PixelsToBgra(bitmap.ScanLine(y), bitmap.Width(), bitmap.PixelFormat(), bitmap.ColorTable(), dest);
}

void PixelsToBgra(
    const uint8_t* row, int width, TPixelFormat format, const std::vector<TPaletteEntry>& table, uint8_t* dest)
{
    switch (format) {
    case pf1bit:
        IndexedToBgra(row, width, 1, table, dest);
        break;
    case pf4bit:
        IndexedToBgra(row, width, 4, table, dest);
        break;
    case pf8bit: {
        for (int x = 0; x < width; ++x) {
            uint8_t* out = dest + 4 * x;
            if (row[x] < table.size()) {
                const TPaletteEntry& e = table[row[x]];
                out[0] = e.peBlue;
                out[1] = e.peGreen;
                out[2] = e.peRed;
            } else {
                out[0] = out[1] = out[2] = 0;
            }
            out[3] = 255;
        }
        break;
    }
    case pf15bit:
        for (int x = 0; x < width; ++x) {
            const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
            uint8_t* out = dest + 4 * x;
            out[0] = Expand5(v & 0x1F);
            out[1] = Expand5(v >> 5 & 0x1F);
            out[2] = Expand5(v >> 10 & 0x1F);
            out[3] = 255;
        }
        break;
    case pf16bit:
        for (int x = 0; x < width; ++x) {
            const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
            uint8_t* out = dest + 4 * x;
            out[0] = Expand5(v & 0x1F);
            out[1] = Expand6(v >> 5 & 0x3F);
            out[2] = Expand5(v >> 11 & 0x1F);
            out[3] = 255;
        }
        break;
    case pf24bit:
#if KAVREL_X86_DISPATCH
        if (UseX86V3()) {
            BgrToBgraX86V3(row, dest, static_cast<size_t>(std::max(width, 0)));
            break;
        }
#endif
        for (int x = 0; x < width; ++x) {
            uint8_t* out = dest + 4 * x;
            out[0] = row[3 * x];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x + 2];
            out[3] = 255;
        }
        break;
    case pf32bit:
        if (width > 0)
            std::memcpy(dest, row, static_cast<size_t>(width) * 4);
        break;
    case pfDevice:
        for (int x = 0; x < width; ++x) {
            std::memcpy(dest + 4 * x, row + 4 * x, 3);
            dest[4 * x + 3] = 255;
        }
        break;
    }
}

void SwapRedAndBlue(const uint8_t* source, uint8_t* dest, size_t pixels)
{
#if KAVREL_X86_DISPATCH
    if (UseX86V3())
        return SwapRedAndBlueX86V3(source, dest, pixels);
#endif
    for (size_t x = 0; x < pixels; ++x) {
        const uint8_t first = source[3 * x];
        dest[3 * x] = source[3 * x + 2];
        dest[3 * x + 1] = source[3 * x + 1];
        dest[3 * x + 2] = first;
    }
}

void PixelsToRgb(const uint8_t* row, int width, TPixelFormat format, const std::vector<TPaletteEntry>& table,
    bool alpha, uint8_t* dest)
{
    const auto pixels = static_cast<size_t>(std::max(width, 0));
    if (format == pf24bit && !alpha)
        return SwapRedAndBlue(row, dest, pixels);
    if (format == pf8bit && !alpha) {
        // The colour of each index, looked up once; indices beyond the table are black. Each pixel is
        // stored as four bytes, the fourth overwritten by the next pixel; the last one as three.
        uint32_t colors[256] = {};
        for (size_t i = 0; i < table.size() && i < 256; ++i) {
            const uint8_t rgb[4] = { table[i].peRed, table[i].peGreen, table[i].peBlue, 0 };
            std::memcpy(&colors[i], rgb, 4);
        }
        if (pixels == 0)
            return;
        for (size_t x = 0; x + 1 < pixels; ++x)
            std::memcpy(dest + 3 * x, &colors[row[x]], 4);
        std::memcpy(dest + 3 * (pixels - 1), &colors[row[pixels - 1]], 3);
        return;
    }
    // Any other layout by way of B,G,R,A, a piece of the row at a time (a multiple of 8 pixels, so
    // that packed indices start on a whole byte).
    constexpr size_t kPiece = 256;
    const bool storedAsBgra = format == pf32bit || (format == pfDevice && !alpha);
    const auto bits = static_cast<size_t>(::BitsPerPixel(format));
    uint8_t bgra[4 * kPiece];
    for (size_t x = 0; x < pixels; x += kPiece) {
        const size_t count = std::min(kPiece, pixels - x);
        const uint8_t* from = row + x * bits / 8;
        if (!storedAsBgra) {
            PixelsToBgra(from, static_cast<int>(count), format, table, bgra);
            from = bgra;
        }
        uint8_t* const to = dest + (alpha ? 4 : 3) * x;
#if KAVREL_X86_DISPATCH
        if (UseX86V3()) {
            alpha ? BgraToRgbaX86V3(from, to, count) : BgraToRgbX86V3(from, to, count);
            continue;
        }
#endif
        for (size_t i = 0; i < count; ++i) {
            to[(alpha ? 4 : 3) * i] = from[4 * i + 2];
            to[(alpha ? 4 : 3) * i + 1] = from[4 * i + 1];
            to[(alpha ? 4 : 3) * i + 2] = from[4 * i];
            if (alpha)
                to[4 * i + 3] = from[4 * i + 3];
        }
    }
}

bool CarriesAlpha(const TBitmap& bitmap)
{
    if (bitmap.PixelFormat() != pf32bit)
        return false;
    for (int y = 0; y < bitmap.Height(); ++y)
        if (RowCarriesAlpha(bitmap.ScanLine(y), bitmap.Width()))
            return true;
    return false;
}

bool RowCarriesAlpha(const uint8_t* row, int width)
{
    for (int x = 0; x < width; ++x)
        if (row[4 * x + 3] != 0)
            return true;
    return false;
}

TColorMatcher::TColorMatcher(const std::vector<TPaletteEntry>& table) : table_(table), cache_(32768, -1) {}

uint8_t TColorMatcher::Nearest(uint8_t blue, uint8_t green, uint8_t red)
{
    if (table_.empty())
        return 0;
    const unsigned key = (red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3);
    if (cache_[key] >= 0)
        return static_cast<uint8_t>(cache_[key]);
    int best = 0;
    int bestDistance = INT_MAX;
    for (size_t i = 0; i < table_.size() && i < 256; ++i) {
        const int dr = table_[i].peRed - red;
        const int dg = table_[i].peGreen - green;
        const int db = table_[i].peBlue - blue;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    cache_[key] = static_cast<int16_t>(best);
    return static_cast<uint8_t>(best);
}

void BgraToRow(const uint8_t* bgra, int width, TPixelFormat format, TColorMatcher* matcher, uint8_t* dest)
{
    switch (format) {
    case pf1bit:
    case pf4bit: {
        const int bits = format == pf1bit ? 1 : 4;
        const int perByte = 8 / bits;
        std::memset(dest, 0, TBitmap::RowBytesFor(width, format));
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = bgra + 4 * x;
            const unsigned index = matcher->Nearest(p[0], p[1], p[2]) & ((1u << bits) - 1);
            dest[x / perByte] |= static_cast<uint8_t>(index << (8 - bits * (x % perByte + 1)));
        }
        break;
    }
    case pf8bit:
        for (int x = 0; x < width; ++x)
            dest[x] = matcher->Nearest(bgra[4 * x], bgra[4 * x + 1], bgra[4 * x + 2]);
        break;
    case pf15bit:
    case pf16bit:
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = bgra + 4 * x;
            const unsigned v = format == pf15bit ? (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3
                                                 : (p[2] >> 3) << 11 | (p[1] >> 2) << 5 | p[0] >> 3;
            dest[2 * x] = static_cast<uint8_t>(v);
            dest[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        }
        break;
    case pf24bit:
        for (int x = 0; x < width; ++x)
            std::memcpy(dest + 3 * x, bgra + 4 * x, 3);
        break;
    case pf32bit: std::memcpy(dest, bgra, static_cast<size_t>(width) * 4); break;
    case pfDevice:
        for (int x = 0; x < width; ++x) {
            std::memcpy(dest + 4 * x, bgra + 4 * x, 3);
            dest[4 * x + 3] = 0;
        }
        break;
    }
}
