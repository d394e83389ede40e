#include "app/display/MetafileRendering.h"

#include "app/display/ImageConversion.h"
#include "app/display/PainterCanvas.h"
#include "framework/Bitmap.h"
#include "framework/Metafile.h"
#include "framework/MetafilePlayer.h"

#include <QPainter>

namespace {

template <class Play>
QImage Render(QSize size, QColor background, Play&& play)
{
    TBitmap::CheckSize(size.width(), size.height(), pf32bit);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    PainterCanvas canvas(painter);
    play(canvas);
    return image;
}

}  // namespace

QImage RenderMetafile(const TMetafile& metafile, QSize size, QColor background)
{
    if (size.isEmpty())
        size = QSize(metafile.Width(), metafile.Height());
    return Render(size, background,
                  [&](PainterCanvas& canvas) { PlayMetafile(metafile, canvas, size.width(), size.height()); });
}

QImage RenderMetafileArea(const TMetafile& metafile, const double (&area)[4], QSize size, QColor background)
{
    return Render(size, background, [&](PainterCanvas& canvas) {
        PlayMetafileArea(metafile, canvas, area, size.width(), size.height());
    });
}

void InstallMetafileRasterizer()
{
    TMetafile::SetRasterizer([](const TMetafile& metafile) { return QImageToBitmap(RenderMetafile(metafile)); });
}
