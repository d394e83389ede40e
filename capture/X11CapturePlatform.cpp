#include "capture/X11CapturePlatform.h"

#include "capture/ApplicationWindows.h"
#include "capture/ClipboardImage.h"
#include "capture/DevicePixelTarget.h"
#include "capture/XImageConversion.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/PixelConversion.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

namespace {

// Window trees are walked at most this deep, so that a broken tree cannot keep us busy.
constexpr int kMaxDepth = 64;
// How long the window manager gets to take the program's windows off the screen, or to take a new
// window over.
constexpr auto kMinimizeTimeout = std::chrono::milliseconds(1000);
constexpr auto kManageTimeout = std::chrono::milliseconds(1000);

// Frees an xcb reply or error on every path.
template <typename T>
struct Reply {
    T* p = nullptr;
    explicit Reply(T* reply) : p(reply) {}
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply() { std::free(p); }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

TRect Intersect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
    if (r.Left >= r.Right || r.Top >= r.Bottom)
        return {};
    return r;
}

bool Empty(const TRect& r)
{
    return r.Left >= r.Right || r.Top >= r.Bottom;
}

// Makes sure that the requests sent on Qt's own X connection have reached the server.
void SyncQtConnection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return;
    xcb_connection_t* connection = x11->connection();
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

struct SharedSegment {
    uint32_t xid = 0;
    uint8_t* address = nullptr;
    size_t size = 0;
};

struct Context {
    HWND window = 0;
    TPoint origin;
};

}  // namespace

struct X11CapturePlatform::Impl {
    xcb_connection_t* connection = nullptr;
    xcb_screen_t* screen = nullptr;
    XImageLayout layout;
    bool layoutSupported = false;
    uint16_t colormapEntries = 0;
    bool sharedMemoryPresent = false;
    bool sharedMemoryAllowed = true;
    bool lastGrabShared = false;
    bool servedByXwayland = false;
    SharedSegment segment;  // reused from one grab to the next
    xcb_atom_t netActiveWindow = XCB_ATOM_NONE;
    xcb_atom_t netFrameExtents = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t gtkFrameExtents = XCB_ATOM_NONE;
    xcb_atom_t netSupported = XCB_ATOM_NONE;
    xcb_atom_t netWmStateFullscreen = XCB_ATOM_NONE;
    xcb_atom_t netWmFullscreenMonitors = XCB_ATOM_NONE;
    std::map<HDC, Context> contexts;
    HDC nextContext = 1;
    ApplicationWindows windows;

    ~Impl()
    {
        if (connection) {
            ReleaseSegment();
            xcb_disconnect(connection);
        }
    }

    xcb_connection_t* Connection()
    {
        if (!connection)
            Connect();
        if (xcb_connection_has_error(connection))
            throw Exception("The connection to the X display was lost");
        return connection;
    }

    xcb_window_t Root()
    {
        Connection();
        return screen->root;
    }

    TRect ScreenRect()
    {
        Connection();
        return {0, 0, screen->width_in_pixels, screen->height_in_pixels};
    }

