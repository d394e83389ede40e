#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TBitmap;

// The drawing interface that metafile records are played onto. The player keeps the device
// context (mapping modes, transforms, selected objects, paths) and hands the canvas finished shapes
// in device pixels of the target picture, (0, 0) at its top-left corner. The application implements
// it with QPainter; the framework itself never draws.

struct TPointF {
    double x = 0;
    double y = 0;
    friend bool operator==(const TPointF&, const TPointF&) = default;
};

struct TMetafileColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    friend bool operator==(const TMetafileColor&, const TMetafileColor&) = default;
};

// Figures of lines and cubic Bézier curves. A CubicTo takes three points: two controls and the end.
class TMetafilePath {
public:
    enum class Op : uint8_t { MoveTo, LineTo, CubicTo, Close };

    void MoveTo(TPointF p)
    {
        ops_.push_back(Op::MoveTo);
        points_.push_back(p);
    }
    void LineTo(TPointF p)
    {
        ops_.push_back(Op::LineTo);
        points_.push_back(p);
    }
    void CubicTo(TPointF c1, TPointF c2, TPointF end)
    {
        ops_.push_back(Op::CubicTo);
        points_.insert(points_.end(), {c1, c2, end});
    }
    void Close()
    {
        if (!ops_.empty() && ops_.back() != Op::Close)
            ops_.push_back(Op::Close);
    }
    void Append(const TMetafilePath& other)
    {
        ops_.insert(ops_.end(), other.ops_.begin(), other.ops_.end());
        points_.insert(points_.end(), other.points_.begin(), other.points_.end());
    }
    void Clear()
    {
        ops_.clear();
        points_.clear();
    }
    bool Empty() const { return ops_.empty(); }
    const std::vector<Op>& Ops() const { return ops_; }
    // The points of all operations in order (a Close has none).
    const std::vector<TPointF>& Points() const { return points_; }

private:
    std::vector<Op> ops_;
    std::vector<TPointF> points_;
};

enum class TMetafilePenStyle : uint8_t { Solid, Dash, Dot, DashDot, DashDotDot, Null };
enum class TMetafileLineCap : uint8_t { Round, Square, Flat };
enum class TMetafileLineJoin : uint8_t { Round, Bevel, Miter };

struct TMetafilePen {
    TMetafilePenStyle style = TMetafilePenStyle::Solid;
    // Device pixels; lines thinner than one pixel (0 for cosmetic pens) are drawn one pixel wide.
    double width = 0;
    TMetafileColor color;
    TMetafileLineCap cap = TMetafileLineCap::Round;
    TMetafileLineJoin join = TMetafileLineJoin::Round;
};

enum class TMetafileBrushStyle : uint8_t { Solid, Null, Hatched, Pattern };
// Hatch lines: horizontal, vertical, \ diagonal, / diagonal, cross, diagonal cross.
enum class TMetafileHatch : uint8_t { Horizontal, Vertical, ForwardDiagonal, BackwardDiagonal, Cross, DiagonalCross };

struct TMetafileBrush {
    TMetafileBrushStyle style = TMetafileBrushStyle::Solid;
    TMetafileColor color{255, 255, 255};
    TMetafileHatch hatch = TMetafileHatch::Horizontal;
    std::shared_ptr<const TBitmap> pattern;  // Pattern brushes
};

struct TMetafileFont {
    // Device pixels: the em height when cellHeight is false, the height of the character cell
    // (ascent plus descent) when it is true; 0 for the default size.
    double height = 0;
    bool cellHeight = false;
    double width = 0;     // average character width in device pixels; 0 for the font's own
    double angle = 0;     // degrees, counterclockwise on the screen
    int weight = 400;     // 100..900, 400 regular, 700 bold
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::string faceName;  // UTF-8
};

enum class TMetafileTextHAlign : uint8_t { Left, Center, Right };
enum class TMetafileTextVAlign : uint8_t { Top, Baseline, Bottom };

// Everything a shape, a text or a bitmap is drawn with.
struct TMetafileDrawState {
    TMetafilePen pen;
    TMetafileBrush brush;
    TMetafileFont font;
    TMetafileColor textColor;
    TMetafileColor backgroundColor{255, 255, 255};
    bool opaqueBackground = true;  // text boxes and the gaps of hatches and styled lines
    bool windingFill = false;      // false: alternate (even-odd)
    TMetafileTextHAlign textHAlign = TMetafileTextHAlign::Left;
    TMetafileTextVAlign textVAlign = TMetafileTextVAlign::Top;
    // Drawing is limited to the intersection of these areas (each filled by the winding rule);
    // no entry: nothing is clipped.
    std::vector<TMetafilePath> clip;
};

// How a bitmap is combined with what is already drawn.
enum class TMetafileBlend : uint8_t {
    Copy,        // SRCCOPY and the raster operations without a simple equivalent
    And,         // SRCAND
    Or,          // SRCPAINT
    Xor,         // SRCINVERT
    AlphaBlend,  // the bitmap's alpha channel, times `constantAlpha`
};

class TMetafileCanvas {
public:
    virtual ~TMetafileCanvas() = default;

    // Fills the path with the state's brush and fill rule when `fill`, then outlines it with the
    // state's pen when `stroke`.
    virtual void DrawPath(const TMetafileDrawState& state, const TMetafilePath& path, bool fill, bool stroke) = 0;

    // Draws text in the state's font and text colour. `reference` is the point that the alignment
    // refers to (for instance the left end of the baseline); the font's angle turns the text around it.
    virtual void DrawText(const TMetafileDrawState& state, TPointF reference, const std::string& text) = 0;

    // Draws the `source` part of the bitmap (x, y, width, height in its pixels, rows top first)
    // into the parallelogram whose corners for the source's top-left, top-right and bottom-left are
    // given (mirrored and turned by the mapping as needed).
    virtual void DrawBitmap(const TMetafileDrawState& state, const TPointF (&corners)[3], const TBitmap& bitmap,
                            const double (&source)[4], TMetafileBlend blend, uint8_t constantAlpha) = 0;
};
