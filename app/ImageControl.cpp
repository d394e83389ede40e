#include "app/ImageControl.h"

#include "app/ImageZoom.h"
#include "app/OpenTiming.h"
#include "app/display/GraphicImage.h"

#include <QPaintEvent>
#include <QPainter>

TImage::TImage(QWidget* parent)
    : QWidget(parent)
{ }

void TImage::AssignGraphic(const TGraphic* graphic)
{
    picture_.SetGraphic(graphic);
    PictureChanged();
}

void TImage::LoadFromFile(const std::string& fileName)
{
    picture_.LoadFromFile(fileName);
    OpenTiming::Read();
    PictureChanged();
    OpenTiming::Converted();
}

void TImage::SetStretch(bool stretch)
{
    if (stretch_ == stretch)
        return;
    stretch_ = stretch;
    update();
}

void TImage::SetZoom(double scale)
{
    if (zoom_ == scale)
        return;
    zoom_ = scale;
    reduced_ = QImage();
    update();
}

void TImage::PictureChanged()
{
    // Drop the old image first: a failed conversion must not leave a stale picture on screen.
    image_ = QImage();
    reduced_ = QImage();
    if (const TGraphic* graphic = picture_.Graphic())
        image_ = GraphicToImage(*graphic);
    update();
}

void TImage::paintEvent(QPaintEvent* event)
{
    if (image_.isNull())
        return;
    struct PaintedMark {
        ~PaintedMark() { OpenTiming::Painted(); }
    } painted; // once the painter below has finished
    QPainter painter(this);
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), image_);
        return;
    }
    if (zoom_ != 1.0) {
        PaintZoomed(painter, event->rect());
        return;
    }
    const QRect exposed = event->rect() & image_.rect();
    if (!exposed.isEmpty())
        painter.drawImage(exposed.topLeft(), image_, exposed);
}

void TImage::PaintZoomed(QPainter& painter, const QRect& exposed)
{
    const QSize zoomed = ZoomedSize(image_.size(), zoom_);
    const QRect area = exposed & QRect(QPoint(0, 0), zoomed);
    if (area.isEmpty())
        return;
    if (zoom_ < 1.0) {
        if (reduced_.size() != zoomed)
            reduced_ = image_.scaled(zoomed, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(area.topLeft(), reduced_, area);
        return;
    }
    // Only the picture pixels under the exposed area are scaled, whatever the zoom; smoothing reads
    // one pixel beyond them so that neighbouring paints join without a seam.
    const bool sharp = ZoomIsSharp(zoom_);
    const QRect source = SourceRect(area, zoom_, image_.size(), sharp ? 0 : 1);
    if (source.isEmpty())
        return;
    const QRectF target(source.x() * zoom_, source.y() * zoom_, source.width() * zoom_, source.height() * zoom_);
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !sharp);
    painter.drawImage(target, image_, QRectF(source));
}
