#include "capture/WaylandCapturePlatform.h"

#include "capture/ApplicationWindows.h"
#include "capture/ClipboardImage.h"
#include "capture/DesktopLayout.h"
#include "capture/DevicePixelTarget.h"
#include "capture/ScreenshotPortal.h"
#include "capture/SwayIpc.h"
#include "capture/SwayTree.h"
#include "capture/WlrScreencopy.h"
#include "framework/Bitmap.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

namespace {

// The desktop window (sway's root node has the same id) and the window the user picked in the desktop's
// own dialog.
constexpr HWND kDesktop = 1;
constexpr HWND kPickedWindow = 0xFFFFFFFEu;
// How long the compositor gets to take the program's windows off the screen.
constexpr auto kHideTimeout = std::chrono::milliseconds(1000);
// Compositors that cannot be asked get this long, for their closing animations too.
constexpr auto kHideSettle = std::chrono::milliseconds(250);
// How long a compositor that answers on its IPC socket may go on drawing windows it has unmapped.
constexpr auto kCatchUpAfterHiding = std::chrono::milliseconds(250);

bool Empty(const TRect& r)
{
    return r.Left >= r.Right || r.Top >= r.Bottom;
}

TRect Intersect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
    return Empty(r) ? TRect{} : r;
}

bool SameOutputs(const std::vector<TMonitor>& a, const std::vector<TMonitor>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TMonitor& x, const TMonitor& y) {
        return x.name == y.name && x.logical == y.logical && x.scale == y.scale;
    });
}

QGuiApplication* GuiApplication()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

void WaitProcessingEvents(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct Context {
    HWND window = 0;
    TPoint origin;
    std::shared_ptr<const TBitmap> picture;
};

}  // namespace

struct WaylandCapturePlatform::Impl {
    PictureSource source;
    bool ipcTried = false;
    std::unique_ptr<SwayIpc> ipc;
    std::vector<TMonitor> outputs;  // as last seen
    DesktopLayout layout;
    std::map<HDC, Context> contexts;
    HDC nextContext = 1;
    std::shared_ptr<const TBitmap> pendingPick;  // picked by WindowFromPoint, for the next screen context
    TPoint pickedSize;
    TPoint pointer;
    ApplicationWindows windows;
    std::vector<TCompositorWindow> placesBeforeHiding;
    std::unique_ptr<TBitmap> pendingClipboard;
    QMetaObject::Connection focusConnection;

    ~Impl() { QObject::disconnect(focusConnection); }

    SwayIpc* Ipc()
    {
        if (!ipcTried) {
            ipcTried = true;
            ipc = SwayIpc::Connect();
        }
        return ipc.get();
    }

    std::vector<TMonitor> CurrentOutputs()
    {
        if (SwayIpc* compositor = Ipc())
            return OutputsFromAnswer(compositor->Outputs());
        std::vector<TMonitor> screens;
        if (GuiApplication()) {
            for (const QScreen* screen : QGuiApplication::screens()) {
                const QRect g = screen->geometry();
                screens.push_back({screen->name().toStdString(), {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()},
                                   screen->devicePixelRatio(), {}});
            }
        }
        return screens;
    }

    // The layout as the outputs are now; a layout that a picture has measured is kept while they stay.
    const DesktopLayout& Layout()
    {
        std::vector<TMonitor> now = CurrentOutputs();
        if (!SameOutputs(now, outputs) || layout.Empty()) {
            outputs = now;
            layout = DesktopLayout(std::move(now));
        }
        return layout;
    }

    std::shared_ptr<const TBitmap> TakePicture(bool interactive)
    {
        auto picture = std::make_shared<const TBitmap>(source(interactive));
        if (!interactive) {
            Layout();
            layout.SetPictureSize({picture->Width(), picture->Height()});
        }
        return picture;
    }

    HDC AddContext(HWND window, TPoint origin, std::shared_ptr<const TBitmap> picture)
    {
        const HDC dc = nextContext++;
        contexts[dc] = {window, origin, std::move(picture)};
        return dc;
    }

    std::optional<TCompositorWindow> CompositorWindow(HWND window)
    {
        SwayIpc* compositor = Ipc();
        if (!compositor || window == kDesktop || window == kPickedWindow || window == 0)
            return std::nullopt;
        return WindowById(compositor->Tree(), window);
    }

