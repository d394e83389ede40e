#include "app/display/ImageConversion.h"

#include "framework/Bitmap.h"
#include "framework/PixelConversion.h"
#include "framework/PixelMemory.h"

#include <cstring>
#include <memory>

namespace {

// The display copy lives in the framework's pixel memory, so that a large picture takes huge pages
// rather than one page fault per 4 KB; the last QImage that shares it gives it back.
struct DisplayMemory {
    TPixelMemory pixels;
};

void ReleaseDisplayMemory(void* memory)
{
    delete static_cast<DisplayMemory*>(memory);
}

} // namespace

QImage BitmapToQImage(const TBitmap& bitmap)
{
    const QImage::Format format = bitmap.PixelFormat() == pf32bit ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const qsizetype bytesPerLine = qsizetype { bitmap.Width() } * 4;
    auto memory = std::make_unique<DisplayMemory>(DisplayMemory {
        AllocatePixelMemory(static_cast<size_t>(bytesPerLine) * static_cast<size_t>(bitmap.Height())) });
    if (!memory->pixels)
        return {};
    QImage image(memory->pixels.get(), bitmap.Width(), bitmap.Height(), bytesPerLine, format, &ReleaseDisplayMemory,
        memory.get());
    if (image.isNull())
        return image;
    memory.release(); // the image's now
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
