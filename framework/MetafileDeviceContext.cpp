#include "framework/MetafileDeviceContext.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Device coordinates are kept within this range: a hostile mapping cannot hand the canvas
// coordinates it chokes on (dashing a line billions of pixels long, infinities, NaN).
constexpr double kCoordinateLimit = 1e7;
constexpr size_t kMaxSavedStates = 1024;
constexpr size_t kMaxClipAreas = 32;
constexpr double kPi = std::numbers::pi;

double Sane(double v)
{
    if (!std::isfinite(v))
        return 0;
    return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

double SignedArea(const std::vector<TPointF>& points)
{
    double area = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const TPointF& a = points[i];
        const TPointF& b = points[(i + 1) % points.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return area / 2;
}

// The axis-aligned rectangle that a four-corner closed path is, if it is one.
bool AsRect(const TMetafilePath& path, double (&r)[4])
{
    const auto& ops = path.Ops();
    const auto& p = path.Points();
    if (ops.size() != 5 || p.size() != 4 || ops[0] != TMetafilePath::Op::MoveTo || ops[4] != TMetafilePath::Op::Close)
        return false;
    const bool horizontalFirst = p[0].y == p[1].y && p[1].x == p[2].x && p[2].y == p[3].y && p[3].x == p[0].x;
    const bool verticalFirst = p[0].x == p[1].x && p[1].y == p[2].y && p[2].x == p[3].x && p[3].y == p[0].y;
    if (!horizontalFirst && !verticalFirst)
        return false;
    r[0] = std::min(p[0].x, p[2].x);
    r[1] = std::min(p[0].y, p[2].y);
    r[2] = std::max(p[0].x, p[2].x);
    r[3] = std::max(p[0].y, p[2].y);
    return true;
}

TMetafilePath DeviceRect(double left, double top, double right, double bottom)
{
    TMetafilePath path;
    path.MoveTo({left, top});
    path.LineTo({right, top});
    path.LineTo({right, bottom});
    path.LineTo({left, bottom});
    path.Close();
    return path;
}

// Everything outside the area: a huge rectangle with the area's figures wound the other way.
TMetafilePath Outside(const TMetafilePath& area)
{
    TMetafilePath result = DeviceRect(-kCoordinateLimit, -kCoordinateLimit, kCoordinateLimit, kCoordinateLimit);
    // Reverse each figure of straight lines so that it winds against the outer rectangle
    // (clockwise on the screen); curves keep their direction, which is good enough for clipping.
    std::vector<TPointF> figure;
    auto flush = [&] {
        if (figure.size() >= 3) {
            if (SignedArea(figure) > 0)
                std::reverse(figure.begin(), figure.end());
            result.MoveTo(figure[0]);
            for (size_t i = 1; i < figure.size(); ++i)
                result.LineTo(figure[i]);
            result.Close();
        }
        figure.clear();
    };
    const auto& points = area.Points();
    size_t k = 0;
    for (TMetafilePath::Op op : area.Ops()) {
        switch (op) {
        case TMetafilePath::Op::MoveTo:
            flush();
            figure.push_back(points[k++]);
            break;
        case TMetafilePath::Op::LineTo:
            figure.push_back(points[k++]);
            break;
        case TMetafilePath::Op::CubicTo:
            figure.push_back(points[k + 2]);
            k += 3;
            break;
        case TMetafilePath::Op::Close:
            flush();
            break;
        }
    }
    flush();
    return result;
}

}  // namespace

TAffine TAffine::Then(const TAffine& f, const TAffine& s)
{
    return {f.m11 * s.m11 + f.m12 * s.m21,
            f.m11 * s.m12 + f.m12 * s.m22,
            f.m21 * s.m11 + f.m22 * s.m21,
            f.m21 * s.m12 + f.m22 * s.m22,
            f.dx * s.m11 + f.dy * s.m21 + s.dx,
            f.dx * s.m12 + f.dy * s.m22 + s.dy};
}

TMetafileDC::TMetafileDC(TMetafileCanvas& canvas, bool geometryOnly) : canvas_(canvas), geometryOnly_(geometryOnly)
{
    // A new device context draws with a black one-pixel pen and a white brush.
    state_.brush.style = TMetafileBrushStyle::Solid;
    state_.brush.color = {255, 255, 255};
}

void TMetafileDC::SetOutput(const TAffine& output)
{
    output_ = output;
    Invalidate();
}

void TMetafileDC::SetDeviceResolution(double pixelsPerMmX, double pixelsPerMmY)
{
    if (pixelsPerMmX > 0 && pixelsPerMmY > 0 && std::isfinite(pixelsPerMmX) && std::isfinite(pixelsPerMmY)) {
        pixelsPerMmX_ = pixelsPerMmX;
        pixelsPerMmY_ = pixelsPerMmY;
        Invalidate();
    }
}

void TMetafileDC::SetMapMode(int mode)
{
    if (mode >= 1 && mode <= 8) {
        state_.mapMode = static_cast<TMapMode>(mode);
        Invalidate();
    }
}

void TMetafileDC::SetWindowOrg(TPointF origin)
{
    state_.windowOrg = origin;
    Invalidate();
}

void TMetafileDC::SetWindowExt(double cx, double cy)
{
    // Zero extents are refused, as the system refuses them.
    if (cx != 0 && cy != 0 && std::isfinite(cx) && std::isfinite(cy)) {
        state_.windowExt = {cx, cy};
        Invalidate();
    }
}

void TMetafileDC::SetViewportOrg(TPointF origin)
{
    state_.viewportOrg = origin;
    Invalidate();
}

void TMetafileDC::SetViewportExt(double cx, double cy)
{
    if (cx != 0 && cy != 0 && std::isfinite(cx) && std::isfinite(cy)) {
        state_.viewportExt = {cx, cy};
        Invalidate();
    }
}

void TMetafileDC::OffsetWindowOrg(double dx, double dy)
{
    SetWindowOrg({state_.windowOrg.x + dx, state_.windowOrg.y + dy});
}

void TMetafileDC::OffsetViewportOrg(double dx, double dy)
{
    SetViewportOrg({state_.viewportOrg.x + dx, state_.viewportOrg.y + dy});
}

void TMetafileDC::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom != 0 && yDenom != 0)
        SetWindowExt(state_.windowExt.x * xNum / xDenom, state_.windowExt.y * yNum / yDenom);
}

