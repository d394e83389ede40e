#include "capture/ScreenOverlay.h"

#include "capture/CaptureOverlays.h"
#include "capture/ClipboardImage.h"
#include "capture/ScreenGeometry.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

TRect Intersect(const TRect& a, const TRect& b)
{
    return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

bool Empty(const TRect& r)
{
    return r.Left >= r.Right || r.Top >= r.Bottom;
}

constexpr Qt::WindowFlags kOverlayFlags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

void MakeOverlayWindow(QWidget& widget)
{
    // The erase-background step draws nothing: only the canvas is ever painted.
    widget.setAttribute(Qt::WA_NoSystemBackground);
    widget.setAttribute(Qt::WA_OpaquePaintEvent);
    // Closing an overlay while the program's other windows are hidden must not end the program.
    widget.setAttribute(Qt::WA_QuitOnClose, false);
}

// The toolkit's screen that shows the monitor: the one at the same place, else the one of the same name.
QScreen* ScreenOf(const TMonitor& monitor)
{
    const QRect logical(monitor.logical.Left, monitor.logical.Top, monitor.logical.Width(), monitor.logical.Height());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->geometry() == logical)
            return screen;
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name().toStdString() == monitor.name)
            return screen;
    return nullptr;
}

}  // namespace

// A further window of an overlay, over one more monitor: paints from the overlay's canvas and hands its
// mouse events and its closing to the overlay.
class OverlaySurface : public QWidget {
public:
    explicit OverlaySurface(ScreenOverlay* owner) : QWidget(owner, kOverlayFlags), owner_(owner)
    {
        MakeOverlayWindow(*this);
        setWindowTitle(owner->windowTitle());
        setCursor(owner->cursor());
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (const ScreenOverlay::Surface* surface = owner_->SurfaceOf(this))
            owner_->PaintSurface(*surface, event);
    }
    void mousePressEvent(QMouseEvent* event) override { owner_->MouseEvent(this, event); }
    void mouseMoveEvent(QMouseEvent* event) override { owner_->MouseEvent(this, event); }
    void mouseReleaseEvent(QMouseEvent* event) override { owner_->MouseEvent(this, event); }
    void closeEvent(QCloseEvent* event) override { owner_->closeEvent(event); }

private:
    ScreenOverlay* owner_;
};

ScreenOverlay::ScreenOverlay(ICapturePlatform& platform, QWidget* parent)
    : QWidget(parent, kOverlayFlags), platform_(platform)
{
    MakeOverlayWindow(*this);
}

ScreenOverlay::~ScreenOverlay() = default;

std::vector<QWidget*> ScreenOverlay::Surfaces() const
{
    std::vector<QWidget*> widgets;
    for (const Surface& surface : surfaces_)
        widgets.push_back(surface.widget);
    return widgets;
}

void ScreenOverlay::TakeSnapshot()
{
    TPoint size = platform_.GetScreenSize();
    snapshot_.SetWidth(size.X);
    snapshot_.SetHeight(size.Y);
    DeviceContextLease dc(platform_, 0, platform_.GetDC(0));
    ApplySystemPalette(platform_, dc.Get(), snapshot_);
    platform_.BitBlt(snapshot_, dc.Get(), 0, 0);
    // A display that measures the screen by its picture (Wayland) may know its true size only now.
    if (const TPoint taken = platform_.GetScreenSize(); taken != size) {
        snapshot_.SetWidth(taken.X);
        snapshot_.SetHeight(taken.Y);
        platform_.BitBlt(snapshot_, dc.Get(), 0, 0);
    }
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
    for (const Surface& surface : surfaces_)
        if (surface.widget != this)
            delete surface.widget;
    surfaces_.clear();
    const std::vector<TMonitor> monitors = platform_.GetMonitors();
    perMonitor_ = !monitors.empty();
    if (!perMonitor_) {
        const TPoint size = platform_.GetScreenSize();
        const double ratio = devicePixelRatioF();
        const TRect logical = LogicalRectFromDevice({0, 0, size.X, size.Y}, ratio);
        setGeometry(logical.Left, logical.Top, logical.Width(), logical.Height());
        surfaces_.push_back({this, {0, 0, size.X, size.Y}, ratio});
        return;
    }
    for (const TMonitor& monitor : monitors) {
        QWidget* widget = surfaces_.empty() ? static_cast<QWidget*>(this) : new OverlaySurface(this);
        QScreen* screen = ScreenOf(monitor);
        if (screen)
            widget->setScreen(screen);
        const TRect& l = monitor.logical;
        widget->setGeometry(l.Left, l.Top, l.Width(), l.Height());
        const double scale = l.Width() > 0 ? static_cast<double>(monitor.device.Width()) / l.Width() : 1;
        surfaces_.push_back({widget, monitor.device, scale, screen != nullptr});
    }
}

const ScreenOverlay::Surface* ScreenOverlay::SurfaceOf(const QWidget* widget) const
{
    for (const Surface& surface : surfaces_)
        if (surface.widget == widget)
            return &surface;
    return nullptr;
}

