#pragma once

#include "framework/Bitmap.h"

// The first image of a GIF file (87a or 89a) as an 8-bit palette bitmap with its colour table.
// Extensions are skipped, so transparency and animation are not represented.
class TGIFGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TGIFGraphic)
public:
    void LoadStream(TStream& stream) override;
    // The rows are written once each, top row first (kept whole when interlaced).
    bool StreamRowsTo(TRowSink* sink) override
    {
        SetRowSink(sink);
        return true;
    }
};
