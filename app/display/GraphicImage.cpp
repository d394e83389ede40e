#include "app/display/GraphicImage.h"

#include "app/display/ImageConversion.h"
#include "app/display/MetafileRendering.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Icon.h"
#include "framework/Metafile.h"

#include <cstdint>
#include <string>

namespace {

// The display copy takes four bytes a pixel, up to 32 times the picture's own memory for a 1-bit
// picture; past this it is refused before anything is allocated.
constexpr uint64_t kMaxDisplayBytes = uint64_t { 1 } << 30;

[[noreturn]] void RefuseDisplay(const TBitmap& bitmap)
{
    throw EOutOfResources("Not enough memory to display a picture of " + std::to_string(bitmap.Width()) + " x "
        + std::to_string(bitmap.Height()) + " pixels");
}

}  // namespace

QImage GraphicToImage(const TGraphic& graphic)
{
    if (const auto* metafile = dynamic_cast<const TMetafile*>(&graphic))
        return metafile->Empty() ? QImage() : RenderMetafile(*metafile);

    const TBitmap* bitmap = graphic.DisplayBitmap();
    if (!bitmap || bitmap->Empty())
        return {};
    if (uint64_t(bitmap->Width()) * uint64_t(bitmap->Height()) * 4 > kMaxDisplayBytes)
        RefuseDisplay(*bitmap);
    QImage image = BitmapToQImage(*bitmap);
    if (image.isNull())
        RefuseDisplay(*bitmap);
    if (image.hasAlphaChannel() && !dynamic_cast<const TIcon*>(&graphic))
        image.convertTo(QImage::Format_RGB32);
    return image;
}
