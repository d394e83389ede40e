#include "app/display/PainterCanvas.h"

#include "app/display/ImageConversion.h"
#include "framework/Bitmap.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kDefaultFontPixels = 16;
// Text longer than this in one record is cut: laying out megabytes of text helps no picture.
constexpr qsizetype kMaxTextLength = 1 << 16;

QColor ToQColor(TMetafileColor c)
{
    return QColor(c.red, c.green, c.blue);
}

QPainterPath ToQPath(const TMetafilePath& path, bool winding)
{
    QPainterPath result;
    result.setFillRule(winding ? Qt::WindingFill : Qt::OddEvenFill);
    const auto& points = path.Points();
    size_t k = 0;
    for (TMetafilePath::Op op : path.Ops()) {
        switch (op) {
        case TMetafilePath::Op::MoveTo:
            result.moveTo(points[k].x, points[k].y);
            ++k;
            break;
        case TMetafilePath::Op::LineTo:
            result.lineTo(points[k].x, points[k].y);
            ++k;
            break;
        case TMetafilePath::Op::CubicTo:
            result.cubicTo(points[k].x, points[k].y, points[k + 1].x, points[k + 1].y, points[k + 2].x,
                           points[k + 2].y);
            k += 3;
            break;
        case TMetafilePath::Op::Close: result.closeSubpath(); break;
        }
    }
    return result;
}

QPen ToQPen(const TMetafilePen& pen)
{
    QPen result(ToQColor(pen.color));
    // Thinner than a pixel is one pixel, as on the system's displays.
    result.setWidthF(pen.width < 1 ? 0 : pen.width);
    switch (pen.style) {
    case TMetafilePenStyle::Solid: result.setStyle(Qt::SolidLine); break;
    case TMetafilePenStyle::Dash: result.setStyle(Qt::DashLine); break;
    case TMetafilePenStyle::Dot: result.setStyle(Qt::DotLine); break;
    case TMetafilePenStyle::DashDot: result.setStyle(Qt::DashDotLine); break;
    case TMetafilePenStyle::DashDotDot: result.setStyle(Qt::DashDotDotLine); break;
    case TMetafilePenStyle::Null: result.setStyle(Qt::NoPen); break;
    }
    switch (pen.cap) {
    case TMetafileLineCap::Round: result.setCapStyle(Qt::RoundCap); break;
    case TMetafileLineCap::Square: result.setCapStyle(Qt::SquareCap); break;
    case TMetafileLineCap::Flat: result.setCapStyle(Qt::FlatCap); break;
    }
    switch (pen.join) {
    case TMetafileLineJoin::Round: result.setJoinStyle(Qt::RoundJoin); break;
    case TMetafileLineJoin::Bevel: result.setJoinStyle(Qt::BevelJoin); break;
    case TMetafileLineJoin::Miter: result.setJoinStyle(Qt::MiterJoin); break;
    }
    return result;
}

QBrush ToQBrush(const TMetafileBrush& brush)
{
    switch (brush.style) {
    case TMetafileBrushStyle::Null: return Qt::NoBrush;
    case TMetafileBrushStyle::Pattern:
        if (brush.pattern)
            return QBrush(BitmapToQImage(*brush.pattern).convertToFormat(QImage::Format_RGB32));
        return QBrush(Qt::black);
    case TMetafileBrushStyle::Hatched: {
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                                 Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(ToQColor(brush.color), hatches[static_cast<int>(brush.hatch)]);
    }
    case TMetafileBrushStyle::Solid: break;
    }
    return QBrush(ToQColor(brush.color));
}

QFont ToQFont(const TMetafileFont& font)
{
    QFont result;
    if (!font.faceName.empty())
        result.setFamily(QString::fromStdString(font.faceName));
    const double height = font.height > 0 ? font.height : kDefaultFontPixels;
    result.setPixelSize(std::max(1, static_cast<int>(std::lround(height))));
    result.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight == 0 ? 400 : font.weight, 1, 1000)));
    result.setItalic(font.italic);
    result.setUnderline(font.underline);
    result.setStrikeOut(font.strikeOut);
    if (font.height > 0 && font.cellHeight) {
        // The height given is the character cell's: scale the em so the cell comes out right.
        const double cell = QFontMetricsF(result).height();
        if (cell > 0)
            result.setPixelSize(std::max(1, static_cast<int>(std::lround(height * height / cell))));
    }
    if (font.width > 0) {
        const double average = QFontMetricsF(result).averageCharWidth();
        if (average > 0)
            result.setStretch(std::clamp(static_cast<int>(std::lround(100 * font.width / average)), 1, 4000));
    }
    return result;
}

}  // namespace

