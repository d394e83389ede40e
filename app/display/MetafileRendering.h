#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

class TMetafile;

// Plays the metafile onto a new image of the given size (its own size when empty), filled first
// with the background. Needs a QGuiApplication (for fonts). Raises the framework's
// EOutOfResources for a size beyond the bitmap cap.
QImage RenderMetafile(const TMetafile& metafile, QSize size = QSize(), QColor background = Qt::white);

// Lets TMetafile convert enhanced metafiles to Windows metafiles (it renders them here).
void InstallMetafileRasterizer();

// Renders the given area of the metafile (in MeasureMetafile's units, see framework/MetafilePlayer.h)
// instead of its frame.
QImage RenderMetafileArea(const TMetafile& metafile, const double (&area)[4], QSize size,
                          QColor background = Qt::white);
