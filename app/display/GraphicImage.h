#pragma once

#include <QImage>

class TGraphic;

// The picture as a Qt image, converted once so that painting is a plain copy. Every raster picture
// (any pixel format, with or without a palette) comes through its DisplayBitmap(); a graphic without
// a raster, or an empty one, gives a null image. The result is opaque: a 32-bit picture's fourth byte
// is not used as transparency, so pictures whose readers leave it zero still show.
QImage GraphicToImage(const TGraphic& graphic);
