#include "tools/kavrel-cli/QtParts.h"

#include "app/display/ImageConversion.h"
#include "app/display/MetafileRendering.h"
#include "app/display/OffscreenGui.h"
#include "framework/Metafile.h"
#include "tools/kavrel-cli/Cli.h"

void InstallQtMetafileRenderer()
{
    SetCliMetafileRenderer([](const TMetafile& metafile) {
        EnsureOffscreenGuiApplication();
        return QImageToBitmap(RenderMetafile(metafile));
    });
}
