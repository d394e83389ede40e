#pragma once

#include "framework/MetafileCanvas.h"

#include <span>
#include <string>
#include <vector>

// The state that metafile records change and the drawing operations they call, shared by the
// players of Windows and enhanced metafiles. Coordinates given to it are logical; it maps them
// through the world transform, the page mapping (map mode, window, viewport) and the output
// mapping (reference device to target picture), and hands device shapes to the canvas, or adds
// them to the current path while a path is being recorded.

// x' = x * m11 + y * m21 + dx, y' = x * m12 + y * m22 + dy (the layout of a GDI XFORM).
struct TAffine {
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;

    TPointF Map(TPointF p) const { return {p.x * m11 + p.y * m21 + dx, p.x * m12 + p.y * m22 + dy}; }
    double Determinant() const { return m11 * m22 - m12 * m21; }
    // The transform that applies `first`, then `second`.
    static TAffine Then(const TAffine& first, const TAffine& second);
};

// A pen as the records define it, in logical units.
struct TLogicalPen {
    TMetafilePenStyle style = TMetafilePenStyle::Solid;
    double width = 0;
    bool cosmetic = true;  // one device pixel whatever the mapping
    TMetafileColor color;
    TMetafileLineCap cap = TMetafileLineCap::Round;
    TMetafileLineJoin join = TMetafileLineJoin::Round;
};

// A font as the records define it; sizes in logical units, signed as a LOGFONT holds them.
struct TLogicalFont {
    double height = 0;      // < 0: character (em) height, > 0: cell height, 0: default
    double width = 0;
    double escapement = 0;  // tenths of a degree, counterclockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charset = 0;
    std::string faceName;  // UTF-8
};

enum class TMapMode { Text = 1, LoMetric, HiMetric, LoEnglish, HiEnglish, Twips, Isotropic, Anisotropic };
enum class TArcKind { Arc, Chord, Pie };

class TMetafileDC {
public:
    // `geometryOnly`: the players pass bitmaps as their destination areas without decoding them
    // (used to find the extent of a metafile that does not state it).
    TMetafileDC(TMetafileCanvas& canvas, bool geometryOnly);

    bool GeometryOnly() const { return geometryOnly_; }

    // Mapping from the reference device to the target picture.
    void SetOutput(const TAffine& output);
    // Device pixels per millimetre of the reference device (for the metric map modes).
    void SetDeviceResolution(double pixelsPerMmX, double pixelsPerMmY);

    void SetMapMode(int mode);
    void SetWindowOrg(TPointF origin);
    void SetWindowExt(double cx, double cy);
    void SetViewportOrg(TPointF origin);
    void SetViewportExt(double cx, double cy);
    void OffsetWindowOrg(double dx, double dy);
    void OffsetViewportOrg(double dx, double dy);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    TPointF WindowOrg() const { return state_.windowOrg; }
    TPointF WindowExt() const { return state_.windowExt; }

    void SetWorldTransform(const TAffine& world);
    // 1 identity, 2 left-multiply, 3 right-multiply, 4 set.
    void ModifyWorldTransform(const TAffine& xform, int mode);

    void SelectPen(const TLogicalPen& pen) { state_.pen = pen; }
    void SelectBrush(const TMetafileBrush& brush) { state_.brush = brush; }
    void SelectFont(const TLogicalFont& font) { state_.font = font; }
    const TLogicalFont& Font() const { return state_.font; }
    void SetTextColor(TMetafileColor color) { state_.textColor = color; }
    void SetBackgroundColor(TMetafileColor color) { state_.backgroundColor = color; }
    void SetBackgroundMode(int mode) { state_.opaqueBackground = mode == 2; }
    void SetPolyFillMode(int mode) { state_.windingFill = mode == 2; }
    void SetTextAlign(uint32_t flags) { state_.textAlign = flags; }
    void SetArcDirection(int direction) { state_.clockwise = direction == 2; }

    void SaveDC();
    // Negative: that many levels back; positive: back to that level (1 is the first save).
    void RestoreDC(int level);

    void IntersectClipRect(double left, double top, double right, double bottom);
    void ExcludeClipRect(double left, double top, double right, double bottom);
    void ResetClip() { state_.clip.clear(); }
    // Rectangles in reference device units; mode as ExtSelectClipRgn: 1 and, 2 or, 3 xor, 4 diff, 5 copy.
    void SelectClipRects(std::span<const double> ltrbRects, int mode);
    void SelectClipPath(int mode);