    void Connect()
    {
        int screenNumber = 0;
        xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            const char* name = std::getenv("DISPLAY");
            throw Exception(std::string("Cannot open the X display ") + (name && *name ? name : "(DISPLAY is not set)"));
        }
        const xcb_setup_t* setup = xcb_get_setup(c);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem) {
            xcb_disconnect(c);
            throw Exception("The X display has no screen " + std::to_string(screenNumber));
        }
        connection = c;
        screen = it.data;
        ReadLayout(setup);

        xcb_prefetch_extension_data(c, &xcb_shm_id);
        xcb_prefetch_extension_data(c, &xcb_xinerama_id);
        static const char kXwayland[] = "XWAYLAND";
        const auto xwaylandCookie = xcb_query_extension(c, sizeof kXwayland - 1, kXwayland);
        const char* names[] = {"_NET_ACTIVE_WINDOW",         "_NET_FRAME_EXTENTS", "WM_STATE", "_GTK_FRAME_EXTENTS",
                               "_NET_SUPPORTED",             "_NET_WM_STATE_FULLSCREEN",
                               "_NET_WM_FULLSCREEN_MONITORS"};
        xcb_atom_t* atoms[] = {&netActiveWindow, &netFrameExtents,      &wmState, &gtkFrameExtents,
                               &netSupported,    &netWmStateFullscreen, &netWmFullscreenMonitors};
        constexpr int kAtoms = std::size(names);
        xcb_intern_atom_cookie_t cookies[kAtoms];
        for (int i = 0; i < kAtoms; ++i)
            cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
        for (int i = 0; i < kAtoms; ++i) {
            Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
            if (reply)
                *atoms[i] = reply->atom;
        }
        const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
        if (shm && shm->present) {
            Reply<xcb_shm_query_version_reply_t> version(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
            sharedMemoryPresent = static_cast<bool>(version);
        }
        Reply<xcb_query_extension_reply_t> xwayland(xcb_query_extension_reply(c, xwaylandCookie, nullptr));
        servedByXwayland = xwayland && xwayland->present;
    }

    void ReadLayout(const xcb_setup_t* setup)
    {
        layout.msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
            if (f.data->depth == screen->root_depth) {
                layout.bitsPerPixel = f.data->bits_per_pixel;
                layout.scanlinePad = f.data->scanline_pad;
            }
        }
        for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != screen->root_visual)
                    continue;
                const uint8_t cls = v.data->_class;
                layout.indexed = cls == XCB_VISUAL_CLASS_STATIC_GRAY || cls == XCB_VISUAL_CLASS_GRAY_SCALE ||
                                 cls == XCB_VISUAL_CLASS_STATIC_COLOR || cls == XCB_VISUAL_CLASS_PSEUDO_COLOR;
                layout.redMask = v.data->red_mask;
                layout.greenMask = v.data->green_mask;
                layout.blueMask = v.data->blue_mask;
                colormapEntries = v.data->colormap_entries;
            }
        }
        layoutSupported = layout.Supported();
    }

    // ---- window queries ----

    xcb_window_t Parent(xcb_window_t window)
    {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(Connection(), xcb_query_tree(connection, window), nullptr));
        return tree ? tree->parent : xcb_window_t{XCB_WINDOW_NONE};
    }

    bool HasProperty(xcb_window_t window, xcb_atom_t property)
    {
        if (property == XCB_ATOM_NONE)
            return false;
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            Connection(), xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
        return reply && reply->type != XCB_ATOM_NONE;
    }

    std::vector<uint32_t> Cardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint32_t count)
    {
        std::vector<uint32_t> values;
        if (property == XCB_ATOM_NONE)
            return values;
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            Connection(), xcb_get_property(connection, 0, window, property, type, 0, count), nullptr));
        if (!reply || reply->type != type || reply->format != 32)
            return values;
        const int n = xcb_get_property_value_length(reply.p) / 4;
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.p));
        values.assign(data, data + std::min<int>(n, static_cast<int>(count)));
        return values;
    }

    bool Exists(xcb_window_t window)
    {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(Connection(), xcb_get_window_attributes(connection, window), nullptr));
        return static_cast<bool>(attributes);
    }

    bool Viewable(xcb_window_t window)
    {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(Connection(), xcb_get_window_attributes(connection, window), nullptr));
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // The window's ancestor (or the window itself) whose parent is the root: a top-level window, or the
    // frame that a window manager put around one. None when the window is gone.
    xcb_window_t RootChild(xcb_window_t window)
    {
        const xcb_window_t root = Root();
        for (int depth = 0; depth < kMaxDepth && window != XCB_WINDOW_NONE; ++depth) {
            const xcb_window_t parent = Parent(window);
            if (parent == root)
                return window;
            window = parent;
        }
        return XCB_WINDOW_NONE;
    }

    // The rectangle of the window and its border in root coordinates; empty when the window is gone.
    TRect OuterRect(xcb_window_t window)
    {
        xcb_connection_t* c = Connection();
        const auto geometryCookie = xcb_get_geometry(c, window);
        const auto originCookie = xcb_translate_coordinates(c, window, screen->root, 0, 0);
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, originCookie, nullptr));
        if (!geometry || !origin)
            return {};
        const int border = geometry->border_width;
        return {origin->dst_x - border, origin->dst_y - border, origin->dst_x + geometry->width + border,
                origin->dst_y + geometry->height + border};
    }

    // A window that the window manager manages (it carries WM_STATE) within the subtree, breadth first.
    xcb_window_t FindClient(xcb_window_t top)
    {
        std::deque<xcb_window_t> queue{top};
        for (int visited = 0; !queue.empty() && visited < 256; ++visited) {
            const xcb_window_t window = queue.front();
            queue.pop_front();
            if (HasProperty(window, wmState))
                return window;
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(Connection(), xcb_query_tree(connection, window), nullptr));
            if (!tree)
                continue;
            const xcb_window_t* children = xcb_query_tree_children(tree.p);
            queue.insert(queue.end(), children, children + xcb_query_tree_children_length(tree.p));
        }
        return XCB_WINDOW_NONE;
    }

    // The topmost shown child of `parent` (whose inside origin is at `origin` in root coordinates) that
    // contains the point; `childOrigin` receives that child's inside origin.
    xcb_window_t ChildAt(xcb_window_t parent, TPoint origin, TPoint point, TPoint& childOrigin)
    {
        xcb_connection_t* c = Connection();
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr));
        if (!tree)
            return XCB_WINDOW_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree.p);
        const int count = xcb_query_tree_children_length(tree.p);
        std::vector<xcb_get_window_attributes_cookie_t> attributeCookies(count);
        std::vector<xcb_get_geometry_cookie_t> geometryCookies(count);
        for (int i = 0; i < count; ++i) {
            attributeCookies[i] = xcb_get_window_attributes(c, children[i]);
            geometryCookies[i] = xcb_get_geometry(c, children[i]);
        }
        // Children come bottom first: the last one that contains the point is the one shown there.
        xcb_window_t hit = XCB_WINDOW_NONE;
        for (int i = 0; i < count; ++i) {
            Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, attributeCookies[i], nullptr));
            Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookies[i], nullptr));
            if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
                attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
                continue;
            const int border = geometry->border_width;
            const TRect outer{origin.X + geometry->x, origin.Y + geometry->y,
                              origin.X + geometry->x + geometry->width + 2 * border,
                              origin.Y + geometry->y + geometry->height + 2 * border};
            if (outer.Contains(point)) {
                hit = children[i];
                childOrigin = {outer.Left + border, outer.Top + border};
            }
        }
        return hit;
    }

    // Whether the window manager names the hint among those it follows.
    bool WindowManagerSupports(xcb_atom_t hint)
    {
        if (hint == XCB_ATOM_NONE)
            return false;
        const std::vector<uint32_t> supported = Cardinals(Root(), netSupported, XCB_ATOM_ATOM, 4096);
        return std::find(supported.begin(), supported.end(), hint) != supported.end();
    }

    // The monitors in the window manager's count (Xinerama's order); the whole screen when there is none.
    std::vector<TRect> Monitors()
    {
        xcb_connection_t* c = Connection();
        std::vector<TRect> monitors;
        const xcb_query_extension_reply_t* xinerama = xcb_get_extension_data(c, &xcb_xinerama_id);
        if (xinerama && xinerama->present) {
            Reply<xcb_xinerama_is_active_reply_t> active(xcb_xinerama_is_active_reply(c, xcb_xinerama_is_active(c), nullptr));
            Reply<xcb_xinerama_query_screens_reply_t> screens(
                active && active->state ? xcb_xinerama_query_screens_reply(c, xcb_xinerama_query_screens(c), nullptr)
                                        : nullptr);
            if (screens) {
                const xcb_xinerama_screen_info_t* info = xcb_xinerama_query_screens_screen_info(screens.p);
                for (int i = 0; i < xcb_xinerama_query_screens_screen_info_length(screens.p); ++i)
                    monitors.push_back({info[i].x_org, info[i].y_org, info[i].x_org + info[i].width,
                                        info[i].y_org + info[i].height});
            }
        }
        if (monitors.empty())
            monitors.push_back(ScreenRect());
        return monitors;
    }

    // ---- pixels ----

    void ReleaseSegment()
    {
        if (!segment.address)
            return;
        xcb_shm_detach(connection, segment.xid);
        xcb_flush(connection);
        shmdt(segment.address);
        segment = {};
    }

    bool EnsureSegment(size_t bytes)
    {
        if (segment.address && segment.size >= bytes)
            return true;
        ReleaseSegment();
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0)
            return false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        const uint32_t xid = xcb_generate_id(connection);
        xcb_generic_error_t* error =
            xcb_request_check(connection, xcb_shm_attach_checked(connection, xid, static_cast<uint32_t>(id), 0));
        // Marked for removal at once: the segment goes away with its last user, even after a crash.
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            // A server on another machine cannot attach our memory.
            std::free(error);
            shmdt(address);
            sharedMemoryPresent = false;
            return false;
        }
        segment = {xid, static_cast<uint8_t*>(address), bytes};
        return true;
    }

    std::vector<TPaletteEntry> Colormap(unsigned start, unsigned count)
    {
        std::vector<TPaletteEntry> entries;
        const unsigned end = std::min<unsigned>(start + std::min(count, 4096u), colormapEntries);
        if (!layout.indexed || start >= end)
            return entries;
        std::vector<uint32_t> pixels;
        for (unsigned i = start; i < end; ++i)
            pixels.push_back(i);
        xcb_connection_t* c = Connection();
        Reply<xcb_query_colors_reply_t> reply(xcb_query_colors_reply(
            c, xcb_query_colors(c, screen->default_colormap, static_cast<uint32_t>(pixels.size()), pixels.data()), nullptr));
        if (!reply)
            return entries;
        const xcb_rgb_t* colors = xcb_query_colors_colors(reply.p);
        const int n = xcb_query_colors_colors_length(reply.p);
        for (int i = 0; i < n; ++i)
            entries.push_back({static_cast<uint8_t>(colors[i].red >> 8), static_cast<uint8_t>(colors[i].green >> 8),
                               static_cast<uint8_t>(colors[i].blue >> 8), 0});
        return entries;
    }

    // Copies the screen rectangle `area` (inside the screen) into dest at (destX, destY).
    void Grab(const TRect& area, TBitmap& dest, int destX, int destY)
    {
        xcb_connection_t* c = Connection();
        // Xwayland's root window holds none of the Wayland desktop's pixels: reading it gives black.
        if (servedByXwayland)
            throw Exception("The X display is Xwayland, which cannot show the Wayland desktop's pixels: run Kavrel "
                            "in the Wayland session (with WAYLAND_DISPLAY set)");
        if (!layoutSupported)
            throw Exception("The display's pixel format is not supported (" + std::to_string(layout.bitsPerPixel) +
                            " bits per pixel)");
        if (layout.indexed)
            layout.colormap = Colormap(0, 256);
        const int width = area.Width();
        const int height = area.Height();
        const size_t bytes = layout.Stride(width) * static_cast<size_t>(height);
        lastGrabShared = false;
        xcb_generic_error_t* error = nullptr;
        if (sharedMemoryAllowed && sharedMemoryPresent && EnsureSegment(bytes)) {
            Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
                c,
                xcb_shm_get_image(c, screen->root, static_cast<int16_t>(area.Left), static_cast<int16_t>(area.Top),
                                  static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u,
                                  XCB_IMAGE_FORMAT_Z_PIXMAP, segment.xid, 0),
                &error));
            if (!reply)
                RaiseGrabFailure(error);
            lastGrabShared = true;
            ConvertXImage(segment.address, std::min<size_t>(bytes, reply->size), layout, width, height, dest, destX, destY);
            return;
        }
        Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(area.Left),
                          static_cast<int16_t>(area.Top), static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u),
            &error));
        if (!reply)
            RaiseGrabFailure(error);
        ConvertXImage(xcb_get_image_data(reply.p), static_cast<size_t>(xcb_get_image_data_length(reply.p)), layout, width,
                      height, dest, destX, destY);
    }

    // A screen read that failed must not pass for a black screen.
    [[noreturn]] void RaiseGrabFailure(xcb_generic_error_t* error)
    {
        const int code = error ? error->error_code : 0;
        std::free(error);
        if (xcb_connection_has_error(connection))
            throw Exception("The connection to the X display was lost");
        throw Exception("The X server could not read the screen (X error " + std::to_string(code) + ")");
    }
};

