#include "tools/kavrel-cli/PamFile.h"

#include "framework/Bitmap.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <string>
#include <vector>

void WritePam(TStream& stream, const TBitmap& bitmap)
{
    const bool alpha = CarriesAlpha(bitmap);
    const int depth = alpha ? 4 : 3;
    const std::string header = "P7\nWIDTH " + std::to_string(bitmap.Width()) + "\nHEIGHT " +
                               std::to_string(bitmap.Height()) + "\nDEPTH " + std::to_string(depth) +
                               "\nMAXVAL 255\nTUPLTYPE " + (alpha ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n";
    stream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
    const int width = bitmap.Width();
    std::vector<uint8_t> bgra(static_cast<size_t>(width) * 4);
    std::vector<uint8_t> out(static_cast<size_t>(width) * depth);
    for (int y = 0; y < bitmap.Height(); ++y) {
        RowToBgra(bitmap, y, bgra.data());
        for (int x = 0; x < width; ++x) {
            uint8_t* o = out.data() + static_cast<size_t>(x) * depth;
            o[0] = bgra[4 * x + 2];
            o[1] = bgra[4 * x + 1];
            o[2] = bgra[4 * x];
            if (alpha)
                o[3] = bgra[4 * x + 3];
        }
        stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
    }
}
