#include "app/display/ImageConversion.h"

#include "framework/Bitmap.h"
#include "framework/PixelConversion.h"

#include <cstring>

QImage BitmapToQImage(const TBitmap& bitmap)
{
    const QImage::Format format = bitmap.PixelFormat() == pf32bit ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage image(bitmap.Width(), bitmap.Height(), format);
    if (image.isNull())
        return image;
    // RowToBgra's bytes are blue, green, red, alpha: a little-endian ARGB32 pixel.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "ARGB32 pixels are filled as bytes B, G, R, A");
    for (int y = 0; y < bitmap.Height(); ++y)
        RowToBgra(bitmap, y, image.scanLine(y));
    return image;
}

TBitmap QImageToBitmap(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const uint8_t* source = rgb.constScanLine(y);
        uint8_t* dest = bitmap.ScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            std::memcpy(dest + 3 * x, source + 4 * x, 3);
    }
    return bitmap;
}
