#pragma once

#include "framework/Bitmap.h"

// The first image of a Tagged Image File: either byte order, strips stored uncompressed, as LZW or
// as PackBits; bilevel, grey, palette, RGB (with or without alpha), CMYK, CIE L*a*b* and YCbCr data
// with interleaved samples; horizontal differencing.
class TTIFFGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TTIFFGraphic)
public:
    TTIFFGraphic();

    void LoadStream(TStream& stream) override;
    // The rows are written once each, top row first.
    bool StreamRowsTo(TRowSink* sink) override
    {
        SetRowSink(sink);
        return true;
    }
    // The class reads TIFF only: saving leaves the stream as it was and reports nothing.
    void SaveStream(TStream& stream) override;
    // A file is never left empty: the picture is saved as a Windows bitmap.
    void SaveToFile(const std::string& fileName) override { SaveToFileAsBitmap(fileName); }
};