TPoint ScreenOverlay::DevicePoint(const Surface& surface, const QMouseEvent& event) const
{
    const QPointF position = event.position();
    if (perMonitor_) {
        // Positions come in fractions of a logical pixel here: the pixel whose area holds the pointer.
        return {surface.device.Left + static_cast<int>(std::floor(position.x() * surface.scale)),
                surface.device.Top + static_cast<int>(std::floor(position.y() * surface.scale))};
    }
    const double ratio = surface.scale;
    if (ratio == 1)
        return {qRound(position.x()), qRound(position.y())};
    // The pointer in the window's device pixels; the window's origin lies on a whole logical pixel.
    const QPoint globalOrigin = mapToGlobal(QPoint(0, 0));
    const TPoint origin = DevicePointFromLogical(globalOrigin.x(), globalOrigin.y(), ratio);
    const TPoint screen = platform_.GetCursorPos();
    return DevicePointOfEvent(position.x(), position.y(), ratio, {screen.X - origin.X, screen.Y - origin.Y});
}

void ScreenOverlay::MouseEvent(const QWidget* widget, QMouseEvent* event)
{
    const Surface* surface = SurfaceOf(widget);
    if (!surface)
        return;
    Guarded([&] {
        const TPoint point = DevicePoint(*surface, *event);
        platform_.OverlayPointerMoved(point);
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            OverlayMouseDown(event->button(), point);
            break;
        case QEvent::MouseMove:
            OverlayMouseMove(event->buttons(), point);
            break;
        case QEvent::MouseButtonRelease:
            OverlayMouseUp(event->button(), point);
            break;
        default:
            break;
        }
    });
}

void ScreenOverlay::mousePressEvent(QMouseEvent* event)
{
    MouseEvent(this, event);
}

void ScreenOverlay::mouseMoveEvent(QMouseEvent* event)
{
    MouseEvent(this, event);
}

void ScreenOverlay::mouseReleaseEvent(QMouseEvent* event)
{
    MouseEvent(this, event);
}

void ScreenOverlay::RepaintDevice(const std::vector<TRect>& rects)
{
    for (const Surface& surface : surfaces_) {
        QRegion region;
        for (const TRect& rect : rects) {
            TRect part = Intersect(rect, surface.device);
            if (Empty(part))
                continue;
            part = {part.Left - surface.device.Left, part.Top - surface.device.Top, part.Right - surface.device.Left,
                    part.Bottom - surface.device.Top};
            const TRect logical = LogicalRectFromDevice(part, surface.scale);
            region += QRect(logical.Left, logical.Top, logical.Width(), logical.Height());
        }
        if (!region.isEmpty())
            surface.widget->repaint(region);
    }
}

void ScreenOverlay::PaintSurface(const Surface& surface, QPaintEvent* event)
{
    QPainter painter(surface.widget);
    const double ratio = surface.scale;
    const TRect canvas{0, 0, canvas_.width(), canvas_.height()};
    const int dx = surface.device.Left;
    const int dy = surface.device.Top;
    for (const QRect& rect : event->region()) {
        const TRect local = DeviceRectFromLogical({rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1}, ratio);
        const TRect wanted{local.Left + dx, local.Top + dy, local.Right + dx, local.Bottom + dy};
        const TRect shown = Intersect(wanted, canvas);
        // Beyond the screen's copy (a window larger than the screen) there is nothing to show.
        if (shown != wanted)
            painter.fillRect(rect, Qt::black);
        if (Empty(shown))
            continue;
        painter.drawImage(QRectF((shown.Left - dx) / ratio, (shown.Top - dy) / ratio, shown.Width() / ratio,
                                 shown.Height() / ratio),
                          canvas_, QRectF(shown.Left, shown.Top, shown.Width(), shown.Height()));
    }
}

void ScreenOverlay::paintEvent(QPaintEvent* event)
{
    if (const Surface* surface = SurfaceOf(this))
        PaintSurface(*surface, event);
}

bool ScreenOverlay::event(QEvent* event)
{
    // Every surface shows the overlay's cursor.
    if (event->type() == QEvent::CursorChange)
        for (const Surface& surface : surfaces_)
            if (surface.widget != this)
                surface.widget->setCursor(cursor());
    return QWidget::event(event);
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
    if (perMonitor_) {
        // A compositor puts a full-screen window exactly over its output, above everything else.
        for (const Surface& surface : surfaces_) {
            if (surface.fullScreen)
                surface.widget->showFullScreen();
            else
                surface.widget->show();
        }
    } else if (platform_.OverlaysFullScreen()) {
        showFullScreen();
        platform_.SpanAllMonitors(static_cast<HWND>(winId()));
    } else {
        show();
    }
    raise();
    activateWindow();
    QEventLoop loop;
    loop_ = &loop;
    if (modalResult_ == 0 && !failure_)
        loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    hide();
    for (const Surface& surface : surfaces_)
        surface.widget->hide();
    // The caller reads the screen next: the overlay has to be gone from it by then.
    QGuiApplication::sync();
    platform_.WaitForWindowChanges();
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