void TMetafileDC::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom != 0 && yDenom != 0)
        SetViewportExt(state_.viewportExt.x * xNum / xDenom, state_.viewportExt.y * yNum / yDenom);
}

void TMetafileDC::SetWorldTransform(const TAffine& world)
{
    const double values[] = {world.m11, world.m12, world.m21, world.m22, world.dx, world.dy};
    for (double v : values)
        if (!std::isfinite(v) || std::fabs(v) > 1e9)
            return;  // refused, as the system refuses a transform it cannot invert
    if (world.Determinant() == 0)
        return;
    state_.world = world;
    Invalidate();
}

void TMetafileDC::ModifyWorldTransform(const TAffine& xform, int mode)
{
    switch (mode) {
    case 1: SetWorldTransform(TAffine{}); break;
    case 2: SetWorldTransform(TAffine::Then(xform, state_.world)); break;
    case 3: SetWorldTransform(TAffine::Then(state_.world, xform)); break;
    case 4: SetWorldTransform(xform); break;
    default: break;
    }
}

const TAffine& TMetafileDC::Transform()
{
    if (transformValid_)
        return transform_;
    double sx = 1;
    double sy = 1;
    switch (state_.mapMode) {
    case TMapMode::Text: break;
    case TMapMode::LoMetric: sx = 0.1, sy = -0.1; break;
    case TMapMode::HiMetric: sx = 0.01, sy = -0.01; break;
    case TMapMode::LoEnglish: sx = 0.254, sy = -0.254; break;
    case TMapMode::HiEnglish: sx = 0.0254, sy = -0.0254; break;
    case TMapMode::Twips: sx = 25.4 / 1440, sy = -25.4 / 1440; break;
    case TMapMode::Isotropic:
    case TMapMode::Anisotropic:
        sx = state_.viewportExt.x / state_.windowExt.x;
        sy = state_.viewportExt.y / state_.windowExt.y;
        if (state_.mapMode == TMapMode::Isotropic) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    }
    if (state_.mapMode != TMapMode::Text && state_.mapMode != TMapMode::Isotropic &&
        state_.mapMode != TMapMode::Anisotropic) {
        sx *= pixelsPerMmX_;
        sy *= pixelsPerMmY_;
    }
    const TAffine page{sx, 0, 0, sy, state_.viewportOrg.x - state_.windowOrg.x * sx,
                       state_.viewportOrg.y - state_.windowOrg.y * sy};
    transform_ = TAffine::Then(TAffine::Then(state_.world, page), output_);
    transformValid_ = true;
    return transform_;
}

