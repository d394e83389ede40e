#include "framework/Palette.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

HPALETTE CreatePalette(const TLogPalette& logPalette)
{
    const int count = std::min<int>(logPalette.palNumEntries, 256);
    return std::make_unique<TPalette>(
        std::vector<TPaletteEntry>(logPalette.palPalEntry, logPalette.palPalEntry + count));
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    const int64_t magnitude = (std::abs(product) + std::abs(static_cast<int64_t>(c)) / 2) / std::abs(static_cast<int64_t>(c));
    return static_cast<int>(negative ? -magnitude : magnitude);
}