X11CapturePlatform::X11CapturePlatform() : d_(std::make_unique<Impl>()) {}

X11CapturePlatform::~X11CapturePlatform() = default;

HWND X11CapturePlatform::GetDesktopWindow()
{
    return d_->Root();
}

HWND X11CapturePlatform::GetForegroundWindow()
{
    const xcb_window_t root = d_->Root();
    // A window manager that follows the desktop conventions names the active window, or none.
    if (d_->HasProperty(root, d_->netActiveWindow)) {
        const std::vector<uint32_t> active = d_->Cardinals(root, d_->netActiveWindow, XCB_ATOM_WINDOW, 1);
        if (!active.empty() && active[0] != XCB_WINDOW_NONE && d_->Exists(active[0]))
            return active[0];
        return root;
    }
    // Otherwise the window with the keyboard focus, or the top-level window around it.
    xcb_connection_t* c = d_->Connection();
    Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!focus || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus->focus == XCB_WINDOW_NONE || focus->focus == root)
        return root;
    xcb_window_t window = focus->focus;
    for (int depth = 0; depth < kMaxDepth && window != XCB_WINDOW_NONE; ++depth) {
        const xcb_window_t parent = d_->Parent(window);
        if (parent == root || d_->HasProperty(window, d_->wmState))
            return d_->Viewable(window) ? window : root;
        window = parent;
    }
    return root;
}

