#include "capture/WlrScreencopy.h"

#include "xdg-output-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The screencopy protocol as the wire sees it (version 1): requests and events in order, with their
// signatures. wayland-protocols does not ship it, so it is written out here.
const wl_interface* kNoTypes[7] = {};
extern const wl_interface kFrameInterface;
const wl_interface* kCaptureOutputTypes[] = {&kFrameInterface, nullptr, &wl_output_interface};
const wl_interface* kCaptureRegionTypes[] = {&kFrameInterface, nullptr, &wl_output_interface, nullptr, nullptr, nullptr, nullptr};
const wl_message kManagerRequests[] = {{"capture_output", "nio", kCaptureOutputTypes},
                                       {"capture_output_region", "nioiiii", kCaptureRegionTypes},
                                       {"destroy", "", kNoTypes}};
const wl_interface kManagerInterface = {"zwlr_screencopy_manager_v1", 1, 3, kManagerRequests, 0, nullptr};
const wl_interface* kCopyTypes[] = {&wl_buffer_interface};
const wl_message kFrameRequests[] = {{"copy", "o", kCopyTypes}, {"destroy", "", kNoTypes}};
const wl_message kFrameEvents[] = {
    {"buffer", "uuuu", kNoTypes}, {"flags", "u", kNoTypes}, {"ready", "uuu", kNoTypes}, {"failed", "", kNoTypes}};
const wl_interface kFrameInterface = {"zwlr_screencopy_frame_v1", 1, 2, kFrameRequests, 4, kFrameEvents};
enum { kCaptureOutput = 0, kManagerDestroy = 2, kFrameCopy = 0, kFrameDestroy = 1 };
constexpr uint32_t kYInvert = 1;

// Gives up on a compositor that does not answer, and on pictures no screen has.
constexpr int kTimeoutMs = 3000;
constexpr uint32_t kMaxSide = 32768;

struct FrameListener {
    void (*buffer)(void*, wl_proxy*, uint32_t format, uint32_t width, uint32_t height, uint32_t stride);
    void (*flags)(void*, wl_proxy*, uint32_t flags);
    void (*ready)(void*, wl_proxy*, uint32_t, uint32_t, uint32_t);
    void (*failed)(void*, wl_proxy*);
};

struct Output {
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    int x = 0, y = 0, width = 0, height = 0;  // logical
    // The copy.
    wl_proxy* frame = nullptr;
    wl_shm* shm = nullptr;
    wl_buffer* buffer = nullptr;
    uint8_t* pixels = nullptr;
    size_t size = 0;
    uint32_t format = 0, bufferWidth = 0, bufferHeight = 0, stride = 0, flags = 0;
    bool ready = false;
    bool failed = false;

    ~Output()
    {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (frame)
            wl_proxy_marshal(frame, kFrameDestroy), wl_proxy_destroy(frame);
        if (xdg)
            zxdg_output_v1_destroy(xdg);
        if (output)
            wl_output_destroy(output);
        if (pixels)
            munmap(pixels, size);
    }
};

struct Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_shm* shm = nullptr;
    wl_proxy* manager = nullptr;
    zxdg_output_manager_v1* xdgManager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;

    ~Connection()
    {
        outputs.clear();
        if (xdgManager)
            zxdg_output_manager_v1_destroy(xdgManager);
        if (manager)
            wl_proxy_marshal(manager, kManagerDestroy), wl_proxy_destroy(manager);
        if (shm)
            wl_shm_destroy(shm);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }

    // Dispatches the compositor's events until `done` holds; false on a timeout or a broken connection.
    template <typename Done>
    bool DispatchUntil(Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (!done()) {
            while (wl_display_prepare_read(display) != 0)
                if (wl_display_dispatch_pending(display) < 0)
                    return false;
            if (done()) {
                wl_display_cancel_read(display);
                break;
            }
            wl_display_flush(display);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd wait{wl_display_get_fd(display), POLLIN, 0};
            if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
                wl_display_cancel_read(display);
                return false;
            }
            if (wl_display_read_events(display) != 0 || wl_display_dispatch_pending(display) < 0)
                return false;
        }
        return true;
    }
};

void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* c = static_cast<Connection*>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0 && !c->shm) {
        c->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, kManagerInterface.name) == 0 && !c->manager) {
        c->manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManagerInterface, 1));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && !c->xdgManager) {
        c->xdgManager = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Output>();
        output->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
        c->outputs.push_back(std::move(output));
    }
    (void)version;
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

void LogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y)
{
    auto* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
}

void LogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height)
{
    auto* o = static_cast<Output*>(data);
    o->width = width;
    o->height = height;
}

void XdgDone(void*, zxdg_output_v1*) {}

void FrameBuffer(void* data, wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height, uint32_t stride)
{
    auto* o = static_cast<Output*>(data);
    o->format = format;
    o->bufferWidth = width;
    o->bufferHeight = height;
    o->stride = stride;
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || stride < width * 4 || stride > kMaxSide * 16) {
        o->failed = true;
        return;
    }
    o->size = static_cast<size_t>(stride) * height;
    const int fd = memfd_create("kavrel-screencopy", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(o->size)) != 0) {
        if (fd >= 0)
            close(fd);
        o->failed = true;
        return;
    }
    void* pixels = mmap(nullptr, o->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        o->failed = true;
        return;
    }
    o->pixels = static_cast<uint8_t*>(pixels);
    wl_shm_pool* pool = wl_shm_create_pool(o->shm, fd, static_cast<int32_t>(o->size));
    o->buffer = wl_shm_pool_create_buffer(pool, 0, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                          static_cast<int32_t>(stride), format);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_proxy_marshal(frame, kFrameCopy, o->buffer);
}

