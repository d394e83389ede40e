#pragma once

#include <QImage>

class TBitmap;

// A copy of the bitmap as a QImage: Format_ARGB32 with the stored alpha for pf32bit bitmaps,
// Format_RGB32 for every other layout (palettes resolved).
QImage BitmapToQImage(const TBitmap& bitmap);

// A pf24bit bitmap of the image's colours (alpha dropped; composite onto a background first).
TBitmap QImageToBitmap(const QImage& image);
