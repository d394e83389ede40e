#include "capture/CapturePlatform.h"

#include "framework/Bitmap.h"

#include <algorithm>
#include <memory>

void ApplySystemPalette(ICapturePlatform& platform, HDC dc, TBitmap& bitmap)
{
    if (!platform.IsPaletteDevice(dc))
        return;
    auto logPalette = std::make_unique<TLogPalette>();
    logPalette->palVersion = kPaletteVersion;
    const unsigned count = platform.GetSystemPaletteEntries(dc, 0, 256, logPalette->palPalEntry);
    logPalette->palNumEntries = static_cast<uint16_t>(std::min(count, 256u));
    if (logPalette->palNumEntries != 0)
        bitmap.SetPalette(CreatePalette(*logPalette));
}