void FrameFlags(void* data, wl_proxy*, uint32_t flags)
{
    static_cast<Output*>(data)->flags = flags;
}

void FrameReady(void* data, wl_proxy*, uint32_t, uint32_t, uint32_t)
{
    static_cast<Output*>(data)->ready = true;
}

void FrameFailed(void* data, wl_proxy*)
{
    static_cast<Output*>(data)->failed = true;
}

const wl_registry_listener kRegistryListener{Global, GlobalRemove};
const zxdg_output_v1_listener kXdgListener{LogicalPosition, LogicalSize, XdgDone, nullptr, nullptr};
const FrameListener kFrameListener{FrameBuffer, FrameFlags, FrameReady, FrameFailed};

// Whether blue is the buffer's first byte (the bitmap's order) or red.
std::optional<bool> BlueFirst(uint32_t format)
{
    switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
        return true;
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888:
        return false;
    default:
        return std::nullopt;
    }
}

}  // namespace

std::optional<TBitmap> CopyDesktopFromCompositor()
{
    Connection c;
    c.display = wl_display_connect(nullptr);
    if (!c.display)
        return std::nullopt;
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &kRegistryListener, &c);
    if (wl_display_roundtrip(c.display) < 0 || !c.shm || !c.manager || !c.xdgManager || c.outputs.empty())
        return std::nullopt;

    for (const auto& output : c.outputs) {
        output->shm = c.shm;
        output->xdg = zxdg_output_manager_v1_get_xdg_output(c.xdgManager, output->output);
        zxdg_output_v1_add_listener(output->xdg, &kXdgListener, output.get());
        output->frame = wl_proxy_marshal_constructor(c.manager, kCaptureOutput, &kFrameInterface, nullptr, 0, output->output);
        wl_proxy_add_listener(output->frame, reinterpret_cast<void (**)(void)>(const_cast<FrameListener*>(&kFrameListener)),
                              output.get());
    }
    const bool answered = c.DispatchUntil([&] {
        return std::all_of(c.outputs.begin(), c.outputs.end(), [](const auto& o) { return o->ready || o->failed; });
    });
    if (!answered)
        return std::nullopt;

    // The layout: the bounding box of the outputs' logical rectangles at the highest scale.
    int left = 0, top = 0, right = 0, bottom = 0;
    double scale = 0;
    bool first = true;
    for (const auto& o : c.outputs) {
        if (o->failed || o->width <= 0 || o->height <= 0 || !BlueFirst(o->format))
            return std::nullopt;
        left = first ? o->x : std::min(left, o->x);
        top = first ? o->y : std::min(top, o->y);
        right = first ? o->x + o->width : std::max(right, o->x + o->width);
        bottom = first ? o->y + o->height : std::max(bottom, o->y + o->height);
        // A turned output (its buffer not in the shape of its logical size) is left to the screenshot service.
        const double scaleX = static_cast<double>(o->bufferWidth) / o->width;
        if (std::abs(scaleX - static_cast<double>(o->bufferHeight) / o->height) > 0.02)
            return std::nullopt;
        scale = std::max(scale, scaleX);
        first = false;
    }
    const long long pictureWidth = std::llround((right - left) * scale);
    const long long pictureHeight = std::llround((bottom - top) * scale);
    if (pictureWidth <= 0 || pictureHeight <= 0 || pictureWidth > kMaxSide || pictureHeight > kMaxSide)
        return std::nullopt;

    TBitmap picture;
    picture.SetPixelFormat(pf32bit);
    picture.SetSize(static_cast<int>(pictureWidth), static_cast<int>(pictureHeight));
    for (const auto& o : c.outputs) {
        const int x0 = static_cast<int>(std::lround((o->x - left) * scale));
        const int y0 = static_cast<int>(std::lround((o->y - top) * scale));
        const int x1 = static_cast<int>(std::lround((o->x + o->width - left) * scale));
        const int y1 = static_cast<int>(std::lround((o->y + o->height - top) * scale));
        const bool blueFirst = *BlueFirst(o->format);
        const bool inverted = o->flags & kYInvert;
        // Each pixel of the picture takes the output's pixel that covers it.
        std::vector<uint32_t> columns(static_cast<size_t>(x1 - x0));
        for (int x = x0; x < x1; ++x)
            columns[x - x0] = std::min<uint32_t>(static_cast<uint32_t>((x - x0) * static_cast<uint64_t>(o->bufferWidth) / (x1 - x0)),
                                                 o->bufferWidth - 1);
        for (int y = y0; y < y1; ++y) {
            uint32_t row = std::min<uint32_t>(static_cast<uint32_t>((y - y0) * static_cast<uint64_t>(o->bufferHeight) / (y1 - y0)),
                                              o->bufferHeight - 1);
            if (inverted)
                row = o->bufferHeight - 1 - row;
            const uint8_t* from = o->pixels + static_cast<size_t>(row) * o->stride;
            uint8_t* to = picture.ScanLine(y) + 4 * static_cast<size_t>(x0);
            for (size_t i = 0; i < columns.size(); ++i, to += 4) {
                const uint8_t* p = from + 4 * static_cast<size_t>(columns[i]);
                to[0] = blueFirst ? p[0] : p[2];
                to[1] = p[1];
                to[2] = blueFirst ? p[2] : p[0];
                to[3] = 0xFF;
            }
        }
    }
    return picture;
}
