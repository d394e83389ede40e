#include "capture/SwayTree.h"

#include <algorithm>
#include <functional>

namespace {

// Trees are walked at most this deep, so that a broken answer cannot keep us busy.
constexpr int kMaxDepth = 64;

TRect RectOf(const QJsonValue& value)
{
    const QJsonObject r = value.toObject();
    const int x = r.value(QLatin1String("x")).toInt();
    const int y = r.value(QLatin1String("y")).toInt();
    return {x, y, x + std::max(0, r.value(QLatin1String("width")).toInt()),
            y + std::max(0, r.value(QLatin1String("height")).toInt())};
}

bool Empty(const TRect& r)
{
    return r.Left >= r.Right || r.Top >= r.Bottom;
}

TRect Union(const TRect& a, const TRect& b)
{
    if (Empty(a))
        return b;
    if (Empty(b))
        return a;
    return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right), std::max(a.Bottom, b.Bottom)};
}

// A node that shows a client's surface, as opposed to an output, a workspace or a split container.
bool IsView(const QJsonObject& node)
{
    const QString type = node.value(QLatin1String("type")).toString();
    return (type == QLatin1String("con") || type == QLatin1String("floating_con")) &&
           node.value(QLatin1String("nodes")).toArray().isEmpty() && node.contains(QLatin1String("pid"));
}

bool IsShown(const QJsonObject& node)
{
    return node.value(QLatin1String("visible")).toBool();
}

// The node's rectangle without its title bar, plus the title bar, which the compositor gives relative to
// the parent's rectangle.
TCompositorWindow WindowOf(const QJsonObject& node, const TRect& parent, bool floating)
{
    TRect rect = RectOf(node.value(QLatin1String("rect")));
    TRect client = RectOf(node.value(QLatin1String("window_rect")));
    client = {client.Left + rect.Left, client.Top + rect.Top, client.Right + rect.Left, client.Bottom + rect.Top};
    TRect title = RectOf(node.value(QLatin1String("deco_rect")));
    if (!Empty(title)) {
        title = {title.Left + parent.Left, title.Top + parent.Top, title.Right + parent.Left, title.Bottom + parent.Top};
        rect = Union(rect, title);
    }
    return {static_cast<HWND>(node.value(QLatin1String("id")).toInteger()), rect, Empty(client) ? rect : client,
            node.value(QLatin1String("pid")).toInt(), node.value(QLatin1String("name")).toString().toStdString(), floating};
}

struct Visit {
    const QJsonObject& node;
    const TRect& parent;
    bool floating;
};

// Calls `visit` for every node below (and with) `node`, parents before children, tiled children before
// floating ones; stops when it returns true.
bool Walk(const QJsonObject& node, const TRect& parent, bool floating, int depth,
          const std::function<bool(const Visit&)>& visit)
{
    if (depth > kMaxDepth)
        return false;
    if (visit({node, parent, floating}))
        return true;
    const TRect rect = RectOf(node.value(QLatin1String("rect")));
    for (const QJsonValue& child : node.value(QLatin1String("nodes")).toArray())
        if (Walk(child.toObject(), rect, floating, depth + 1, visit))
            return true;
    for (const QJsonValue& child : node.value(QLatin1String("floating_nodes")).toArray())
        if (Walk(child.toObject(), rect, true, depth + 1, visit))
            return true;
    return false;
}

}  // namespace

std::vector<TMonitor> OutputsFromAnswer(const QJsonArray& outputs)
{
    std::vector<TMonitor> monitors;
    for (const QJsonValue& value : outputs) {
        const QJsonObject output = value.toObject();
        if (!output.value(QLatin1String("active")).toBool(true))
            continue;
        const TRect rect = RectOf(output.value(QLatin1String("rect")));
        const double scale = output.value(QLatin1String("scale")).toDouble(1);
        if (Empty(rect))
            continue;
        monitors.push_back({output.value(QLatin1String("name")).toString().toStdString(), rect, scale > 0 ? scale : 1, {}});
    }
    return monitors;
}

std::optional<TCompositorWindow> FocusedWindow(const QJsonObject& tree)
{
    std::optional<TCompositorWindow> found;
    Walk(tree, {}, false, 0, [&](const Visit& v) {
        if (!v.node.value(QLatin1String("focused")).toBool())
            return false;
        if (IsView(v.node))
            found = WindowOf(v.node, v.parent, v.floating);
        return true;
    });
    return found;
}

std::optional<TCompositorWindow> WindowAtPoint(const QJsonObject& tree, double x, double y)
{
    const auto contains = [x, y](const TRect& r) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; };
    std::optional<TCompositorWindow> fullscreen, floating, tiled;
    Walk(tree, {}, false, 0, [&](const Visit& v) {
        if (!IsView(v.node) || !IsShown(v.node))
            return false;
        const TCompositorWindow window = WindowOf(v.node, v.parent, v.floating);
        if (!contains(window.rect))
            return false;
        if (v.node.value(QLatin1String("fullscreen_mode")).toInt() != 0)
            fullscreen = window;
        else if (v.floating)
            floating = window;  // later floating windows lie above earlier ones
        else if (!tiled)
            tiled = window;
        return false;
    });
    return fullscreen ? fullscreen : floating ? floating : tiled;
}

std::optional<TCompositorWindow> WindowById(const QJsonObject& tree, HWND id)
{
    std::optional<TCompositorWindow> found;
    Walk(tree, {}, false, 0, [&](const Visit& v) {
        if (static_cast<HWND>(v.node.value(QLatin1String("id")).toInteger()) != id)
            return false;
        found = WindowOf(v.node, v.parent, v.floating);
        return true;
    });
    return found;
}

std::vector<TCompositorWindow> ShownWindowsOfProcess(const QJsonObject& tree, int pid)
{
    std::vector<TCompositorWindow> windows;
    Walk(tree, {}, false, 0, [&](const Visit& v) {
        if (IsView(v.node) && IsShown(v.node) && v.node.value(QLatin1String("pid")).toInt() == pid)
            windows.push_back(WindowOf(v.node, v.parent, v.floating));
        return false;
    });
    return windows;
}
