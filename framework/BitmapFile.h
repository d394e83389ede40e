#pragma once

class TBitmap;
class TStream;

// Windows bitmap files (BMP/DIB): the file format of TBitmap itself.

// Reads a bitmap file from the stream's position: OS/2 core, info, V4 and V5 headers; 1, 4, 8, 16,
// 24 and 32 bits; uncompressed, RLE8, RLE4 and bit fields; bottom-up and top-down rows.
void ReadWindowsBitmap(TStream& stream, TBitmap& bitmap);

// Writes the standard layout: file header, 40-byte info header, colour table when the bitmap is
// indexed or carries a palette, rows bottom-up padded to 4 bytes, at the bitmap's own depth.
// An empty bitmap writes nothing.
void WriteWindowsBitmap(TStream& stream, const TBitmap& bitmap);
