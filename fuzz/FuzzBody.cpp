#include "fuzz/FuzzBody.h"

#include "codecs/GraphicFormats.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <set>
#include <vector>

void PrepareFuzzing()
{
    static const bool prepared = [] {
        EnsureAllFormatsRegistered();
        TBitmap::SetMaxImageBytes(16u << 20);  // enough for every real sample, and fast to fill
        return true;
    }();
    (void)prepared;
}

void LoadThroughEveryReader(const uint8_t* data, size_t size)
{
    PrepareFuzzing();
    std::set<const TGraphicClass*> seen;
    for (const auto& entry : TPicture::Formats().Entries()) {
        if (!seen.insert(entry.graphicClass).second || !entry.graphicClass->create)
            continue;
        std::unique_ptr<TGraphic> graphic = entry.graphicClass->create();
        TMemoryStream stream(data, size);
        try {
            graphic->LoadStream(stream);
        } catch (const Exception&) {
            continue;
        }
        if (const TBitmap* bitmap = graphic->DisplayBitmap()) {
            std::vector<uint8_t> row(static_cast<size_t>(bitmap->Width()) * 4);
            for (int y = 0; y < bitmap->Height(); ++y)
                RowToBgra(*bitmap, y, row.data());
        }
        TMemoryStream out;
        try {
            graphic->SaveStream(out);
        } catch (const Exception&) {
        }
    }
}
