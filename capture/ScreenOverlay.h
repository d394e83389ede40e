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

// What the two capture overlays share: a borderless, stay-on-top window over the whole screen that shows
// a frozen copy of the screen and runs modally. It paints only from its canvas (the window's content in
// device pixels) and never erases its background. Its client coordinates are the screen's device
// pixels. Closing it from outside (the window manager's Alt+F4) ends the modal display with mrCancel;
// keys do nothing.
class ScreenOverlay : public QWidget {
    Q_OBJECT
public:
    // Sets the result of the modal display; anything but 0 ends it.
    void SetModalResult(int result);
    int ModalResult() const { return modalResult_; }
    // The frozen copy of the screen.
    const TBitmap& Snapshot() const { return snapshot_; }
    // What the window shows, in device pixels.
    const QImage& Canvas() const { return canvas_; }

protected:
    ScreenOverlay(ICapturePlatform& platform, QWidget* parent);

    // Shows the window modally until a result is set or it is closed, then hides it and makes sure the
    // windowing system has taken it off the screen. A failure of an event handler is raised here.
    int RunModal();
    // Sizes the snapshot to the screen and copies the screen into it (palette step included), releasing
    // the screen's device context on every path; the canvas starts as a copy of it.
    void TakeSnapshot();
    // Places the window at the screen's origin with the screen's size.
    void CoverScreen();
    // The device pixel under a mouse event's position.
    TPoint DevicePoint(const QMouseEvent& event) const;
    // Puts the snapshot's pixels back on the canvas inside the device rectangle.
    void RestoreFromSnapshot(const TRect& rect);
    // Paints the device rectangles from the canvas now.
    void RepaintDevice(const std::vector<TRect>& rects);
    // Runs an event handler: a failure ends the modal display and waits for RunModal, so that no
    // exception passes through Qt.
    void Guarded(const std::function<void()>& handler);

    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    ICapturePlatform& platform_;
    TBitmap snapshot_;
    QImage canvas_;

private:
    int modalResult_ = 0;
    QEventLoop* loop_ = nullptr;
    std::exception_ptr failure_;
};