HWND X11CapturePlatform::WindowFromPoint(TPoint point)
{
    const xcb_window_t root = d_->Root();
    if (!d_->ScreenRect().Contains(point))
        return root;
    std::vector<xcb_window_t> path;
    xcb_window_t current = root;
    TPoint origin;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        TPoint childOrigin;
        const xcb_window_t child = d_->ChildAt(current, origin, point, childOrigin);
        if (child == XCB_WINDOW_NONE)
            break;
        path.push_back(child);
        current = child;
        origin = childOrigin;
    }
    if (path.empty())
        return root;
    // Inside a managed window: the deepest window there is the control under the point.
    for (const xcb_window_t window : path)
        if (d_->HasProperty(window, d_->wmState))
            return path.back();
    // On a frame's title bar or border: the window that the frame holds.
    const xcb_window_t client = d_->FindClient(path.front());
    return client != XCB_WINDOW_NONE ? client : path.back();
}

TRect X11CapturePlatform::GetWindowRect(HWND window)
{
    const xcb_window_t root = d_->Root();
    if (window == XCB_WINDOW_NONE)
        return {};
    if (window == root)
        return d_->ScreenRect();
    const xcb_window_t parent = d_->Parent(window);
    if (parent == XCB_WINDOW_NONE)
        return {};
    if (parent != root && !d_->HasProperty(window, d_->wmState))
        return d_->OuterRect(window);
    // A top-level window: with its frame, whether the window manager put the window into a frame of
    // its own or draws the frame around it and says how wide it is.
    const xcb_window_t frame = d_->RootChild(window);
    if (frame == XCB_WINDOW_NONE)
        return {};
    const auto clamp = [](uint32_t v) { return static_cast<int>(std::min<uint32_t>(v, 4096)); };
    TRect rect = d_->OuterRect(frame);
    if (frame == window) {
        const std::vector<uint32_t> extents = d_->Cardinals(window, d_->netFrameExtents, XCB_ATOM_CARDINAL, 4);
        if (!Empty(rect) && extents.size() == 4) {
            rect.Left -= clamp(extents[0]);
            rect.Right += clamp(extents[1]);
            rect.Top -= clamp(extents[2]);
            rect.Bottom += clamp(extents[3]);
        }
    }
    // A window that draws its own decorations announces the transparent margin (its shadow) around what
    // the user sees as the window.
    const std::vector<uint32_t> invisible = d_->Cardinals(window, d_->gtkFrameExtents, XCB_ATOM_CARDINAL, 4);
    if (invisible.size() == 4) {
        const TRect visible{rect.Left + clamp(invisible[0]), rect.Top + clamp(invisible[2]),
                            rect.Right - clamp(invisible[1]), rect.Bottom - clamp(invisible[3])};
        if (!Empty(visible))
            return visible;
    }
    return rect;
}

