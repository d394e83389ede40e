#pragma once

#include "framework/Bitmap.h"

#include <QImage>
#include <QMimeData>
#include <QStringList>

// A captured image on the clipboard: image/bmp (24 bits, written by the framework's own bitmap writer),
// image/png and Qt's image type. Each is made the first time a program asks for it, so a paste waits
// only for the encoder it needs, and never again.
class CaptureMimeData : public QMimeData {
public:
    explicit CaptureMimeData(const TBitmap& bitmap);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // The formats made so far, in the order they were made.
    QStringList EncodedFormats() const { return encoded_; }
    // The captured image.
    const TBitmap& Bitmap() const { return bitmap_; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    const QImage& Image() const;

    TBitmap bitmap_;
    mutable QImage image_;
    mutable QByteArray bmp_;
    mutable QByteArray png_;
    mutable QStringList encoded_;
};

// The bitmap as a Windows bitmap file of 24 bits: every reader takes these as opaque, while the unused
// fourth byte of the display format reads as zero alpha to some.
QByteArray OpaqueBitmapFile(const TBitmap& bitmap);

// The bitmap as a Qt image: Format_RGB32, or Format_ARGB32 for a pf32bit bitmap (its fourth byte is alpha).
QImage ImageFromBitmap(const TBitmap& bitmap);

// Replaces the system clipboard's content with a copy of the bitmap. Needs a Qt GUI application.
void PutImageOnClipboard(const TBitmap& bitmap);

// Whether a clipboard manager runs, which takes the clipboard's content over when the program ends.
bool ClipboardManagerRunning();
