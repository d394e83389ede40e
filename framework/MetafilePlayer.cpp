#include "framework/MetafilePlayer.h"

#include "framework/Metafile.h"
#include "framework/MetafileDeviceContext.h"

#include <span>

void PlayMetafile(const TMetafile& metafile, TMetafileCanvas& canvas, double width, double height)
{
    const std::span<const uint8_t> data(metafile.Data());
    TMetafileDC dc(canvas, false);
    if (!metafile.Enhanced()) {
        // The window shows the metafile's frame; the viewport is the target.
        dc.SetMapMode(static_cast<int>(TMapMode::Anisotropic));
        dc.SetWindowOrg({metafile.FrameLeft(), metafile.FrameTop()});
        dc.SetWindowExt(metafile.FrameWidth(), metafile.FrameHeight());
        dc.SetViewportExt(width, height);
        PlayWindowsMetafileRecords(data.subspan(metafile.RecordsStart()), dc, true);
        return;
    }
    // The frame, in reference device pixels, fills the target.
    dc.SetDeviceResolution(metafile.DevicePixelsPerMmX(), metafile.DevicePixelsPerMmY());
    const double sx = width / metafile.FrameWidth();
    const double sy = height / metafile.FrameHeight();
    dc.SetOutput({sx, 0, 0, sy, -metafile.FrameLeft() * sx, -metafile.FrameTop() * sy});
    PlayEnhancedMetafileRecords(data, dc);
}