TPointF TMetafileDC::Map(TPointF p)
{
    const TPointF d = Transform().Map(p);
    return {Sane(d.x), Sane(d.y)};
}

TMetafileDrawState TMetafileDC::DrawState()
{
    const TAffine& t = Transform();
    const double scale = std::sqrt(std::fabs(t.Determinant()));
    const double scaleX = std::hypot(t.m11, t.m12);
    const double scaleY = std::hypot(t.m21, t.m22);
    TMetafileDrawState s;
    s.pen.style = state_.pen.style;
    s.pen.width = state_.pen.cosmetic ? 0 : std::min(state_.pen.width * scale, 1e5);
    s.pen.color = state_.pen.color;
    s.pen.cap = state_.pen.cap;
    s.pen.join = state_.pen.join;
    s.brush = state_.brush;
    const TLogicalFont& f = state_.font;
    s.font.height = std::min(std::fabs(f.height) * scaleY, 1e5);
    s.font.cellHeight = f.height > 0;
    s.font.width = std::min(std::fabs(f.width) * scaleX, 1e5);
    s.font.angle = std::isfinite(f.escapement) ? std::fmod(f.escapement / 10, 360) : 0;
    s.font.weight = f.weight;
    s.font.italic = f.italic;
    s.font.underline = f.underline;
    s.font.strikeOut = f.strikeOut;
    s.font.faceName = f.faceName;
    s.textColor = state_.textColor;
    s.backgroundColor = state_.backgroundColor;
    s.opaqueBackground = state_.opaqueBackground;
    s.windingFill = state_.windingFill;
    switch (state_.textAlign & 6) {
    case 2: s.textHAlign = TMetafileTextHAlign::Right; break;
    case 6: s.textHAlign = TMetafileTextHAlign::Center; break;
    default: s.textHAlign = TMetafileTextHAlign::Left; break;
    }
    switch (state_.textAlign & 24) {
    case 8: s.textVAlign = TMetafileTextVAlign::Bottom; break;
    case 24: s.textVAlign = TMetafileTextVAlign::Baseline; break;
    default: s.textVAlign = TMetafileTextVAlign::Top; break;
    }
    s.clip = state_.clip;
    return s;
}

void TMetafileDC::Emit(const TMetafilePath& shape, bool fill, bool stroke)
{
    if (shape.Empty())
        return;
    if (recordingPath_) {
        path_.Append(shape);
        figureOpen_ = shape.Ops().back() != TMetafilePath::Op::Close;
        return;
    }
    fill = fill && state_.brush.style != TMetafileBrushStyle::Null;
    stroke = stroke && state_.pen.style != TMetafilePenStyle::Null;
    if (fill || stroke)
        canvas_.DrawPath(DrawState(), shape, fill, stroke);
}

void TMetafileDC::SaveDC()
{
    if (saved_.size() < kMaxSavedStates)
        saved_.push_back(state_);
}

void TMetafileDC::RestoreDC(int level)
{
    size_t keep;
    if (level < 0) {
        const size_t back = static_cast<size_t>(-static_cast<int64_t>(level));
        if (back > saved_.size())
            return;
        keep = saved_.size() - back;
    } else {
        if (level == 0 || static_cast<size_t>(level) > saved_.size())
            return;
        keep = static_cast<size_t>(level) - 1;
    }
    state_ = saved_[keep];
    saved_.resize(keep);
    Invalidate();
}

TMetafilePath TMetafileDC::RectPath(double left, double top, double right, double bottom)
{
    TMetafilePath path;
    path.MoveTo(Map({left, top}));
    path.LineTo(Map({right, top}));
    path.LineTo(Map({right, bottom}));
    path.LineTo(Map({left, bottom}));
    path.Close();
    return path;
}

