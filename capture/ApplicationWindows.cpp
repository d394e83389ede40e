#include "capture/ApplicationWindows.h"

#include <QApplication>
#include <QGuiApplication>

namespace {

bool IsApplicationWindow(const QWindow* window)
{
    // Menus and tool tips close by themselves and the desktop is not ours to hide.
    const Qt::WindowType type = window->type();
    return window->isVisible() && window->handle() && type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop;
}

std::vector<QWindow*> ShownWindows()
{
    std::vector<QWindow*> windows;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return windows;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (IsApplicationWindow(window))
            windows.push_back(window);
    return windows;
}

QWidget* WidgetOf(const QWindow* window)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->windowHandle() == window)
            return widget;
    return nullptr;
}

void SetStates(QWindow* window, QWidget* widget, Qt::WindowStates states)
{
    if (widget)
        widget->setWindowState(states);
    else
        window->setWindowStates(states);
}

}  // namespace

bool ApplicationWindows::IsMinimized() const
{
    if (minimized_)
        return true;
    const std::vector<QWindow*> windows = ShownWindows();
    if (windows.empty())
        return false;
    for (const QWindow* window : windows)
        if (!(window->windowStates() & Qt::WindowMinimized))
            return false;
    return true;
}

std::vector<unsigned long> ApplicationWindows::Minimize(bool windowManager)
{
    std::vector<unsigned long> ids;
    if (IsMinimized())
        return ids;
    active_ = QGuiApplication::focusWindow();
    for (QWindow* window : ShownWindows()) {
        const Qt::WindowStates states = window->windowStates();
        if (states & Qt::WindowMinimized)
            continue;
        QWidget* widget = WidgetOf(window);
        saved_.push_back({window, widget, states, !windowManager});
        ids.push_back(static_cast<unsigned long>(window->winId()));
        if (!windowManager) {
            // Nobody would iconify the window: it leaves the screen by being unmapped.
            if (widget)
                widget->hide();
            else
                window->hide();
        } else {
            SetStates(window, widget, states | Qt::WindowMinimized);
        }
    }
    minimized_ = !saved_.empty();
    return ids;
}

void ApplicationWindows::Restore()
{
    if (minimized_) {
        for (const Saved& saved : saved_) {
            if (!saved.window)
                continue;
            if (saved.hidden) {
                if (saved.widget)
                    saved.widget->show();
                else
                    saved.window->show();
            } else {
                SetStates(saved.window, saved.widget, saved.states);
            }
        }
        saved_.clear();
        minimized_ = false;
        if (active_)
            active_->requestActivate();
        active_.clear();
        return;
    }
    if (!IsMinimized())
        return;
    // Minimised before the capture began: the windows come back from the minimised state.
    for (QWindow* window : ShownWindows())
        SetStates(window, WidgetOf(window), window->windowStates() & ~Qt::WindowMinimized);
}
