// Gives a headless compositor's seat a keyboard and a pointer, as a desktop has: kavrel-test-input creates a
// virtual keyboard and a virtual pointer (the compositor's zwp_virtual_keyboard_manager_v1 and
// zwlr_virtual_pointer_manager_v1), prints "ready", and keeps them until it is killed. Without a keyboard
// no client ever gets the keyboard focus, which a Wayland client needs to set the clipboard. Lines on
// standard input drive the pointer:
//   move X Y WIDTH HEIGHT   to X, Y of a layout WIDTH by HEIGHT logical pixels large
//   press | release         the left button
#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The two protocols' interfaces as the wire sees them: requests in order, with their signatures.
const wl_interface* kNoTypes[5] = {};

const wl_message kPointerRequests[] = {
    {"motion", "uff", kNoTypes},      {"motion_absolute", "uuuuu", kNoTypes}, {"button", "uuu", kNoTypes},
    {"axis", "uuf", kNoTypes},        {"frame", "", kNoTypes},                {"axis_source", "u", kNoTypes},
    {"axis_stop", "uu", kNoTypes},    {"axis_discrete", "uufi", kNoTypes},    {"destroy", "", kNoTypes}};
const wl_interface kVirtualPointer = {"zwlr_virtual_pointer_v1", 1, 9, kPointerRequests, 0, nullptr};
const wl_interface* kCreatePointerTypes[] = {&wl_seat_interface, &kVirtualPointer};
const wl_message kPointerManagerRequests[] = {{"create_virtual_pointer", "?on", kCreatePointerTypes}};
const wl_interface kPointerManager = {"zwlr_virtual_pointer_manager_v1", 1, 1, kPointerManagerRequests, 0, nullptr};

const wl_message kKeyboardRequests[] = {{"keymap", "uhu", kNoTypes},
                                        {"key", "uuu", kNoTypes},
                                        {"modifiers", "uuuuu", kNoTypes},
                                        {"destroy", "", kNoTypes}};
const wl_interface kVirtualKeyboard = {"zwp_virtual_keyboard_v1", 1, 4, kKeyboardRequests, 0, nullptr};
const wl_interface* kCreateKeyboardTypes[] = {&wl_seat_interface, &kVirtualKeyboard};
const wl_message kKeyboardManagerRequests[] = {{"create_virtual_keyboard", "on", kCreateKeyboardTypes}};
const wl_interface kKeyboardManager = {"zwp_virtual_keyboard_manager_v1", 1, 1, kKeyboardManagerRequests, 0, nullptr};

// A US keyboard, completed by the compositor from the system's keyboard data.
const char kKeymap[] = "xkb_keymap { xkb_keycodes { include \"evdev+aliases(qwerty)\" }; xkb_types { include "
                       "\"complete\" }; xkb_compat { include \"complete\" }; xkb_symbols { include \"pc+us\" }; };";

struct Globals {
    wl_seat* seat = nullptr;
    wl_proxy* pointerManager = nullptr;
    wl_proxy* keyboardManager = nullptr;
};

void Global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat)
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, kPointerManager.name) == 0)
        globals->pointerManager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kPointerManager, 1));
    else if (std::strcmp(interface, kKeyboardManager.name) == 0)
        globals->keyboardManager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kKeyboardManager, 1));
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

}  // namespace

int main()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "kavrel-test-input: no Wayland display\n");
        return 1;
    }
    Globals globals;
    const wl_registry_listener listener{Global, GlobalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, &globals);
    wl_display_roundtrip(display);
    if (!globals.seat || !globals.pointerManager || !globals.keyboardManager) {
        std::fprintf(stderr, "kavrel-test-input: the compositor offers no virtual keyboard or pointer\n");
        return 1;
    }
    wl_proxy* pointer = wl_proxy_marshal_constructor(globals.pointerManager, 0, &kVirtualPointer, globals.seat, nullptr);
    wl_proxy* keyboard = wl_proxy_marshal_constructor(globals.keyboardManager, 0, &kVirtualKeyboard, globals.seat, nullptr);

    const int keymap = memfd_create("kavrel-keymap", MFD_CLOEXEC);
    if (keymap < 0 || write(keymap, kKeymap, sizeof kKeymap) != static_cast<ssize_t>(sizeof kKeymap))
        return 1;
    constexpr uint32_t kFormatXkbV1 = 1;
    wl_proxy_marshal(keyboard, 0, kFormatXkbV1, keymap, static_cast<uint32_t>(sizeof kKeymap));
    wl_display_roundtrip(display);
    std::printf("ready\n");
    std::fflush(stdout);

    constexpr uint32_t kLeftButton = 0x110;  // BTN_LEFT
    enum { kMotionAbsolute = 1, kButton = 2, kFrame = 4 };
    uint32_t time = 0;
    std::string pending;
    pollfd watched[2] = {{wl_display_get_fd(display), POLLIN, 0}, {0, POLLIN, 0}};
    for (;;) {
        wl_display_flush(display);
        if (poll(watched, watched[1].fd < 0 ? 1 : 2, -1) < 0)
            continue;
        if ((watched[0].revents & POLLIN) && wl_display_dispatch(display) == -1)
            return 0;
        if (!(watched[1].revents & (POLLIN | POLLHUP)))
            continue;
        char buffer[256];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0) {
            watched[1].fd = -1;  // nothing more to do but keep the devices
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            unsigned x, y, width, height;
            time += 10;
            if (std::sscanf(line.c_str(), "move %u %u %u %u", &x, &y, &width, &height) == 4)
                wl_proxy_marshal(pointer, kMotionAbsolute, time, x, y, width, height);
            else if (line == "press" || line == "release")
                wl_proxy_marshal(pointer, kButton, time, kLeftButton, line == "press" ? 1u : 0u);
            else
                continue;
            wl_proxy_marshal(pointer, kFrame);
        }
    }
}
