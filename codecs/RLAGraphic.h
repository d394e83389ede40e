#pragma once

#include "framework/Bitmap.h"

// Wavefront RLA images: red, green and blue channels and an optional matte, each channel of a row
// run-length packed on its own; rows are found through a table of offsets after the header.
// Without a matte the bitmap is 24-bit; with one it is 32-bit and the matte is the fourth byte.
class TRLAGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TRLAGraphic)
public:
    void LoadStream(TStream& stream) override;
};