    // Waits until the compositor shows no more of the program's windows than Qt has shown.
    void WaitUntilHidden()
    {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        SwayIpc* compositor = Ipc();
        if (!compositor) {
            WaitProcessingEvents(kHideSettle);
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + kHideTimeout;
        const auto shown = [] {
            size_t count = 0;
            for (const QWindow* window : QGuiApplication::topLevelWindows())
                count += window->isVisible() && window->type() != Qt::Popup && window->type() != Qt::ToolTip;
            return count;
        };
        while (ShownWindowsOfProcess(compositor->Tree(), ::getpid()).size() > shown() &&
               std::chrono::steady_clock::now() < deadline)
            WaitProcessingEvents(std::chrono::milliseconds(5));
        // The compositor has unmapped them, but it may go on drawing them while it waits for its clients
        // to take their new places (sway waits up to 200 ms).
        WaitProcessingEvents(kCatchUpAfterHiding);
    }

    // Remembers where the compositor shows the program's windows, so that they can come back there.
    void RememberPlaces()
    {
        placesBeforeHiding.clear();
        if (SwayIpc* compositor = Ipc())
            placesBeforeHiding = ShownWindowsOfProcess(compositor->Tree(), ::getpid());
    }

    // A compositor places a window shown again as it places new ones: floating windows are moved back
    // where they were, matched by their titles.
    void PutBackInPlace()
    {
        SwayIpc* compositor = Ipc();
        std::vector<TCompositorWindow> places = std::move(placesBeforeHiding);
        placesBeforeHiding.clear();
        if (!compositor || places.empty())
            return;
        std::vector<TCompositorWindow> shown;
        const auto deadline = std::chrono::steady_clock::now() + kHideTimeout;
        while ((shown = ShownWindowsOfProcess(compositor->Tree(), ::getpid())).size() < places.size() &&
               std::chrono::steady_clock::now() < deadline)
            WaitProcessingEvents(std::chrono::milliseconds(5));
        for (const TCompositorWindow& window : shown) {
            const auto place = std::find_if(places.begin(), places.end(),
                                            [&](const TCompositorWindow& p) { return p.title == window.title; });
            if (place == places.end())
                continue;
            if (place->floating && window.floating && place->rect != window.rect)
                compositor->Command("[con_id=" + std::to_string(window.id) + "] move absolute position " +
                                    std::to_string(place->rect.Left) + " " + std::to_string(place->rect.Top));
            places.erase(place);
        }
    }

    void SetClipboardWhenFocused(const TBitmap& bitmap)
    {
        QGuiApplication* app = GuiApplication();
        if (!app)
            throw Exception("The clipboard needs a running application");
        // On Wayland only a client with the keyboard focus may set the clipboard.
        if (QGuiApplication::platformName() != QLatin1String("wayland") ||
            (QGuiApplication::focusWindow() && !windows.IsMinimized())) {
            pendingClipboard.reset();
            PutImageOnClipboard(bitmap);
            return;
        }
        pendingClipboard = std::make_unique<TBitmap>(bitmap);
        if (!focusConnection) {
            focusConnection = QObject::connect(app, &QGuiApplication::focusWindowChanged, app, [this](QWindow* window) {
                if (!window || !pendingClipboard)
                    return;
                const std::unique_ptr<TBitmap> image = std::move(pendingClipboard);
                PutImageOnClipboard(*image);
            });
        }
    }
};

bool IsWaylandSession()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* session = std::getenv("XDG_SESSION_TYPE");
    return (display && *display) || (session && std::strcmp(session, "wayland") == 0);
}

TBitmap TakeDesktopPicture(bool interactive)
{
    // A copy straight from the compositor skips the screenshot service's detour through a PNG file;
    // KAVREL_WAYLAND_CAPTURE=portal asks the service always.
    const char* choice = std::getenv("KAVREL_WAYLAND_CAPTURE");
    if (!interactive && !(choice && std::strcmp(choice, "portal") == 0))
        if (std::optional<TBitmap> picture = CopyDesktopFromCompositor())
            return std::move(*picture);
    return ScreenshotPortal::Take(interactive);
}

WaylandCapturePlatform::WaylandCapturePlatform(PictureSource source) : d_(std::make_unique<Impl>())
{
    d_->source = source ? std::move(source) : PictureSource(&TakeDesktopPicture);
}

WaylandCapturePlatform::~WaylandCapturePlatform() = default;

HWND WaylandCapturePlatform::GetDesktopWindow()
{
    return kDesktop;
}

HWND WaylandCapturePlatform::GetForegroundWindow()
{
    SwayIpc* compositor = d_->Ipc();
    if (!compositor)
        return kPickedWindow;
    const std::optional<TCompositorWindow> focused = FocusedWindow(compositor->Tree());
    return focused ? focused->id : kDesktop;
}

HWND WaylandCapturePlatform::WindowFromPoint(TPoint point)
{
    SwayIpc* compositor = d_->Ipc();
    if (!compositor) {
        // Nobody can say which window lies there: the user picks it in the desktop's dialog, and the next
        // screen context shows that picture.
        d_->pendingPick = d_->TakePicture(true);
        d_->pickedSize = {d_->pendingPick->Width(), d_->pendingPick->Height()};
        return kPickedWindow;
    }
    const TLogicalPoint logical = d_->Layout().LogicalPoint(point);
    const std::optional<TCompositorWindow> window = WindowAtPoint(compositor->Tree(), logical.X, logical.Y);
    return window ? window->id : kDesktop;
}

TRect WaylandCapturePlatform::GetWindowRect(HWND window)
{
    if (window == kDesktop) {
        const TPoint size = GetScreenSize();
        return {0, 0, size.X, size.Y};
    }
    if (window == kPickedWindow)
        return {0, 0, d_->pickedSize.X, d_->pickedSize.Y};
    const std::optional<TCompositorWindow> found = d_->CompositorWindow(window);
    return found ? d_->Layout().DeviceRect(found->rect) : TRect{};
}

