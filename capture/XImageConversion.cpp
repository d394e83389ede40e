#include "capture/XImageConversion.h"

#include "framework/Bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

struct Channel {
    uint32_t mask;
    int shift;
    int bits;
    explicit Channel(uint32_t m) : mask(m), shift(m ? std::countr_zero(m) : 0), bits(std::popcount(m)) {}

    // Widens the channel to 8 bits by repeating its bits, so that full scale stays full scale.
    uint8_t Extract(uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        const uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8)
            return static_cast<uint8_t>(v >> (bits - 8));
        uint32_t out = 0;
        int filled = 0;
        while (filled < 8) {
            out = out << bits | v;
            filled += bits;
        }
        return static_cast<uint8_t>(out >> (filled - 8));
    }
};

uint32_t ReadPixel(const uint8_t* p, int bitsPerPixel, bool msbFirst)
{
    switch (bitsPerPixel) {
    case 8: return p[0];
    case 16: return msbFirst ? uint32_t{p[0]} << 8 | p[1] : p[0] | uint32_t{p[1]} << 8;
    case 24: return msbFirst ? uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]
                             : p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
    default:
        return msbFirst ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                        : p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
}

}  // namespace

bool XImageLayout::Supported() const
{
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32)
        return false;
    if (scanlinePad != 8 && scanlinePad != 16 && scanlinePad != 32)
        return false;
    return indexed ? bitsPerPixel == 8 : (redMask | greenMask | blueMask) != 0;
}

size_t XImageLayout::Stride(int width) const
{
    const size_t bits = static_cast<size_t>(std::max(width, 0)) * bitsPerPixel;
    const size_t pad = static_cast<size_t>(scanlinePad);
    return (bits + pad - 1) / pad * pad / 8;
}

void ConvertXImage(const uint8_t* data, size_t length, const XImageLayout& layout, int width, int height,
                   TBitmap& dest, int destX, int destY)
{
    if (!layout.Supported() || destX < 0 || destY < 0 || width <= 0 || height <= 0)
        return;
    const int columns = std::min(width, dest.Width() - destX);
    const size_t stride = layout.Stride(width);
    const size_t usedBytes = static_cast<size_t>(width) * (layout.bitsPerPixel / 8);
    const int rowsHeld = length < usedBytes ? 0 : static_cast<int>(std::min<size_t>((length - usedBytes) / stride + 1, height));
    const int rows = std::min(rowsHeld, dest.Height() - destY);
    if (columns <= 0 || rows <= 0)
        return;

    const bool plain = std::endian::native == std::endian::little && layout.bitsPerPixel == 32 && !layout.msbFirst && !layout.indexed &&
                       layout.redMask == 0xFF0000 && layout.greenMask == 0xFF00 && layout.blueMask == 0xFF;
    const Channel red(layout.redMask), green(layout.greenMask), blue(layout.blueMask);
    const int bytesPerPixel = layout.bitsPerPixel / 8;

    for (int y = 0; y < rows; ++y) {
        const uint8_t* src = data + stride * y;
        uint8_t* out = dest.ScanLine(destY + y) + 4 * static_cast<size_t>(destX);
        if (plain) {
            // The display's own layout already: only the unused byte is cleared.
            for (int x = 0; x < columns; ++x) {
                uint32_t v;
                std::memcpy(&v, src + 4 * x, 4);
                v &= 0x00FFFFFF;
                std::memcpy(out + 4 * x, &v, 4);
            }
            continue;
        }
        for (int x = 0; x < columns; ++x) {
            const uint32_t pixel = ReadPixel(src + static_cast<size_t>(bytesPerPixel) * x, layout.bitsPerPixel, layout.msbFirst);
            uint8_t* o = out + 4 * x;
            if (layout.indexed) {
                if (pixel < layout.colormap.size()) {
                    const TPaletteEntry& e = layout.colormap[pixel];
                    o[0] = e.peBlue;
                    o[1] = e.peGreen;
                    o[2] = e.peRed;
                } else {
                    o[0] = o[1] = o[2] = 0;
                }
            } else {
                o[0] = blue.Extract(pixel);
                o[1] = green.Extract(pixel);
                o[2] = red.Extract(pixel);
            }
            o[3] = 0;
        }
    }
}
