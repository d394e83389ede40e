#pragma once

#include "capture/CapturePlatform.h"
#include "capture/DesktopLayout.h"

#include <QJsonArray>
#include <QJsonObject>

#include <optional>
#include <string>
#include <vector>

// What the capture needs from the answers of a sway (or i3-compatible) compositor: the outputs of
// `get_outputs` and the windows of `get_tree`. Rectangles are logical, in the compositor's layout.
struct TCompositorWindow {
    HWND id = 0;
    // The window with its decorations: border, and title bar where one is drawn.
    TRect rect;
    // The client's own surface inside them.
    TRect client;
    int pid = 0;
    std::string title;
    // Placed by the user, not by the layout: the compositor can put it back where it was.
    bool floating = false;
};

// The active outputs with their logical rectangles and scales (device rectangles not yet mapped).
std::vector<TMonitor> OutputsFromAnswer(const QJsonArray& outputs);

// The focused window; none when the focus is on an empty workspace or nowhere.
std::optional<TCompositorWindow> FocusedWindow(const QJsonObject& tree);
// The window shown at a logical point: fullscreen windows first, then floating ones (topmost first),
// then tiled ones; none when the point shows no window.
std::optional<TCompositorWindow> WindowAtPoint(const QJsonObject& tree, double x, double y);
// The window with the id, shown or not.
std::optional<TCompositorWindow> WindowById(const QJsonObject& tree, HWND id);
// The shown windows of a process.
std::vector<TCompositorWindow> ShownWindowsOfProcess(const QJsonObject& tree, int pid);
