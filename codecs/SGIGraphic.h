#pragma once

#include "framework/Bitmap.h"

class TStream;

// SGI image files: one, three or four channels of 8 or 16 bits, uncompressed or run-length
// compressed, bottom row first. Three channels give 24-bit pixels, four 32-bit pixels with the
// fourth channel as alpha; any other count shows channel 0 as grey.
class TSGIGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TSGIGraphic)
public:
    void LoadStream(TStream& stream) override;
    // The rows are written once each, top row first (kept whole when compressed).
    bool StreamRowsTo(TRowSink* sink) override
    {
        SetRowSink(sink);
        return true;
    }
};
