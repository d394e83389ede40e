#pragma once

#include "framework/Picture.h"

#include <QImage>
#include <QWidget>

// The picture control: holds a picture and shows it at its top-left corner, unscaled or zoomed (or
// stretched to the whole control). Outside the picture it paints nothing, so the parent's background
// shows. The picture is turned into a Qt image once, whenever it changes, never while painting; a
// paint scales only the part of it that is exposed.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    const TPicture& Picture() const { return picture_; }
    // Stores a copy of the graphic; null empties the picture.
    void AssignGraphic(const TGraphic* graphic);
    // Loads through the format registry; a failure propagates and leaves the picture as it was.
    void LoadFromFile(const std::string& fileName);

    bool Stretch() const { return stretch_; }
    void SetStretch(bool stretch);

    // The scale the picture is drawn at when not stretched (1 = unscaled).
    double Zoom() const { return zoom_; }
    void SetZoom(double scale);

    // What is painted, for tests and for callers that need the displayed pixels.
    const QImage& DisplayImage() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PictureChanged();
    void PaintZoomed(QPainter& painter, const QRect& exposed);

    TPicture picture_;
    QImage image_;
    // The whole picture reduced to the zoom, made once per zoom below 100 %: reducing through an
    // area average looks better than sampling, and scrolling then only copies pixels.
    QImage reduced_;
    bool stretch_ = false;
    double zoom_ = 1.0;
};
