#pragma once

#include "framework/Palette.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TBitmap;

// How an X server lays out the pixels of a Z-format image of the screen.
struct XImageLayout {
    int bitsPerPixel = 32;  // 8, 16, 24 or 32
    int scanlinePad = 32;   // each row is padded to a multiple of this many bits
    bool msbFirst = false;  // the server's image byte order
    bool indexed = false;   // pixel values are colour map indices
    uint32_t redMask = 0xFF0000;
    uint32_t greenMask = 0x00FF00;
    uint32_t blueMask = 0x0000FF;
    std::vector<TPaletteEntry> colormap;  // indexed layouts: the colour of each pixel value

    bool Supported() const;
    // Bytes of one row of `width` pixels, padding included.
    size_t Stride(int width) const;
};

// Converts the rows of an image `width` pixels wide into dest (pfDevice or pf32bit: blue, green, red,
// 0) at (destX, destY). Only what lies inside dest and what `length` bytes fully hold is written.
void ConvertXImage(const uint8_t* data, size_t length, const XImageLayout& layout, int width, int height,
                   TBitmap& dest, int destX, int destY);
