#pragma once

#include "framework/Bitmap.h"

class TStream;

// Old-style Autodesk Animator pictures and cels: a 32-byte header, a palette of 256 6-bit colours and
// uncompressed 8-bit rows, top row first.
class TAutodeskGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TAutodeskGraphic)
public:
    void LoadStream(TStream& stream) override;
};
