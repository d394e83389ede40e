#include "codecs/AutodeskGraphic.h"

#include "framework/Exception.h"
#include "framework/Palette.h"
#include "framework/Stream.h"

#include <cstdint>

KAVREL_DEFINE_GRAPHIC_CLASS(TAutodeskGraphic, TBitmap)

// Every read is unchecked: a file cut short keeps the bytes it has, the rest of the picture stays
// black (rows are zero-filled when made).
void TAutodeskGraphic::LoadStream(TStream& stream)
{
    uint8_t magic[2] = {0, 0};
    stream.Read(magic, 2);
    if (magic[0] != 0x19 || magic[1] != 0x91)
        throw Exception("Cannot load image. Only old style Autodesk images are supported.");

    uint8_t header[30] = {};
    stream.Read(header, sizeof header);
    const int width = header[0] | header[1] << 8;
    const int height = header[2] | header[3] << 8;

    uint8_t colours[768] = {};
    stream.Read(colours, sizeof colours);
    TLogPalette log{};
    log.palVersion = kPaletteVersion;
    log.palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
        // 6-bit values: times four, kept in 8 bits.
        log.palPalEntry[i] = {static_cast<uint8_t>(colours[3 * i] << 2), static_cast<uint8_t>(colours[3 * i + 1] << 2),
                              static_cast<uint8_t>(colours[3 * i + 2] << 2), 0};
    }

    // Start from an empty bitmap: converting the previous picture would only cost time, and none of
    // its pixels may show through where this file is cut short.
    ReleaseHandle();
    SetPixelFormat(pf8bit);
    SetPalette(CreatePalette(log));
    // A picture without rows or without columns is 0 x 0: nobody may ask it for rows of no memory, nor
    // size a row buffer after a width that no row has.
    const bool hasPixels = width > 0 && height > 0;
    SetWidth(hasPixels ? width : 0);
    SetHeight(hasPixels ? height : 0);
    for (int y = 0; y < Height(); ++y) {
        // Once the stream has ended every further row would stay black anyway.
        if (stream.Read(ScanLine(y), width) < width)
            break;
    }
}