TPoint X11CapturePlatform::GetCursorPos()
{
    xcb_connection_t* c = d_->Connection();
    Reply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, xcb_query_pointer(c, d_->Root()), nullptr));
    return pointer ? TPoint{pointer->root_x, pointer->root_y} : TPoint{};
}

TPoint X11CapturePlatform::GetScreenSize()
{
    const TRect screen = d_->ScreenRect();
    return {screen.Right, screen.Bottom};
}

HDC X11CapturePlatform::GetDC(HWND window)
{
    const xcb_window_t root = d_->Root();
    Context context{window, {}};
    if (window != XCB_WINDOW_NONE && window != root) {
        xcb_connection_t* c = d_->Connection();
        Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root, 0, 0), nullptr));
        if (origin)
            context.origin = {origin->dst_x, origin->dst_y};
    }
    const HDC dc = d_->nextContext++;
    d_->contexts[dc] = context;
    return dc;
}

HDC X11CapturePlatform::GetWindowDC(HWND window)
{
    const TRect rect = GetWindowRect(window);
    const HDC dc = d_->nextContext++;
    d_->contexts[dc] = {window, {rect.Left, rect.Top}};
    return dc;
}

int X11CapturePlatform::ReleaseDC(HWND, HDC dc)
{
    return d_->contexts.erase(dc) ? 1 : 0;
}

