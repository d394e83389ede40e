#include "app/ImageControl.h"

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
    PictureChanged();
}

void TImage::SetStretch(bool stretch)
{
    if (stretch_ == stretch)
        return;
    stretch_ = stretch;
    update();
}

void TImage::PictureChanged()
{
    // Drop the old image first: a failed conversion must not leave a stale picture on screen.
    image_ = QImage();
    if (const TGraphic* graphic = picture_.Graphic())
        image_ = GraphicToImage(*graphic);
    update();
}

void TImage::paintEvent(QPaintEvent* event)
{
    if (image_.isNull())
        return;
    QPainter painter(this);
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), image_);
        return;
    }
    const QRect exposed = event->rect() & image_.rect();
    if (!exposed.isEmpty())
        painter.drawImage(exposed.topLeft(), image_, exposed);
}
