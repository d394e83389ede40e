#include "capture/SelectionBand.h"

#include <algorithm>
#include <cstdlib>

namespace {

// a / b rounded to the nearest integer, halves away from zero (b > 0).
int64_t DivRound(int64_t a, int64_t b)
{
    return a >= 0 ? (2 * a + b) / (2 * b) : -((-2 * a + b) / (2 * b));
}

TRect Inflate(const TRect& r, int d)
{
    return {r.Left - d, r.Top - d, r.Right + d, r.Bottom + d};
}

}  // namespace

void LineDDA(int x1, int y1, int x2, int y2, const std::function<void(int x, int y)>& proc)
{
    const int64_t dx = int64_t{x2} - x1;
    const int64_t dy = int64_t{y2} - y1;
    const int64_t steps = std::max(std::llabs(dx), std::llabs(dy));
    for (int64_t i = 0; i < steps; ++i)
        proc(static_cast<int>(x1 + DivRound(i * dx, steps)), static_cast<int>(y1 + DivRound(i * dy, steps)));
}

void TraceBand(TPoint anchor, TPoint moving, const std::function<void(int x, int y)>& proc)
{
    LineDDA(anchor.X, anchor.Y, moving.X, anchor.Y, proc);
    LineDDA(moving.X, anchor.Y, moving.X, moving.Y, proc);
    LineDDA(moving.X, moving.Y, anchor.X, moving.Y, proc);
    LineDDA(anchor.X, moving.Y, anchor.X, anchor.Y, proc);
}

uint8_t NextDashBits(uint8_t dashBits)
{
    const auto next = static_cast<uint8_t>(dashBits << 1);
    return next == 0 ? 1 : next;
}

TColor DashColor(uint8_t dashBits)
{
    return (dashBits & 0xE0) != 0 ? clRed : clWhite;
}

uint8_t NextDashPhase(uint8_t dashPhase)
{
    const auto next = static_cast<uint8_t>(dashPhase >> 2);
    return next == 0 ? 0x80 : next;
}

TRect OrderedRect(TPoint a, TPoint b)
{
    return {std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
}

std::vector<TRect> BandOutline(TPoint anchor, TPoint moving)
{
    if (anchor == moving)
        return {};
    const TRect r = OrderedRect(anchor, moving);
    // A band without height is a single row; one without width a single column.
    if (r.Top == r.Bottom)
        return {{r.Left, r.Top, r.Right + 1, r.Top + 1}};
    if (r.Left == r.Right)
        return {{r.Left, r.Top, r.Left + 1, r.Bottom + 1}};
    return {{r.Left, r.Top, r.Right + 1, r.Top + 1},
            {r.Left, r.Bottom, r.Right + 1, r.Bottom + 1},
            {r.Left, r.Top + 1, r.Left + 1, r.Bottom},
            {r.Right, r.Top + 1, r.Right + 1, r.Bottom}};
}

std::vector<TRect> BandRing(TPoint anchor, TPoint moving)
{
    const TRect outer = Inflate(OrderedRect(anchor, moving), 1);
    const TRect inner = Inflate(outer, -2);
    if (inner.Left >= inner.Right || inner.Top >= inner.Bottom)
        return {outer};
    return {{outer.Left, outer.Top, outer.Right, inner.Top},
            {outer.Left, inner.Bottom, outer.Right, outer.Bottom},
            {outer.Left, inner.Top, inner.Left, inner.Bottom},
            {inner.Right, inner.Top, outer.Right, inner.Bottom}};
}
