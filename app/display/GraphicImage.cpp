#include "app/display/GraphicImage.h"

#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"

#include <QtEndian>

namespace {

// The display copy takes four bytes a pixel, up to 32 times the picture's own memory for a 1-bit
// picture; past this it is refused before anything is allocated.
constexpr uint64_t kMaxDisplayBytes = uint64_t { 1 } << 30;

[[noreturn]] void RefuseDisplay(const TBitmap& bitmap)
{
    throw EOutOfResources("Not enough memory to display a picture of " + std::to_string(bitmap.Width()) + " x "
        + std::to_string(bitmap.Height()) + " pixels");
}

QImage BitmapToImage(const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return {};
    if (uint64_t(bitmap.Width()) * uint64_t(bitmap.Height()) * 4 > kMaxDisplayBytes)
        RefuseDisplay(bitmap);
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    if (image.isNull())
        RefuseDisplay(bitmap);
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "blue, green, red, alpha bytes are Format_RGB32 words");
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = image.scanLine(y);
        RowToBgra(bitmap, y, row);
        // Format_RGB32 wants 0xFF in the fourth byte.
        for (int x = 0; x < bitmap.Width(); ++x)
            row[4 * x + 3] = 0xFF;
    }
    return image;
}

} // namespace

QImage GraphicToImage(const TGraphic& graphic)
{
    if (const TBitmap* bitmap = graphic.DisplayBitmap())
        return BitmapToImage(*bitmap);
    return {};
}