void TMetafileDC::AddClip(TMetafilePath area)
{
    double a[4];
    double b[4];
    if (!state_.clip.empty() && AsRect(state_.clip.back(), a) && AsRect(area, b)) {
        // Two rectangles make one: the usual case, and it keeps the list short.
        const double left = std::max(a[0], b[0]);
        const double top = std::max(a[1], b[1]);
        state_.clip.back() =
            DeviceRect(left, top, std::max(left, std::min(a[2], b[2])), std::max(top, std::min(a[3], b[3])));
        return;
    }
    if (state_.clip.size() >= kMaxClipAreas)
        state_.clip.erase(state_.clip.begin());
    state_.clip.push_back(std::move(area));
}

void TMetafileDC::IntersectClipRect(double left, double top, double right, double bottom)
{
    AddClip(RectPath(left, top, right, bottom));
}

void TMetafileDC::ExcludeClipRect(double left, double top, double right, double bottom)
{
    AddClip(Outside(RectPath(left, top, right, bottom)));
}

void TMetafileDC::SelectClipRects(std::span<const double> rects, int mode)
{
    TMetafilePath area;
    for (size_t i = 0; i + 3 < rects.size(); i += 4) {
        const TPointF tl = output_.Map({rects[i], rects[i + 1]});
        const TPointF br = output_.Map({rects[i + 2], rects[i + 3]});
        area.Append(DeviceRect(Sane(tl.x), Sane(tl.y), Sane(br.x), Sane(br.y)));
    }
    switch (mode) {
    case 1: AddClip(std::move(area)); break;
    case 4: AddClip(Outside(area)); break;
    case 5:
        state_.clip.clear();
        if (!area.Empty())
            state_.clip.push_back(std::move(area));
        break;
    default:
        // A union cannot be expressed as an intersection of areas: drawing too much is better
        // than losing parts of the picture.
        state_.clip.clear();
        break;
    }
}

void TMetafileDC::SelectClipPath(int mode)
{
    TMetafilePath area = std::move(path_);
    path_.Clear();
    recordingPath_ = false;
    figureOpen_ = false;
    switch (mode) {
    case 1: AddClip(std::move(area)); break;
    case 4: AddClip(Outside(area)); break;
    case 5:
        state_.clip.clear();
        state_.clip.push_back(std::move(area));
        break;
    default: state_.clip.clear(); break;
    }
}

void TMetafileDC::MoveTo(TPointF p)
{
    state_.position = p;
    if (recordingPath_) {
        path_.MoveTo(Map(p));
        figureOpen_ = true;
    }
}

void TMetafileDC::LineTo(TPointF p)
{
    PolylineTo(std::span(&p, 1));
}

void TMetafileDC::Polyline(std::span<const TPointF> points)
{
    if (points.size() < 2)
        return;
    TMetafilePath path;
    path.MoveTo(Map(points[0]));
    for (size_t i = 1; i < points.size(); ++i)
        path.LineTo(Map(points[i]));
    Emit(path, false, true);
}

void TMetafileDC::PolylineTo(std::span<const TPointF> points)
{
    if (points.empty())
        return;
    if (recordingPath_) {
        if (!figureOpen_)
            path_.MoveTo(Map(state_.position));
        for (const TPointF& p : points)
            path_.LineTo(Map(p));
        figureOpen_ = true;
    } else {
        TMetafilePath path;
        path.MoveTo(Map(state_.position));
        for (const TPointF& p : points)
            path.LineTo(Map(p));
        Emit(path, false, true);
    }
    state_.position = points.back();
}

void TMetafileDC::PolyBezier(std::span<const TPointF> points)
{
    if (points.size() < 4)
        return;
    TMetafilePath path;
    path.MoveTo(Map(points[0]));
    for (size_t i = 1; i + 2 < points.size(); i += 3)
        path.CubicTo(Map(points[i]), Map(points[i + 1]), Map(points[i + 2]));
    Emit(path, false, true);
}