int X11CapturePlatform::OpenContexts() const
{
    return static_cast<int>(d_->contexts.size());
}

bool X11CapturePlatform::IsPaletteDevice(HDC)
{
    d_->Connection();
    return d_->layout.indexed;
}

unsigned X11CapturePlatform::GetSystemPaletteEntries(HDC, unsigned start, unsigned count, TPaletteEntry* entries)
{
    const std::vector<TPaletteEntry> colors = d_->Colormap(start, count);
    std::copy(colors.begin(), colors.end(), entries);
    return static_cast<unsigned>(colors.size());
}

void X11CapturePlatform::BitBlt(TBitmap& dest, HDC source, int x, int y)
{
    const auto it = d_->contexts.find(source);
    if (it == d_->contexts.end() || dest.Empty())
        return;
    DevicePixelTarget target(dest);
    TBitmap& pixels = target.Pixels();
    const int64_t left = int64_t{it->second.origin.X} + x;
    const int64_t top = int64_t{it->second.origin.Y} + y;
    const TRect screen = d_->ScreenRect();
    const auto clampToInt = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
    const TRect wanted{clampToInt(left), clampToInt(top), clampToInt(left + pixels.Width()), clampToInt(top + pixels.Height())};
    const TRect area = Intersect(wanted, screen);
    // What lies outside the screen is black, not left over from an earlier capture.
    if (area != wanted)
        target.Clear();
    if (!Empty(area))
        d_->Grab(area, pixels, area.Left - wanted.Left, area.Top - wanted.Top);
    target.Finish();
}

bool X11CapturePlatform::WindowManagerRunning()
{
    xcb_connection_t* c = d_->Connection();
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, d_->Root()), nullptr));
    return attributes && (attributes->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
}

bool X11CapturePlatform::IsWindowShown(HWND window)
{
    if (d_->Viewable(window))
        return true;
    const xcb_window_t frame = d_->RootChild(window);
    return frame != XCB_WINDOW_NONE && frame != window && d_->Viewable(frame);
}

void X11CapturePlatform::MinimizeApplication()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || d_->windows.IsMinimized())
        return;
    const std::vector<unsigned long> windows = d_->windows.Minimize(WindowManagerRunning());
    if (windows.empty())
        return;
    SyncQtConnection();
    WaitUntilOffScreen(windows);
}

