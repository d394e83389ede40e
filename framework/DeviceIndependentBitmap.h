#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class TBitmap;

// Device-independent bitmaps as icons and metafiles embed them: a BITMAPINFO (header, bit-field
// masks, colour table) and the pixel bits, without the file header of a .bmp file.

// The bytes that the BITMAPINFO at the start of `info` occupies, as its header says; 0 when the
// header is not one of the known sizes. The caller checks the result against what is there.
size_t DibInfoSize(std::span<const uint8_t> info);

// Decodes a DIB from its BITMAPINFO and its pixel bits with the framework's bitmap reader.
// Raises the bitmap reader's failures for malformed headers or missing pixel data.
void ReadDib(std::span<const uint8_t> info, std::span<const uint8_t> bits, TBitmap& bitmap);