void TMetafileDC::PolyBezierTo(std::span<const TPointF> points)
{
    if (points.size() < 3)
        return;
    TMetafilePath local;
    TMetafilePath& path = recordingPath_ ? path_ : local;
    if (!recordingPath_ || !figureOpen_)
        path.MoveTo(Map(state_.position));
    size_t i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.CubicTo(Map(points[i]), Map(points[i + 1]), Map(points[i + 2]));
    state_.position = points[i - 1];
    if (recordingPath_)
        figureOpen_ = true;
    else
        Emit(local, false, true);
}

void TMetafileDC::PolyDraw(std::span<const TPointF> points, std::span<const uint8_t> types)
{
    const size_t n = std::min(points.size(), types.size());
    TMetafilePath local;
    TMetafilePath& path = recordingPath_ ? path_ : local;
    bool open = recordingPath_ && figureOpen_;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t type = types[i] & ~1;
        if (type == 6) {
            path.MoveTo(Map(points[i]));
            open = true;
            state_.position = points[i];
        } else if (type == 2 || (type == 4 && i + 2 >= n)) {
            if (!open)
                path.MoveTo(Map(state_.position));
            path.LineTo(Map(points[i]));
            open = true;
            state_.position = points[i];
        } else if (type == 4) {
            if (!open)
                path.MoveTo(Map(state_.position));
            path.CubicTo(Map(points[i]), Map(points[i + 1]), Map(points[i + 2]));
            open = true;
            i += 2;
            state_.position = points[i];
        } else {
            continue;
        }
        if (types[i] & 1) {
            path.Close();
            open = false;
        }
    }
    if (recordingPath_)
        figureOpen_ = open;
    else
        Emit(local, false, true);
}

void TMetafileDC::PolyPolyline(std::span<const TPointF> points, std::span<const uint32_t> counts)
{
    TMetafilePath path;
    size_t k = 0;
    for (uint32_t count : counts) {
        if (count > points.size() - k)
            break;
        if (count >= 2) {
            path.MoveTo(Map(points[k]));
            for (size_t i = 1; i < count; ++i)
                path.LineTo(Map(points[k + i]));
        }
        k += count;
    }
    Emit(path, false, true);
}

void TMetafileDC::PolyPolygon(std::span<const TPointF> points, std::span<const uint32_t> counts)
{
    TMetafilePath path;
    size_t k = 0;
    for (uint32_t count : counts) {
        if (count > points.size() - k)
            break;
        if (count >= 2) {
            path.MoveTo(Map(points[k]));
            for (size_t i = 1; i < count; ++i)
                path.LineTo(Map(points[k + i]));
            path.Close();
        }
        k += count;
    }
    Emit(path, true, true);
}

void TMetafileDC::Rectangle(double left, double top, double right, double bottom)
{
    Emit(RectPath(left, top, right, bottom), true, true);
}

void TMetafileDC::AddArc(TMetafilePath& path, TPointF c, double rx, double ry, double from, double sweep, bool moveTo)
{
    auto at = [&](double t) { return TPointF{c.x + rx * std::cos(t), c.y - ry * std::sin(t)}; };
    auto tangent = [&](double t) { return TPointF{-rx * std::sin(t), -ry * std::cos(t)}; };
    if (moveTo)
        path.MoveTo(Map(at(from)));
    else
        path.LineTo(Map(at(from)));
    const int segments = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)));
    const double step = sweep / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    for (int i = 0; i < segments; ++i) {
        const double t0 = from + step * i;
        const double t1 = t0 + step;
        const TPointF p0 = at(t0);
        const TPointF p1 = at(t1);
        const TPointF d0 = tangent(t0);
        const TPointF d1 = tangent(t1);
        path.CubicTo(Map({p0.x + k * d0.x, p0.y + k * d0.y}), Map({p1.x - k * d1.x, p1.y - k * d1.y}), Map(p1));
    }
}

