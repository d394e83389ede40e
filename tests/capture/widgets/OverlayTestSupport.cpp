#include "OverlayTestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

QImage Shown(QWidget& widget)
{
    return widget.screen()->grabWindow(widget.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

bool ShowAndWait(QWidget& widget)
{
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

namespace {

void Send(QWidget& widget, QEvent::Type type, QPoint point, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(point), widget.mapToGlobal(QPointF(point)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

}  // namespace

void Press(QWidget& widget, QPoint point, Qt::MouseButton button, Qt::MouseButtons held)
{
    Send(widget, QEvent::MouseButtonPress, point, button, held);
}

void Move(QWidget& widget, QPoint point, Qt::MouseButtons held)
{
    Send(widget, QEvent::MouseMove, point, Qt::NoButton, held);
}

void Release(QWidget& widget, QPoint point, Qt::MouseButton button, Qt::MouseButtons held)
{
    Send(widget, QEvent::MouseButtonRelease, point, button, held);
}

PaintRecorder::PaintRecorder(QWidget& widget)
{
    widget.installEventFilter(this);
}

bool PaintRecorder::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::Paint)
        regions.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
}

QRegion RegionOf(const std::vector<TRect>& rects)
{
    QRegion region;
    for (const TRect& r : rects)
        region += QRect(r.Left, r.Top, r.Width(), r.Height());
    return region;
}

void WhenRunning(const std::function<void()>& action)
{
    QTimer::singleShot(0, action);
}
