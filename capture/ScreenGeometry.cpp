#include "capture/ScreenGeometry.h"

#include <cmath>

namespace {

int RoundToInt(double v)
{
    return static_cast<int>(std::lround(v));
}

}  // namespace

TPoint DevicePointFromLogical(double x, double y, double ratio)
{
    return {RoundToInt(x * ratio), RoundToInt(y * ratio)};
}

TPoint DevicePointOfEvent(double x, double y, double ratio, TPoint pointer)
{
    const TPoint coarse = DevicePointFromLogical(x, y, ratio);
    const double half = ratio / 2;
    if (std::abs(pointer.X - x * ratio) <= half && std::abs(pointer.Y - y * ratio) <= half)
        return pointer;
    return coarse;
}

TRect DeviceRectFromLogical(const TRect& logical, double ratio)
{
    return {RoundToInt(logical.Left * ratio), RoundToInt(logical.Top * ratio), RoundToInt(logical.Right * ratio),
            RoundToInt(logical.Bottom * ratio)};
}

TRect LogicalRectFromDevice(const TRect& device, double ratio)
{
    if (ratio <= 0)
        return device;
    // A tiny tolerance keeps exact multiples exact despite the division's rounding.
    constexpr double kEpsilon = 1e-9;
    return {static_cast<int>(std::floor(device.Left / ratio + kEpsilon)),
            static_cast<int>(std::floor(device.Top / ratio + kEpsilon)),
            static_cast<int>(std::ceil(device.Right / ratio - kEpsilon)),
            static_cast<int>(std::ceil(device.Bottom / ratio - kEpsilon))};
}
