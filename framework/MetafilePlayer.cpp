#include "framework/MetafilePlayer.h"

#include "framework/Metafile.h"
#include "framework/MetafileBounds.h"
#include "framework/MetafileDeviceContext.h"

#include <algorithm>
#include <span>

namespace {

// Windows metafiles: `followWindow` lets the records' window replace the given one.
void Play(const TMetafile& metafile, TMetafileCanvas& canvas, const double (&area)[4], double width, double height,
          bool followWindow, bool geometryOnly)
{
    const std::span<const uint8_t> data(metafile.Data());
    TMetafileDC dc(canvas, geometryOnly);
    if (!metafile.Enhanced()) {
        // The window shows the area; the viewport is the target.
        dc.SetMapMode(static_cast<int>(TMapMode::Anisotropic));
        dc.SetWindowOrg({area[0], area[1]});
        dc.SetWindowExt(area[2], area[3]);
        dc.SetViewportExt(width, height);
        PlayWindowsMetafileRecords(data.subspan(metafile.RecordsStart()), dc, followWindow);
        return;
    }
    // The area, in reference device pixels, fills the target.
    dc.SetDeviceResolution(metafile.DevicePixelsPerMmX(), metafile.DevicePixelsPerMmY());
    const double sx = width / area[2];
    const double sy = height / area[3];
    dc.SetOutput({sx, 0, 0, sy, -area[0] * sx, -area[1] * sy});
    PlayEnhancedMetafileRecords(data, dc);
}

}  // namespace

void PlayMetafile(const TMetafile& metafile, TMetafileCanvas& canvas, double width, double height)
{
    const double frame[4] = {metafile.FrameLeft(), metafile.FrameTop(), metafile.FrameWidth(), metafile.FrameHeight()};
    Play(metafile, canvas, frame, width, height, true, false);
}

void PlayMetafileArea(const TMetafile& metafile, TMetafileCanvas& canvas, const double (&area)[4], double width,
                      double height)
{
    Play(metafile, canvas, area, width, height, false, false);
}

bool MeasureMetafile(const TMetafile& metafile, double (&extent)[4])
{
    TMetafileBoundsCanvas bounds;
    const double identity[4] = {0, 0, 1, 1};
    Play(metafile, bounds, identity, 1, 1, false, true);
    if (bounds.Empty())
        return false;
    extent[0] = bounds.Left();
    extent[1] = bounds.Top();
    extent[2] = std::max(1.0, bounds.Right() - bounds.Left());
    extent[3] = std::max(1.0, bounds.Bottom() - bounds.Top());
    return true;
}
