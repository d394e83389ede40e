#include "app/ImageZoom.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array kSteps = { 0.25, 1.0 / 3.0, 0.5, 2.0 / 3.0, 1.0, 1.5, 2.0, 3.0, 4.0, 6.0, 8.0, 12.0, 16.0 };
// Scales closer than this are the same step (a third is not exact in binary).
constexpr double kSameStep = 1e-6;

} // namespace

double StepZoom(double scale, int steps)
{
    for (; steps > 0; --steps) {
        const auto next
            = std::find_if(kSteps.begin(), kSteps.end(), [scale](double s) { return s > scale + kSameStep; });
        if (next != kSteps.end())
            scale = *next;
    }
    for (; steps < 0; ++steps) {
        const auto next
            = std::find_if(kSteps.rbegin(), kSteps.rend(), [scale](double s) { return s < scale - kSameStep; });
        if (next != kSteps.rend())
            scale = *next;
    }
    return scale;
}

double FitZoom(const QSize& picture, const QSize& area)
{
    if (picture.isEmpty() || area.isEmpty())
        return 1.0;
    const double scale = std::min(double(area.width()) / picture.width(), double(area.height()) / picture.height());
    return std::min(scale, kMaxZoom);
}

QSize ZoomedSize(const QSize& picture, double scale)
{
    auto extent = [scale](int pixels) { return pixels <= 0 ? 0 : std::max(1, int(std::lround(pixels * scale))); };
    return QSize(extent(picture.width()), extent(picture.height()));
}

QPoint AnchoredScroll(const QPoint& scroll, const QPointF& anchor, double from, double to)
{
    auto axis = [from, to](int position, double at) {
        const double picturePoint = (position + at) / from;
        return int(std::lround(picturePoint * to - at));
    };
    return QPoint(axis(scroll.x(), anchor.x()), axis(scroll.y(), anchor.y()));
}

QRect SourceRect(const QRect& target, double scale, const QSize& picture, int margin)
{
    if (target.isEmpty() || scale <= 0)
        return {};
    const int left = int(std::floor(target.left() / scale)) - margin;
    const int top = int(std::floor(target.top() / scale)) - margin;
    const int right = int(std::ceil((target.right() + 1) / scale)) + margin; // exclusive
    const int bottom = int(std::ceil((target.bottom() + 1) / scale)) + margin;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & QRect(QPoint(0, 0), picture);
}

int ZoomPercent(double scale)
{
    return int(std::lround(scale * 100));
}
