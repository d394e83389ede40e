#include "capture/CursorTable.h"

#include "framework/Exception.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <string>

#include "capture/resources/CURSOR_1.xpm"

namespace {

Qt::CursorShape StandardShape(TCursor id)
{
    switch (id) {
    case crNone:
        return Qt::BlankCursor;
    case crCross:
        return Qt::CrossCursor;
    case crIBeam:
        return Qt::IBeamCursor;
    case crSizeNESW:
        return Qt::SizeBDiagCursor;
    case crSizeNS:
        return Qt::SizeVerCursor;
    case crSizeNWSE:
        return Qt::SizeFDiagCursor;
    case crSizeWE:
        return Qt::SizeHorCursor;
    case crUpArrow:
        return Qt::UpArrowCursor;
    case crHourGlass:
        return Qt::WaitCursor;
    case crDrag:
    case crMultiDrag:
        return Qt::DragCopyCursor;
    case crNoDrop:
    case crNo:
        return Qt::ForbiddenCursor;
    case crHSplit:
        return Qt::SplitHCursor;
    case crVSplit:
        return Qt::SplitVCursor;
    case crSQLWait:
    case crAppStart:
        return Qt::BusyCursor;
    case crHelp:
        return Qt::WhatsThisCursor;
    case crHandPoint:
        return Qt::PointingHandCursor;
    case crSizeAll:
        return Qt::SizeAllCursor;
    default:
        return Qt::ArrowCursor;
    }
}

// A monochrome cursor from an image of black, white and transparent pixels.
QCursor MonochromeCursor(const QImage& art, int hotX, int hotY)
{
    const QImage image = art.convertToFormat(QImage::Format_ARGB32);
    QImage black(image.size(), QImage::Format_Mono);
    QImage opaque(image.size(), QImage::Format_Mono);
    // Index 1 is black, which QBitmap turns into its set bits.
    for (QImage* plane : {&black, &opaque}) {
        plane->setColor(0, qRgb(255, 255, 255));
        plane->setColor(1, qRgb(0, 0, 0));
        plane->fill(0);
    }
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 128)
                continue;
            opaque.setPixel(x, y, 1);
            if (qGray(pixel) < 128)
                black.setPixel(x, y, 1);
        }
    }
    // Qt's Wayland platform shows only cursors made from a picture, not from a bitmap and a mask.
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        QImage picture(image.size(), QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                picture.setPixel(x, y, !opaque.pixelIndex(x, y) ? qRgba(0, 0, 0, 0)
                                       : black.pixelIndex(x, y) ? qRgb(0, 0, 0)
                                                                : qRgb(255, 255, 255));
        return QCursor(QPixmap::fromImage(picture), hotX, hotY);
    }
    return QCursor(QBitmap::fromImage(black), QBitmap::fromImage(opaque), hotX, hotY);
}

}  // namespace

CursorTable& CursorTable::Application()
{
    static CursorTable table;
    return table;
}

QCursor CursorTable::Cursor(TCursor id) const
{
    const auto it = installed_.find(id);
    return it != installed_.end() ? it->second : QCursor(StandardShape(id));
}

void CursorTable::SetCursor(TCursor id, const QCursor& cursor)
{
    installed_[id] = cursor;
    ForgetDestroyedControls();
    for (const Control& control : controls_)
        if (control.id == id)
            control.widget->setCursor(cursor);
    if (override_ == id && override_ != crDefault && qGuiApp)
        QGuiApplication::changeOverrideCursor(cursor);
}

void CursorTable::SetControlCursor(QWidget* control, TCursor id)
{
    ForgetDestroyedControls();
    const auto it = std::find_if(controls_.begin(), controls_.end(), [&](const Control& c) { return c.widget == control; });
    if (it != controls_.end())
        it->id = id;
    else
        controls_.push_back({control, id});
    control->setCursor(Cursor(id));
}

TCursor CursorTable::ControlCursor(const QWidget* control) const
{
    for (const Control& c : controls_)
        if (c.widget == control)
            return c.id;
    return crDefault;
}

void CursorTable::SetOverride(TCursor id)
{
    if (!qGuiApp || id == override_)
        return;
    if (id == crDefault)
        QGuiApplication::restoreOverrideCursor();
    else if (override_ == crDefault)
        QGuiApplication::setOverrideCursor(Cursor(id));
    else
        QGuiApplication::changeOverrideCursor(Cursor(id));
    override_ = id;
}

void CursorTable::ForgetDestroyedControls()
{
    std::erase_if(controls_, [](const Control& c) { return c.widget.isNull(); });
}

QCursor LoadCursor(std::string_view name)
{
    if (name != "CURSOR_1")
        throw Exception("The program has no cursor resource " + std::string(name));
    return MonochromeCursor(QImage(CURSOR_1), 0, 0);
}
