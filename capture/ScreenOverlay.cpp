#include "capture/ScreenOverlay.h"

#include "capture/ClipboardImage.h"
#include "capture/CaptureOverlays.h"
#include "capture/ScreenGeometry.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {

TRect Intersect(const TRect& a, const TRect& b)
{
    return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

bool Empty(const TRect& r)
{
    return r.Left >= r.Right || r.Top >= r.Bottom;
}

}  // namespace

ScreenOverlay::ScreenOverlay(ICapturePlatform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), platform_(platform)
{
    // The erase-background step draws nothing: only the canvas is ever painted.
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Closing an overlay while the program's other windows are hidden must not end the program.
    setAttribute(Qt::WA_QuitOnClose, false);
}

void ScreenOverlay::TakeSnapshot()
{
    const TPoint size = platform_.GetScreenSize();
    snapshot_.SetWidth(size.X);
    snapshot_.SetHeight(size.Y);
    DeviceContextLease dc(platform_, 0, platform_.GetDC(0));
    ApplySystemPalette(platform_, dc.Get(), snapshot_);
    platform_.BitBlt(snapshot_, dc.Get(), 0, 0);
    dc.Release();
    canvas_ = ImageFromBitmap(snapshot_);
}

void ScreenOverlay::RestoreFromSnapshot(const TRect& rect)
{
    const TRect part = Intersect(rect, {0, 0, std::min(canvas_.width(), snapshot_.Width()),
                                        std::min(canvas_.height(), snapshot_.Height())});
    if (Empty(part))
        return;
    // The snapshot is in the display's format, blue, green, red and an unused byte, which the canvas
    // holds as 0xFFRRGGBB.
    for (int y = part.Top; y < part.Bottom; ++y) {
        const uint8_t* source = snapshot_.ScanLine(y) + 4 * part.Left;
        auto* target = reinterpret_cast<QRgb*>(canvas_.scanLine(y)) + part.Left;
        for (int x = 0; x < part.Width(); ++x, source += 4)
            target[x] = qRgb(source[2], source[1], source[0]);
    }
}

void ScreenOverlay::CoverScreen()
{
    const TPoint size = platform_.GetScreenSize();
    const TRect logical = LogicalRectFromDevice({0, 0, size.X, size.Y}, devicePixelRatioF());
    setGeometry(logical.Left, logical.Top, logical.Width(), logical.Height());
}

TPoint ScreenOverlay::DevicePoint(const QMouseEvent& event) const
{
    const double ratio = devicePixelRatioF();
    const QPointF position = event.position();
    if (ratio == 1)
        return {qRound(position.x()), qRound(position.y())};
    // The pointer in the window's device pixels; the window's origin lies on a whole logical pixel.
    const TPoint origin = DevicePointFromLogical(mapToGlobal(QPoint(0, 0)).x(), mapToGlobal(QPoint(0, 0)).y(), ratio);
    const TPoint screen = platform_.GetCursorPos();
    return DevicePointOfEvent(position.x(), position.y(), ratio, {screen.X - origin.X, screen.Y - origin.Y});
}

void ScreenOverlay::RepaintDevice(const std::vector<TRect>& rects)
{
    const double ratio = devicePixelRatioF();
    QRegion region;
    for (const TRect& rect : rects) {
        const TRect logical = LogicalRectFromDevice(rect, ratio);
        region += QRect(logical.Left, logical.Top, logical.Width(), logical.Height());
    }
    if (!region.isEmpty())
        repaint(region);
}

void ScreenOverlay::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const double ratio = devicePixelRatioF();
    const TRect canvas{0, 0, canvas_.width(), canvas_.height()};
    for (const QRect& rect : event->region()) {
        const TRect wanted = DeviceRectFromLogical({rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1}, ratio);
        const TRect shown = Intersect(wanted, canvas);
        // Beyond the screen's copy (a window larger than the screen) there is nothing to show.
        if (shown != wanted)
            painter.fillRect(rect, Qt::black);
        if (Empty(shown))
            continue;
        painter.drawImage(QRectF(shown.Left / ratio, shown.Top / ratio, shown.Width() / ratio, shown.Height() / ratio),
                          canvas_, QRectF(shown.Left, shown.Top, shown.Width(), shown.Height()));
    }
}

void ScreenOverlay::SetModalResult(int result)
{
    modalResult_ = result;
    if (result != 0 && loop_)
        loop_->quit();
}

void ScreenOverlay::Guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        if (!failure_)
            failure_ = std::current_exception();
        if (loop_)
            loop_->quit();
    }
}

int ScreenOverlay::RunModal()
{
    modalResult_ = 0;
    failure_ = nullptr;
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    loop_ = &loop;
    if (modalResult_ == 0 && !failure_)
        loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    hide();
    // The caller reads the screen next: the overlay has to be gone from it by then.
    QGuiApplication::sync();
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
    return modalResult_;
}

void ScreenOverlay::closeEvent(QCloseEvent* event)
{
    if (loop_ && modalResult_ == 0)
        SetModalResult(mrCancel);
    event->accept();
}
