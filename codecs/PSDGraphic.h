#pragma once

#include "framework/Bitmap.h"

class TStream;

// The composite image of Photoshop documents: bitmap, grey-scale, indexed, duotone, RGB, CMYK and
// L*a*b* modes, raw or PackBits. Layers, image resources and extra channels are skipped. Saving is
// the bitmap's own (a Windows bitmap).
class TPSDGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TPSDGraphic)
public:
    void LoadStream(TStream& stream) override;
};