TPoint WaylandCapturePlatform::GetCursorPos()
{
    return d_->pointer;
}

TPoint WaylandCapturePlatform::GetScreenSize()
{
    return d_->Layout().PictureSize();
}

HDC WaylandCapturePlatform::GetDC(HWND window)
{
    if ((window == 0 || window == kDesktop || window == kPickedWindow) && d_->pendingPick)
        return d_->AddContext(window, {}, std::exchange(d_->pendingPick, nullptr));
    std::shared_ptr<const TBitmap> picture = d_->TakePicture(false);
    TPoint origin;
    if (const std::optional<TCompositorWindow> found = d_->CompositorWindow(window)) {
        const TRect client = d_->Layout().DeviceRect(found->client);
        origin = {client.Left, client.Top};
    }
    return d_->AddContext(window, origin, std::move(picture));
}

HDC WaylandCapturePlatform::GetWindowDC(HWND window)
{
    if (window == kPickedWindow) {
        std::shared_ptr<const TBitmap> picture = d_->TakePicture(true);
        d_->pickedSize = {picture->Width(), picture->Height()};
        return d_->AddContext(window, {}, std::move(picture));
    }
    std::shared_ptr<const TBitmap> picture = d_->TakePicture(false);
    const TRect rect = GetWindowRect(window);
    return d_->AddContext(window, {rect.Left, rect.Top}, std::move(picture));
}

int WaylandCapturePlatform::ReleaseDC(HWND, HDC dc)
{
    return d_->contexts.erase(dc) ? 1 : 0;
}

std::unique_ptr<TBitmap> WaylandCapturePlatform::TakeWaitingClipboardImage()
{
    return std::move(d_->pendingClipboard);
}

int WaylandCapturePlatform::OpenContexts() const
{
    return static_cast<int>(d_->contexts.size());
}

bool WaylandCapturePlatform::IsPaletteDevice(HDC)
{
    return false;
}

unsigned WaylandCapturePlatform::GetSystemPaletteEntries(HDC, unsigned, unsigned, TPaletteEntry*)
{
    return 0;
}

void WaylandCapturePlatform::BitBlt(TBitmap& dest, HDC source, int x, int y)
{
    const auto it = d_->contexts.find(source);
    if (it == d_->contexts.end() || dest.Empty())
        return;
    const TBitmap& picture = *it->second.picture;
    DevicePixelTarget target(dest);
    TBitmap& pixels = target.Pixels();
    const auto clampToInt = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
    const int left = clampToInt(int64_t{it->second.origin.X} + x);
    const int top = clampToInt(int64_t{it->second.origin.Y} + y);
    const TRect wanted{left, top, clampToInt(int64_t{left} + pixels.Width()), clampToInt(int64_t{top} + pixels.Height())};
    const TRect area = Intersect(wanted, {0, 0, picture.Width(), picture.Height()});
    // What lies outside the picture is black, not left over from an earlier capture.
    if (area != wanted)
        target.Clear();
    // Blue, green and red as they are; the picture's alpha becomes the display format's unused byte, 0.
    for (int row = area.Top; row < area.Bottom; ++row) {
        const uint8_t* from = picture.ScanLine(row) + 4 * static_cast<size_t>(area.Left);
        uint8_t* to = pixels.ScanLine(row - top) + 4 * static_cast<size_t>(area.Left - left);
        for (int x = 0; x < area.Width(); ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, from + 4 * x, 4);
            pixel &= 0x00FFFFFFu;
            std::memcpy(to + 4 * x, &pixel, 4);
        }
    }
    target.Finish();
}

void WaylandCapturePlatform::MinimizeApplication()
{
    if (!GuiApplication() || d_->windows.IsMinimized())
        return;
    // Compositors are free to ignore a minimise request: the windows are hidden instead.
    d_->RememberPlaces();
    if (d_->windows.Minimize(false).empty())
        return;
    d_->WaitUntilHidden();
}

void WaylandCapturePlatform::WaitForWindowChanges()
{
    if (GuiApplication())
        d_->WaitUntilHidden();
}

void WaylandCapturePlatform::RestoreApplication()
{
    if (!GuiApplication() || !d_->windows.IsMinimized())
        return;
    d_->windows.Restore();
    d_->PutBackInPlace();
}

bool WaylandCapturePlatform::IsApplicationMinimized()
{
    return d_->windows.IsMinimized();
}

void WaylandCapturePlatform::CopyToClipboard(const TBitmap& bitmap)
{
    d_->SetClipboardWhenFocused(bitmap);
}

void WaylandCapturePlatform::Sleep(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::vector<TMonitor> WaylandCapturePlatform::GetMonitors()
{
    return d_->Layout().Monitors();
}

void WaylandCapturePlatform::OverlayPointerMoved(TPoint point)
{
    d_->pointer = point;
}

bool WaylandCapturePlatform::PicksWindowsInteractively()
{
    return d_->Ipc() == nullptr;
}