    TPointF CurrentPosition() const { return state_.position; }
    void MoveTo(TPointF p);
    void LineTo(TPointF p);
    void Polyline(std::span<const TPointF> points);
    void PolylineTo(std::span<const TPointF> points);
    void PolyBezier(std::span<const TPointF> points);
    void PolyBezierTo(std::span<const TPointF> points);
    // Types as PolyDraw has them: 6 move, 2 line, 4 Bézier, with 1 added to close the figure.
    void PolyDraw(std::span<const TPointF> points, std::span<const uint8_t> types);
    void PolyPolyline(std::span<const TPointF> points, std::span<const uint32_t> counts);
    void PolyPolygon(std::span<const TPointF> points, std::span<const uint32_t> counts);
    void Rectangle(double left, double top, double right, double bottom);
    void RoundRect(double left, double top, double right, double bottom, double cornerWidth, double cornerHeight);
    void Ellipse(double left, double top, double right, double bottom);
    // The ellipse in the box from the ray through `start` to the ray through `end`, in the arc direction.
    void ArcShape(TArcKind kind, double left, double top, double right, double bottom, TPointF start, TPointF end);
    void ArcTo(double left, double top, double right, double bottom, TPointF start, TPointF end);
    void AngleArc(TPointF center, double radius, double startDegrees, double sweepDegrees);

    void BeginPath();
    void EndPath() { recordingPath_ = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath() { FinishPath(true, false); }
    void StrokePath() { FinishPath(false, true); }
    void StrokeAndFillPath() { FinishPath(true, true); }

    // Text at a logical point, or at the current position when the alignment asks for it.
    void TextOut(TPointF reference, const std::string& text);
    // Fills a logical rectangle with the background colour (text output's opaque box).
    void FillOpaqueRect(double left, double top, double right, double bottom);
    // A blit without a source: 0x00F00021 paints with the brush, 0x00000042 black, 0x00FF0062 white;
    // other operations change nothing here.
    void PatBlt(double left, double top, double width, double height, uint32_t rop);
    // Draws the source part of a bitmap into a logical rectangle (negative sizes mirror).
    void StretchBitmap(double x, double y, double width, double height, const TBitmap* bitmap,
                       const double (&source)[4], uint32_t rop);
    void AlphaBlendBitmap(double x, double y, double width, double height, const TBitmap& bitmap,
                          const double (&source)[4], uint8_t constantAlpha);

private:
    struct State {
        TMapMode mapMode = TMapMode::Text;
        TPointF windowOrg{0, 0};
        TPointF windowExt{1, 1};
        TPointF viewportOrg{0, 0};
        TPointF viewportExt{1, 1};
        TAffine world;
        TLogicalPen pen;
        TMetafileBrush brush;
        TLogicalFont font;
        TMetafileColor textColor{0, 0, 0};
        TMetafileColor backgroundColor{255, 255, 255};
        bool opaqueBackground = true;
        bool windingFill = false;
        uint32_t textAlign = 0;
        bool clockwise = false;
        TPointF position{0, 0};
        std::vector<TMetafilePath> clip;
    };

    const TAffine& Transform();
    // Logical to device, kept within the coordinate limit.
    TPointF Map(TPointF p);
    TMetafileDrawState DrawState();
    // Draws a finished shape, or adds it to the path being recorded.
    void Emit(const TMetafilePath& path, bool fill, bool stroke);
    void FinishPath(bool fill, bool stroke);
    void AddClip(TMetafilePath path);
    TMetafilePath RectPath(double left, double top, double right, double bottom);
    // Adds an elliptical arc (logical centre and radii, parametric angles in radians,
    // counterclockwise positive in logical space) as Bézier segments.
    void AddArc(TMetafilePath& path, TPointF center, double rx, double ry, double from, double sweep, bool moveTo);
    void Invalidate() { transformValid_ = false; }

    TMetafileCanvas& canvas_;
    bool geometryOnly_;
    TAffine output_;
    double pixelsPerMmX_ = 96 / 25.4;
    double pixelsPerMmY_ = 96 / 25.4;
    State state_;
    std::vector<State> saved_;
    TAffine transform_;
    bool transformValid_ = false;
    bool recordingPath_ = false;
    TMetafilePath path_;        // device coordinates
    bool figureOpen_ = false;   // the path's current figure can be continued by LineTo
};
