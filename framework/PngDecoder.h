#pragma once

#include <cstdint>
#include <span>

class TBitmap;

// True when the bytes start with the PNG signature.
bool IsPng(std::span<const uint8_t> data);

// Decodes PNG data with libpng into a pf32bit bitmap (blue, green, red, alpha; 16-bit samples
// scaled to 8 bits, palette and grey expanded, transparency keys turned into alpha).
// Raises `message` for anything libpng rejects or data that ends early.
void DecodePng(std::span<const uint8_t> data, TBitmap& bitmap, const char* message);
