#pragma once

#include "capture/CapturePlatform.h"

#include <QEvent>
#include <QImage>
#include <QObject>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <vector>

// What the window shows now, as its backing store holds it (no repaint is triggered).
QImage Shown(QWidget& widget);
// Shows the widget and waits until it is exposed.
bool ShowAndWait(QWidget& widget);

// Mouse events as the windowing system delivers them, at positions in the widget.
void Press(QWidget& widget, QPoint point, Qt::MouseButton button, Qt::MouseButtons held);
void Move(QWidget& widget, QPoint point, Qt::MouseButtons held);
void Release(QWidget& widget, QPoint point, Qt::MouseButton button, Qt::MouseButtons held);

// The regions of the paint events that a widget receives.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget& widget);
    std::vector<QRegion> regions;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

QRegion RegionOf(const std::vector<TRect>& rects);

// Runs `action` once the event loop that is about to start (a modal display) is running.
void WhenRunning(const std::function<void()>& action);
