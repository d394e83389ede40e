#pragma once

#include "framework/Picture.h"

#include <QImage>
#include <QWidget>

// The picture control: holds a picture and shows it unscaled at its top-left corner (or stretched to
// the whole control). Outside the picture it paints nothing, so the parent's background shows. The
// picture is turned into a Qt image once, whenever it changes, never while painting.
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

    // What is painted, for tests and for callers that need the displayed pixels.
    const QImage& DisplayImage() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PictureChanged();

    TPicture picture_;
    QImage image_;
    bool stretch_ = false;
};
