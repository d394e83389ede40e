#include "X11TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

template <typename T>
struct Reply {
    T* p;
    explicit Reply(T* reply) : p(reply) {}
    ~Reply() { std::free(p); }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

const xcb_visualtype_t* RootVisual(const xcb_screen_t* screen)
{
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data;
    return nullptr;
}

uint32_t Scale(uint32_t value8, uint32_t mask)
{
    if (!mask)
        return 0;
    const int bits = std::popcount(mask);
    return (value8 >> (8 - std::min(bits, 8))) << std::countr_zero(mask);
}

}  // namespace

bool X11TestDisplay::Available()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return ok;
}

bool X11TestDisplay::QtOnX11()
{
    return QGuiApplication::platformName() == "xcb";
}

X11TestDisplay::X11TestDisplay()
{
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    screen_ = it.data;
}

X11TestDisplay::~X11TestDisplay()
{
    for (const xcb_window_t window : windows_)
        xcb_destroy_window(connection_, window);
    Sync();
    xcb_disconnect(connection_);
}

bool X11TestDisplay::PaletteDisplay() const
{
    const xcb_visualtype_t* visual = RootVisual(screen_);
    return visual && (visual->_class == XCB_VISUAL_CLASS_PSEUDO_COLOR || visual->_class == XCB_VISUAL_CLASS_GRAY_SCALE ||
                      visual->_class == XCB_VISUAL_CLASS_STATIC_COLOR || visual->_class == XCB_VISUAL_CLASS_STATIC_GRAY);
}

uint32_t X11TestDisplay::PixelFor(uint32_t rgb, uint32_t* shown)
{
    const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if (PaletteDisplay()) {
        Reply<xcb_alloc_color_reply_t> color(xcb_alloc_color_reply(
            connection_,
            xcb_alloc_color(connection_, screen_->default_colormap, static_cast<uint16_t>(r * 257),
                            static_cast<uint16_t>(g * 257), static_cast<uint16_t>(b * 257)),
            nullptr));
        if (!color)
            return 0;
        if (shown)
            *shown = uint32_t(color->red >> 8) << 16 | uint32_t(color->green >> 8) << 8 | uint32_t(color->blue >> 8);
        return color->pixel;
    }
    const xcb_visualtype_t* visual = RootVisual(screen_);
    const uint32_t pixel = Scale(r, visual->red_mask) | Scale(g, visual->green_mask) | Scale(b, visual->blue_mask);
    if (shown)
        *shown = rgb;
    return pixel;
}

xcb_window_t X11TestDisplay::CreateWindow(const TRect& rect, uint32_t rgb, bool overrideRedirect, xcb_window_t parent,
                                          const std::vector<Property>& properties)
{
    const xcb_window_t window = xcb_generate_id(connection_);
    const uint32_t values[] = {PixelFor(rgb), overrideRedirect ? 1u : 0u};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, parent ? parent : Root(), static_cast<int16_t>(rect.Left),
                      static_cast<int16_t>(rect.Top), static_cast<uint16_t>(rect.Width()),
                      static_cast<uint16_t>(rect.Height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    if (!parent && !overrideRedirect) {
        // Placed where the program says, as a user would have asked.
        // WM_NORMAL_HINTS: flags USPosition | USSize, then x, y, width, height; the other fields unused.
        uint32_t hints[18] = {1 | 2, static_cast<uint32_t>(rect.Left), static_cast<uint32_t>(rect.Top),
                              static_cast<uint32_t>(rect.Width()), static_cast<uint32_t>(rect.Height())};
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        static const char kTitle[] = "kavrel capture test";
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            sizeof kTitle - 1, kTitle);
    }
    for (const Property& property : properties)
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, Atom(property.name), property.type, 32,
                            static_cast<uint32_t>(property.values.size()), property.values.data());
    xcb_map_window(connection_, window);
    windows_.push_back(window);
    Sync();
    return window;
}

void X11TestDisplay::Destroy(xcb_window_t window)
{
    xcb_destroy_window(connection_, window);
    windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
    Sync();
}

void X11TestDisplay::Sync()
{
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

xcb_atom_t X11TestDisplay::Atom(const char* name)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t X11TestDisplay::ActiveWindow()
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, Root(), Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    if (!reply || xcb_get_property_value_length(reply.p) < 4)
        return 0;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.p));
}

bool X11TestDisplay::Activate(xcb_window_t window)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = Atom("_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2;  // from a pager: the window manager does not second-guess it
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, Root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    Sync();
    return WaitUntil([&] { return ActiveWindow() == window; });
}

bool X11TestDisplay::WaitUntilManagedAndActive(xcb_window_t window)
{
    const bool framed = WaitUntil([&] {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr));
        // Viewable: the frame around it is mapped too.
        return tree && tree->parent != Root() && FrameExtents(window).size() == 4 && attributes &&
               attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    });
    return framed && (ActiveWindow() == window || Activate(window));
}

TRect X11TestDisplay::InsideRect(xcb_window_t window)
{
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, Root(), 0, 0), nullptr));
    if (!geometry || !origin)
        return {};
    return {origin->dst_x, origin->dst_y, origin->dst_x + geometry->width, origin->dst_y + geometry->height};
}

std::vector<uint32_t> X11TestDisplay::FrameExtents(xcb_window_t window)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, Atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4),
        nullptr));
    if (!reply || xcb_get_property_value_length(reply.p) != 16)
        return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.p));
    return {values, values + 4};
}

void X11TestDisplay::WarpPointer(TPoint point)
{
    xcb_warp_pointer(connection_, XCB_WINDOW_NONE, Root(), 0, 0, 0, 0, static_cast<int16_t>(point.X),
                     static_cast<int16_t>(point.Y));
    Sync();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

QByteArray RunPumping(const QString& program, const QStringList& arguments, int* status)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = WaitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(20));
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    if (status)
        *status = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

uint32_t Rgb(const TBitmap& bitmap, int x, int y)
{
    const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

long CountColor(const TBitmap& bitmap, uint32_t rgb, const TRect& rect)
{
    long count = 0;
    for (int y = std::max(rect.Top, 0); y < std::min(rect.Bottom, bitmap.Height()); ++y)
        for (int x = std::max(rect.Left, 0); x < std::min(rect.Right, bitmap.Width()); ++x)
            count += Rgb(bitmap, x, y) == rgb;
    return count;
}

TRect BoundsOfColor(const TBitmap& bitmap, uint32_t rgb)
{
    TRect bounds{bitmap.Width(), bitmap.Height(), 0, 0};
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (Rgb(bitmap, x, y) != rgb)
                continue;
            bounds.Left = std::min(bounds.Left, x);
            bounds.Top = std::min(bounds.Top, y);
            bounds.Right = std::max(bounds.Right, x + 1);
            bounds.Bottom = std::max(bounds.Bottom, y + 1);
        }
    }
    return bounds.Left < bounds.Right ? bounds : TRect{};
}
