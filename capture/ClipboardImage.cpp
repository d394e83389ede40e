#include "capture/ClipboardImage.h"

#include "framework/BitmapFile.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"
#include "framework/Stream.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

const QString kBmp = QStringLiteral("image/bmp");
const QString kPng = QStringLiteral("image/png");
const QString kQtImage = QStringLiteral("application/x-qt-image");

}  // namespace

QImage ImageFromBitmap(const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return QImage();
    const bool alpha = bitmap.PixelFormat() == pf32bit;
    QImage image(bitmap.Width(), bitmap.Height(), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        throw EOutOfResources("Out of memory for a " + std::to_string(bitmap.Width()) + "x" +
                              std::to_string(bitmap.Height()) + " image");
    // RowToBgra writes blue, green, red, alpha: the byte order of 0xAARRGGBB on this little-endian host.
    for (int y = 0; y < bitmap.Height(); ++y)
        RowToBgra(bitmap, y, image.scanLine(y));
    return image;
}

QByteArray OpaqueBitmapFile(const TBitmap& bitmap)
{
    TBitmap opaque(bitmap);
    if (opaque.PixelFormat() == pfDevice || opaque.PixelFormat() == pf32bit)
        opaque.SetPixelFormat(pf24bit);
    TMemoryStream stream;
    WriteWindowsBitmap(stream, opaque);
    return QByteArray(
        reinterpret_cast<const char*>(stream.Bytes().data()), static_cast<qsizetype>(stream.Bytes().size()));
}

CaptureMimeData::CaptureMimeData(const TBitmap& bitmap) : bitmap_(bitmap) {}

QStringList CaptureMimeData::formats() const
{
    return {kBmp, kPng, kQtImage};
}

bool CaptureMimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == kBmp || mimeType == kPng || mimeType == kQtImage;
}

const QImage& CaptureMimeData::Image() const
{
    if (image_.isNull() && !bitmap_.Empty()) {
        image_ = ImageFromBitmap(bitmap_);
        encoded_.append(kQtImage);
    }
    return image_;
}

QVariant CaptureMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType == kQtImage)
        return Image();
    if (mimeType == kBmp) {
        if (bmp_.isEmpty() && !bitmap_.Empty()) {
            bmp_ = OpaqueBitmapFile(bitmap_);
            encoded_.append(kBmp);
        }
        return bmp_;
    }
    if (mimeType == kPng) {
        if (png_.isEmpty() && !Image().isNull()) {
            QBuffer buffer(&png_);
            buffer.open(QIODevice::WriteOnly);
            Image().save(&buffer, "PNG");
            encoded_.append(kPng);
        }
        return png_;
    }
    return QMimeData::retrieveData(mimeType, type);
}

void PutImageOnClipboard(const TBitmap& bitmap)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw Exception("The clipboard needs a running application");
    QGuiApplication::clipboard()->setMimeData(new CaptureMimeData(bitmap));
}

bool ClipboardManagerRunning()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return false;
    xcb_connection_t* connection = x11->connection();
    static const char kName[] = "CLIPBOARD_MANAGER";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr);
    if (!atom)
        return false;
    bool running = false;
    if (atom->atom != XCB_ATOM_NONE) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
        running = owner && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
    }
    std::free(atom);
    return running;
}
