#pragma once

#include "framework/MetafileCanvas.h"

class QPainter;

// Draws metafile records with a QPainter (on any paint device; raster images support every blend).
class PainterCanvas : public TMetafileCanvas {
public:
    explicit PainterCanvas(QPainter& painter) : painter_(painter) {}

    void DrawPath(const TMetafileDrawState& state, const TMetafilePath& path, bool fill, bool stroke) override;
    void DrawText(const TMetafileDrawState& state, TPointF reference, const std::string& text) override;
    void DrawBitmap(const TMetafileDrawState& state, const TPointF (&corners)[3], const TBitmap& bitmap,
                    const double (&source)[4], TMetafileBlend blend, uint8_t constantAlpha) override;

private:
    // Sets the clip, background and transform that every operation starts from.
    void Begin(const TMetafileDrawState& state);

    QPainter& painter_;
};