void TMetafileDC::RoundRect(double left, double top, double right, double bottom, double cornerWidth,
                            double cornerHeight)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    const double rx = std::min(std::fabs(cornerWidth) / 2, (right - left) / 2);
    const double ry = std::min(std::fabs(cornerHeight) / 2, (bottom - top) / 2);
    if (rx <= 0 || ry <= 0) {
        Rectangle(left, top, right, bottom);
        return;
    }
    TMetafilePath path;
    path.MoveTo(Map({left + rx, top}));
    AddArc(path, {right - rx, top + ry}, rx, ry, kPi / 2, -kPi / 2, false);
    AddArc(path, {right - rx, bottom - ry}, rx, ry, 0, -kPi / 2, false);
    AddArc(path, {left + rx, bottom - ry}, rx, ry, -kPi / 2, -kPi / 2, false);
    AddArc(path, {left + rx, top + ry}, rx, ry, kPi, -kPi / 2, false);
    path.Close();
    Emit(path, true, true);
}

void TMetafileDC::Ellipse(double left, double top, double right, double bottom)
{
    const double rx = std::fabs(right - left) / 2;
    const double ry = std::fabs(bottom - top) / 2;
    if (rx == 0 && ry == 0)
        return;
    TMetafilePath path;
    AddArc(path, {(left + right) / 2, (top + bottom) / 2}, rx, ry, 0, 2 * kPi, true);
    path.Close();
    Emit(path, true, true);
}

void TMetafileDC::ArcShape(TArcKind kind, double left, double top, double right, double bottom, TPointF start,
                           TPointF end)
{
    const double rx = std::fabs(right - left) / 2;
    const double ry = std::fabs(bottom - top) / 2;
    if (rx == 0 || ry == 0)
        return;
    const TPointF c{(left + right) / 2, (top + bottom) / 2};
    const double a0 = std::atan2(-(start.y - c.y) / ry, (start.x - c.x) / rx);
    const double a1 = std::atan2(-(end.y - c.y) / ry, (end.x - c.x) / rx);
    // Counterclockwise as seen on the target: a mapping that mirrors turns the logical direction.
    const bool clockwise = state_.clockwise != (Transform().Determinant() < 0);
    double sweep = clockwise ? a0 - a1 : a1 - a0;
    sweep = std::fmod(sweep, 2 * kPi);
    if (sweep <= 1e-12)
        sweep += 2 * kPi;  // equal rays: the whole ellipse
    if (clockwise)
        sweep = -sweep;

    TMetafilePath path;
    if (kind == TArcKind::Pie) {
        path.MoveTo(Map(c));
        AddArc(path, c, rx, ry, a0, sweep, false);
    } else {
        AddArc(path, c, rx, ry, a0, sweep, true);
    }
    if (kind != TArcKind::Arc)
        path.Close();
    Emit(path, kind != TArcKind::Arc, true);
}

void TMetafileDC::ArcTo(double left, double top, double right, double bottom, TPointF start, TPointF end)
{
    const double rx = std::fabs(right - left) / 2;
    const double ry = std::fabs(bottom - top) / 2;
    if (rx == 0 || ry == 0)
        return;
    const TPointF c{(left + right) / 2, (top + bottom) / 2};
    const double a0 = std::atan2(-(start.y - c.y) / ry, (start.x - c.x) / rx);
    const double a1 = std::atan2(-(end.y - c.y) / ry, (end.x - c.x) / rx);
    const bool clockwise = state_.clockwise != (Transform().Determinant() < 0);
    double sweep = std::fmod(clockwise ? a0 - a1 : a1 - a0, 2 * kPi);
    if (sweep <= 1e-12)
        sweep += 2 * kPi;
    if (clockwise)
        sweep = -sweep;
    TMetafilePath local;
    TMetafilePath& path = recordingPath_ ? path_ : local;
    if (!recordingPath_ || !figureOpen_)
        path.MoveTo(Map(state_.position));
    AddArc(path, c, rx, ry, a0, sweep, false);
    const double a = a0 + sweep;
    state_.position = {c.x + rx * std::cos(a), c.y - ry * std::sin(a)};
    if (recordingPath_)
        figureOpen_ = true;
    else
        Emit(local, false, true);
}

