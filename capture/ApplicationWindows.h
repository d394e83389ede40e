#pragma once

#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <vector>

// The program's own top-level Qt windows, minimised and restored as one application.
class ApplicationWindows {
public:
    // Takes every shown top-level window off the screen: iconified through the window manager, or hidden
    // when there is none. Returns the native ids of the windows that leave the screen; none when the
    // application was minimised already or has no window.
    std::vector<unsigned long> Minimize(bool windowManager);
    // Brings the windows back in the state they had, and the window that was active becomes active
    // again. When the application was minimised before Minimize was called, its windows come back from
    // the minimised state. Nothing happens when it is not minimised.
    void Restore();
    // Minimised by Minimize, or every shown top-level window is minimised.
    bool IsMinimized() const;

private:
    struct Saved {
        QPointer<QWindow> window;
        QPointer<QWidget> widget;
        Qt::WindowStates states;
        bool hidden;
    };
    std::vector<Saved> saved_;
    QPointer<QWindow> active_;
    bool minimized_ = false;
};
