#include "capture/DevicePixelTarget.h"

#include "framework/PixelConversion.h"

#include <cstring>
#include <memory>
#include <vector>

DevicePixelTarget::DevicePixelTarget(TBitmap& dest)
    : dest_(dest), direct_(dest.PixelFormat() == pfDevice || dest.PixelFormat() == pf32bit)
{
    if (!direct_)
        scratch_.SetSize(dest.Width(), dest.Height());
}

void DevicePixelTarget::Clear()
{
    TBitmap& pixels = Pixels();
    for (int row = 0; row < pixels.Height(); ++row)
        std::memset(pixels.ScanLine(row), 0, static_cast<size_t>(pixels.RowBytes()));
}

void DevicePixelTarget::Finish()
{
    if (direct_)
        return;
    std::vector<uint8_t> bgra(static_cast<size_t>(dest_.Width()) * 4);
    std::unique_ptr<TColorMatcher> matcher;
    if (IsIndexed(dest_.PixelFormat()))
        matcher = std::make_unique<TColorMatcher>(dest_.ColorTable());
    for (int row = 0; row < dest_.Height(); ++row) {
        RowToBgra(scratch_, row, bgra.data());
        BgraToRow(bgra.data(), dest_.Width(), dest_.PixelFormat(), matcher.get(), dest_.ScanLine(row));
    }
}