void TMetafileDC::AngleArc(TPointF center, double radius, double startDegrees, double sweepDegrees)
{
    if (!std::isfinite(startDegrees) || !std::isfinite(sweepDegrees) || radius <= 0)
        return;
    sweepDegrees = std::clamp(sweepDegrees, -3600.0, 3600.0);
    const double from = std::fmod(startDegrees, 360) * kPi / 180;
    const double sweep = sweepDegrees * kPi / 180;
    TMetafilePath local;
    TMetafilePath& path = recordingPath_ ? path_ : local;
    if (!recordingPath_ || !figureOpen_)
        path.MoveTo(Map(state_.position));
    AddArc(path, center, radius, radius, from, sweep, false);
    state_.position = {center.x + radius * std::cos(from + sweep), center.y - radius * std::sin(from + sweep)};
    if (recordingPath_)
        figureOpen_ = true;
    else
        Emit(local, false, true);
}

void TMetafileDC::BeginPath()
{
    path_.Clear();
    recordingPath_ = true;
    figureOpen_ = false;
}

void TMetafileDC::AbortPath()
{
    path_.Clear();
    recordingPath_ = false;
    figureOpen_ = false;
}

void TMetafileDC::CloseFigure()
{
    if (recordingPath_) {
        path_.Close();
        figureOpen_ = false;
    }
}

void TMetafileDC::FinishPath(bool fill, bool stroke)
{
    recordingPath_ = false;
    figureOpen_ = false;
    TMetafilePath path = std::move(path_);
    path_.Clear();
    Emit(path, fill, stroke);
}

void TMetafileDC::TextOut(TPointF reference, const std::string& text)
{
    if (text.empty())
        return;
    const TPointF at = (state_.textAlign & 1) ? state_.position : reference;
    TPointF device = Map(at);
    device = {Sane(device.x), Sane(device.y)};
    canvas_.DrawText(DrawState(), device, text);
}

void TMetafileDC::FillOpaqueRect(double left, double top, double right, double bottom)
{
    TMetafileDrawState s = DrawState();
    s.brush = TMetafileBrush{TMetafileBrushStyle::Solid, state_.backgroundColor, {}, {}};
    canvas_.DrawPath(s, RectPath(left, top, right, bottom), true, false);
}

void TMetafileDC::PatBlt(double left, double top, double width, double height, uint32_t rop)
{
    TMetafileDrawState s = DrawState();
    switch (rop) {
    case 0x00F00021:  // PATCOPY
    case 0x005A0049:  // PATINVERT: shown as a plain paint
        if (state_.brush.style == TMetafileBrushStyle::Null)
            return;
        break;
    case 0x00000042: s.brush = {TMetafileBrushStyle::Solid, {0, 0, 0}, {}, {}}; break;
    case 0x00FF0062: s.brush = {TMetafileBrushStyle::Solid, {255, 255, 255}, {}, {}}; break;
    default: return;
    }
    canvas_.DrawPath(s, RectPath(left, top, left + width, top + height), true, false);
}

void TMetafileDC::StretchBitmap(double x, double y, double width, double height, const TBitmap* bitmap,
                                const double (&source)[4], uint32_t rop)
{
    if (rop == 0x00F00021 || rop == 0x005A0049 || rop == 0x00000042 || rop == 0x00FF0062) {
        PatBlt(x, y, width, height, rop);
        return;
    }
    if (!bitmap) {
        // Only the area counts (finding a metafile's extent).
        canvas_.DrawPath(DrawState(), RectPath(x, y, x + width, y + height), true, false);
        return;
    }
    TMetafileBlend blend = TMetafileBlend::Copy;
    switch (rop) {
    case 0x008800C6: blend = TMetafileBlend::And; break;
    case 0x00EE0086: blend = TMetafileBlend::Or; break;
    case 0x00660046: blend = TMetafileBlend::Xor; break;
    default: break;
    }
    const TPointF corners[3] = {Map({x, y}), Map({x + width, y}), Map({x, y + height})};
    canvas_.DrawBitmap(DrawState(), corners, *bitmap, source, blend, 255);
}

void TMetafileDC::AlphaBlendBitmap(double x, double y, double width, double height, const TBitmap& bitmap,
                                   const double (&source)[4], uint8_t constantAlpha)
{
    const TPointF corners[3] = {Map({x, y}), Map({x + width, y}), Map({x, y + height})};
    canvas_.DrawBitmap(DrawState(), corners, bitmap, source, TMetafileBlend::AlphaBlend, constantAlpha);
}
