#include "capture/DesktopLayout.h"

#include <algorithm>
#include <cmath>

DesktopLayout::DesktopLayout(std::vector<TMonitor> outputs) : monitors_(std::move(outputs))
{
    double scale = 0;
    bool first = true;
    for (const TMonitor& m : monitors_) {
        if (first) {
            bounds_ = m.logical;
            first = false;
        } else {
            bounds_ = {std::min(bounds_.Left, m.logical.Left), std::min(bounds_.Top, m.logical.Top),
                       std::max(bounds_.Right, m.logical.Right), std::max(bounds_.Bottom, m.logical.Bottom)};
        }
        scale = std::max(scale, m.scale);
    }
    if (scale <= 0)
        scale = 1;
    scaleX_ = scaleY_ = scale;
    picture_ = {static_cast<int>(std::lround(bounds_.Width() * scale)),
                static_cast<int>(std::lround(bounds_.Height() * scale))};
    MapMonitors();
}

void DesktopLayout::SetPictureSize(TPoint size)
{
    picture_ = size;
    if (monitors_.empty()) {
        monitors_.push_back({"", {0, 0, size.X, size.Y}, 1, {}});
        bounds_ = monitors_.front().logical;
    }
    scaleX_ = bounds_.Width() > 0 ? static_cast<double>(size.X) / bounds_.Width() : 1;
    scaleY_ = bounds_.Height() > 0 ? static_cast<double>(size.Y) / bounds_.Height() : 1;
    MapMonitors();
}

void DesktopLayout::MapMonitors()
{
    for (TMonitor& m : monitors_)
        m.device = DeviceRect(m.logical);
}

TLogicalPoint DesktopLayout::LogicalPoint(TPoint device) const
{
    return {(device.X + 0.5) / scaleX_ + bounds_.Left, (device.Y + 0.5) / scaleY_ + bounds_.Top};
}

TRect DesktopLayout::DeviceRect(const TRect& logical) const
{
    const auto x = [this](int v) { return static_cast<int>(std::lround((v - bounds_.Left) * scaleX_)); };
    const auto y = [this](int v) { return static_cast<int>(std::lround((v - bounds_.Top) * scaleY_)); };
    return {x(logical.Left), y(logical.Top), x(logical.Right), y(logical.Bottom)};
}
