#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class TBitmap;
class TStream;

// Turns one stored row into the bitmap's row; null copies the row's first RowBytes bytes as they are.
using TStoredRowConversion = std::function<void(const uint8_t* stored, uint8_t* row)>;

// Reads the uncompressed rows of a file (Windows bitmaps, Targa files) into the bitmap, whose size is
// set: its Height rows of `storedBytes` bytes each, one after the other from `dataStart`, the top row
// first or the bottom row first. They come in the picture's order, top row first, as a bitmap that
// passes its rows on needs them: bottom-up rows are read from the end, some at a time. Top-down rows
// that need no conversion are read straight into the bitmap. `swapRedAndBlue` exchanges the first and
// third bytes of 24-bit rows copied as they are (for a sink that takes them red first:
// TBitmap::UseRgbRows). The stream is left just after the rows; a short stream raises EReadError.
void ReadStoredRows(TStream& stream, TBitmap& bitmap, int64_t dataStart, size_t storedBytes, bool topFirst,
    bool swapRedAndBlue, const TStoredRowConversion& convert = {});
