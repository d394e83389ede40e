#pragma once

#include <QImage>

class TGraphic;

// The picture as the image windows show it, converted once so that painting is a plain copy.
// Raster pictures (any pixel format, with or without a palette) come through their DisplayBitmap()
// and are opaque: a 32-bit picture's fourth byte is not taken as transparency, since many files
// leave it zero. Icons keep their transparency. Metafiles are played at their own size onto white.
// An empty graphic gives a null image; a picture too large to show raises EOutOfResources.
QImage GraphicToImage(const TGraphic& graphic);