void PainterCanvas::Begin(const TMetafileDrawState& state)
{
    painter_.setTransform(QTransform());
    painter_.setOpacity(1);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setBackgroundMode(state.opaqueBackground ? Qt::OpaqueMode : Qt::TransparentMode);
    painter_.setBackground(ToQColor(state.backgroundColor));
    if (state.clip.empty()) {
        painter_.setClipping(false);
        return;
    }
    bool first = true;
    for (const TMetafilePath& area : state.clip) {
        painter_.setClipPath(ToQPath(area, true), first ? Qt::ReplaceClip : Qt::IntersectClip);
        first = false;
    }
}

void PainterCanvas::DrawPath(const TMetafileDrawState& state, const TMetafilePath& path, bool fill, bool stroke)
{
    Begin(state);
    const QPainterPath shape = ToQPath(path, state.windingFill);
    if (fill)
        painter_.fillPath(shape, ToQBrush(state.brush));
    if (stroke)
        painter_.strokePath(shape, ToQPen(state.pen));
}

void PainterCanvas::DrawText(const TMetafileDrawState& state, TPointF reference, const std::string& text)
{
    Begin(state);
    const QString string = QString::fromStdString(text).left(kMaxTextLength);
    const QFont font = ToQFont(state.font);
    const QFontMetricsF metrics(font);
    const double advance = metrics.horizontalAdvance(string);
    QPointF origin(0, 0);  // of the baseline's left end, relative to the reference point
    switch (state.textHAlign) {
    case TMetafileTextHAlign::Left: break;
    case TMetafileTextHAlign::Center: origin.rx() = -advance / 2; break;
    case TMetafileTextHAlign::Right: origin.rx() = -advance; break;
    }
    switch (state.textVAlign) {
    case TMetafileTextVAlign::Top: origin.ry() = metrics.ascent(); break;
    case TMetafileTextVAlign::Baseline: break;
    case TMetafileTextVAlign::Bottom: origin.ry() = -metrics.descent(); break;
    }
    painter_.translate(reference.x, reference.y);
    painter_.rotate(-state.font.angle);
    if (state.opaqueBackground)
        painter_.fillRect(QRectF(origin.x(), origin.y() - metrics.ascent(), advance, metrics.height()),
                          ToQColor(state.backgroundColor));
    painter_.setFont(font);
    painter_.setPen(ToQColor(state.textColor));
    painter_.drawText(origin, string);
}

void PainterCanvas::DrawBitmap(const TMetafileDrawState& state, const TPointF (&corners)[3], const TBitmap& bitmap,
                               const double (&source)[4], TMetafileBlend blend, uint8_t constantAlpha)
{
    QPointF c0(corners[0].x, corners[0].y);
    QPointF c1(corners[1].x, corners[1].y);
    QPointF c2(corners[2].x, corners[2].y);
    double sx = source[0], sy = source[1], sw = source[2], sh = source[3];
    // A source counted leftwards or upwards mirrors the picture.
    if (sw < 0) {
        sx += sw;
        sw = -sw;
        const QPointF across = c1 - c0;
        c0 += across;
        c2 += across;
        c1 -= 2 * across;
    }
    if (sh < 0) {
        sy += sh;
        sh = -sh;
        const QPointF down = c2 - c0;
        c0 += down;
        c1 += down;
        c2 -= 2 * down;
    }
    if (sw == 0 || sh == 0 || bitmap.Empty())
        return;
    Begin(state);
    const QTransform toTarget((c1.x() - c0.x()) / sw, (c1.y() - c0.y()) / sw, (c2.x() - c0.x()) / sh,
                              (c2.y() - c0.y()) / sh, c0.x(), c0.y());
    painter_.setTransform(toTarget);
    switch (blend) {
    case TMetafileBlend::Copy: break;
    case TMetafileBlend::And: painter_.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
    case TMetafileBlend::Or: painter_.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
    case TMetafileBlend::Xor: painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    case TMetafileBlend::AlphaBlend: painter_.setOpacity(constantAlpha / 255.0); break;
    }
    // Only alpha blending looks at the fourth byte, and takes the colours as premultiplied by it;
    // for the raster operations it is padding.
    QImage drawn = BitmapToQImage(bitmap);
    if (blend == TMetafileBlend::AlphaBlend && bitmap.PixelFormat() == pf32bit)
        drawn.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    else
        drawn = drawn.convertToFormat(QImage::Format_RGB32);
    painter_.drawImage(QRectF(0, 0, sw, sh), drawn, QRectF(sx, sy, sw, sh));
}
