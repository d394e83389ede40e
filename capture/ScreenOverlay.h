#pragma once

#include "capture/CapturePlatform.h"
#include "framework/Bitmap.h"

#include <QImage>
#include <QWidget>

#include <exception>
#include <functional>
#include <vector>

class QEventLoop;
class QMouseEvent;

// What the two capture overlays share: borderless, stay-on-top windows over the whole screen that show
// a frozen copy of the screen and run modally. On X11 the overlay is one window over the whole X
// screen, full-screen over every monitor where the window manager allows it; where the platform names
// monitors (Wayland, where a window lies on one output, or a window manager that makes a window
// full-screen on one monitor only), the overlay window covers the first monitor full-screen and a
// surface of its own covers each other one, every surface showing exactly its monitor's part of the
// copy. They paint only from the canvas (the copy in the desktop's device pixels) and never erase their
// background. Mouse events on any surface reach the overlay's handlers at the desktop's device pixel
// under the pointer. Closing a surface from outside (the window manager's Alt+F4) ends the modal
// display with mrCancel; keys do nothing.
class ScreenOverlay : public QWidget {
    Q_OBJECT
public:
    ~ScreenOverlay() override;

    // Sets the result of the modal display; anything but 0 ends it.
    void SetModalResult(int result);
    int ModalResult() const { return modalResult_; }
    // The frozen copy of the screen.
    const TBitmap& Snapshot() const { return snapshot_; }
    // What the surfaces show, in device pixels.
    const QImage& Canvas() const { return canvas_; }
    // The windows that show the copy, this one first.
    std::vector<QWidget*> Surfaces() const;

    // A surface's share of the desktop: its device rectangle, and the device pixels per logical pixel.
    struct Surface {
        QWidget* widget = nullptr;
        TRect device;
        double scale = 1;
        // Shown full-screen on the toolkit's screen of its monitor (found by place or name).
        bool fullScreen = false;
    };

protected:
    ScreenOverlay(ICapturePlatform& platform, QWidget* parent);

    // Shows the surfaces modally until a result is set or one is closed, then hides them and makes sure
    // the windowing system has taken them off the screen. A failure of an event handler is raised here.
    int RunModal();
    // Sizes the snapshot to the screen and copies the screen into it (palette step included), releasing
    // the screen's device context on every path; the canvas starts as a copy of it.
    void TakeSnapshot();
    // Places the surfaces over the screen: this window at the screen's origin with the screen's size, or
    // one surface per monitor.
    void CoverScreen();
    // Puts the snapshot's pixels back on the canvas inside the device rectangle.
    void RestoreFromSnapshot(const TRect& rect);
    // Paints the device rectangles from the canvas now, on every surface that shows them.
    void RepaintDevice(const std::vector<TRect>& rects);
    // Runs an event handler: a failure ends the modal display and waits for RunModal, so that no
    // exception passes through Qt.
    void Guarded(const std::function<void()>& handler);

    // Mouse events of every surface, at the desktop's device pixel under the pointer.
    virtual void OverlayMouseDown(Qt::MouseButton button, TPoint point) {}
    virtual void OverlayMouseMove(Qt::MouseButtons buttons, TPoint point) {}
    virtual void OverlayMouseUp(Qt::MouseButton button, TPoint point) {}

    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

    ICapturePlatform& platform_;
    TBitmap snapshot_;
    QImage canvas_;

private:
    friend class OverlaySurface;
    const Surface* SurfaceOf(const QWidget* widget) const;
    TPoint DevicePoint(const Surface& surface, const QMouseEvent& event) const;
    void PaintSurface(const Surface& surface, QPaintEvent* event);
    void MouseEvent(const QWidget* widget, QMouseEvent* event);

    std::vector<Surface> surfaces_;
    bool perMonitor_ = false;
    int modalResult_ = 0;
    QEventLoop* loop_ = nullptr;
    std::exception_ptr failure_;
};
