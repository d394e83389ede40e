#pragma once

#include "framework/Bitmap.h"

#include <array>
#include <cstdint>
#include <vector>

// The one place where pixel layouts are turned into one another.

// Expands row y to Width pixels of four bytes: blue, green, red, alpha. Alpha is the stored fourth
// byte for pf32bit and 255 for every other format; indices beyond the colour table are black.
void RowToBgra(const TBitmap& bitmap, int y, uint8_t* dest);
// The same for `width` pixels of a row in the layout of `format`, with the colours of `table`.
void PixelsToBgra(
    const uint8_t* row, int width, TPixelFormat format, const std::vector<TPaletteEntry>& table, uint8_t* dest);

// The same as R,G,B (alpha false) or R,G,B,A bytes: PixelsToBgra's bytes with blue and red
// exchanged, and the fourth dropped unless asked for.
void PixelsToRgb(const uint8_t* row, int width, TPixelFormat format, const std::vector<TPaletteEntry>& table,
    bool alpha, uint8_t* dest);

// Exchanges the first and third bytes of `pixels` 3-byte pixels (B,G,R to R,G,B and back); source and
// dest may be the same row.
void SwapRedAndBlue(const uint8_t* source, uint8_t* dest, size_t pixels);

// Whether a pf32bit bitmap's fourth byte carries alpha: a fourth byte that is 0 everywhere is taken as
// unused (the usual case in 32-bit Windows bitmaps). False for every other format.
bool CarriesAlpha(const TBitmap& bitmap);
// The same for one row of `width` 32-bit pixels.
bool RowCarriesAlpha(const uint8_t* row, int width);

// Maps colours to the nearest entry of a colour table, with a cache on 15-bit colours.
class TColorMatcher {
public:
    explicit TColorMatcher(const std::vector<TPaletteEntry>& table);
    uint8_t Nearest(uint8_t blue, uint8_t green, uint8_t red);

private:
    std::vector<TPaletteEntry> table_;
    std::vector<int16_t> cache_;  // -1 until computed
};

// Packs `width` BGRA pixels into the row layout of `format`. Indexed formats need a matcher.
void BgraToRow(const uint8_t* bgra, int width, TPixelFormat format, TColorMatcher* matcher, uint8_t* dest);

// Expands a 5-bit or 6-bit channel to 8 bits by repeating its top bits.
inline uint8_t Expand5(unsigned v) { return static_cast<uint8_t>(v << 3 | v >> 2); }
inline uint8_t Expand6(unsigned v) { return static_cast<uint8_t>(v << 2 | v >> 4); }