void X11CapturePlatform::WaitUntilOffScreen(const std::vector<unsigned long>& windows)
{
    // The window manager unmaps its frames asynchronously: the windows have to be gone before the screen
    // is read, however short the delay.
    const auto deadline = std::chrono::steady_clock::now() + kMinimizeTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        bool shown = false;
        for (const unsigned long window : windows)
            shown = shown || IsWindowShown(static_cast<HWND>(window));
        if (!shown)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void X11CapturePlatform::WaitForWindowChanges()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    std::vector<unsigned long> hidden;
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (window->handle() && !window->isVisible())
            hidden.push_back(window->winId());
    SyncQtConnection();
    WaitUntilOffScreen(hidden);
}

void X11CapturePlatform::RestoreApplication()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    d_->windows.Restore();
    SyncQtConnection();
}

bool X11CapturePlatform::IsApplicationMinimized()
{
    return d_->windows.IsMinimized();
}

void X11CapturePlatform::CopyToClipboard(const TBitmap& bitmap)
{
    PutImageOnClipboard(bitmap);
}

void X11CapturePlatform::Sleep(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool X11CapturePlatform::OverlaysFullScreen()
{
    // The overlays are Qt's windows: only a window manager on this display can make them full-screen.
    return QGuiApplication::platformName() == QLatin1String("xcb") && WindowManagerRunning() &&
           d_->WindowManagerSupports(d_->netWmStateFullscreen);
}

std::vector<TMonitor> X11CapturePlatform::GetMonitors()
{
    // A window manager that cannot spread a full-screen window over several monitors puts it on one: then
    // every monitor gets an overlay surface of its own.
    if (!OverlaysFullScreen() || d_->WindowManagerSupports(d_->netWmFullscreenMonitors))
        return {};
    const std::vector<TRect> devices = d_->Monitors();
    if (devices.size() < 2)
        return {};
    std::vector<TMonitor> monitors;
    for (const TRect& device : devices) {
        TMonitor monitor;
        monitor.device = device;
        // Qt's screen of these device pixels: it keeps their origin and divides their size by its scale.
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect logical = screen->geometry();
            const double scale = screen->devicePixelRatio();
            if (logical.x() == device.Left && logical.y() == device.Top &&
                qRound(logical.width() * scale) == device.Width() && qRound(logical.height() * scale) == device.Height()) {
                monitor.name = screen->name().toStdString();
                monitor.logical = {logical.x(), logical.y(), logical.x() + logical.width(), logical.y() + logical.height()};
                monitor.scale = scale;
            }
        }
        if (monitor.logical == TRect{})
            monitor.logical = device;
        monitors.push_back(monitor);
    }
    return monitors;
}

void X11CapturePlatform::SpanAllMonitors(HWND window)
{
    if (!d_->WindowManagerSupports(d_->netWmFullscreenMonitors))
        return;
    // The monitors at the window's top, bottom, left and right edges: those at the screen's edges.
    const std::vector<TRect> monitors = d_->Monitors();
    uint32_t edges[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; i < monitors.size(); ++i) {
        if (monitors[i].Top < monitors[edges[0]].Top)
            edges[0] = i;
        if (monitors[i].Bottom > monitors[edges[1]].Bottom)
            edges[1] = i;
        if (monitors[i].Left < monitors[edges[2]].Left)
            edges[2] = i;
        if (monitors[i].Right > monitors[edges[3]].Right)
            edges[3] = i;
    }
    // The window manager heeds the request only for a window that it manages already.
    SyncQtConnection();
    const auto deadline = std::chrono::steady_clock::now() + kManageTimeout;
    while (!d_->HasProperty(window, d_->wmState) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = d_->netWmFullscreenMonitors;
    std::copy(std::begin(edges), std::end(edges), event.data.data32);
    event.data.data32[4] = 1;  // from an application
    xcb_connection_t* c = d_->Connection();
    xcb_send_event(c, 0, d_->Root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

void X11CapturePlatform::SetSharedMemoryAllowed(bool allowed)
{
    d_->sharedMemoryAllowed = allowed;
}

bool X11CapturePlatform::LastGrabUsedSharedMemory() const
{
    return d_->lastGrabShared;
}
