#pragma once

#include <string>

class TBitmap;

// The files every command can write a raster picture to, chosen by the name's extension (any case):
// .png (PNG in the picture's own kind), .bmp (Windows bitmap) and .pam (PAM, RGB or RGB_ALPHA).
bool IsRasterOutput(const std::string& fileName);
// Writes the bitmap by the name's extension through a temporary file, so a failure leaves neither a
// partial file nor a changed old one.
void WriteRasterOutput(const std::string& fileName, const TBitmap& bitmap);
