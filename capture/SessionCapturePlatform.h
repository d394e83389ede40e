#pragma once

#include "capture/CapturePlatform.h"

#include <memory>

// The capture platform of the session the program runs in: the Wayland one in a Wayland session (never
// Xwayland's root window, which holds none of the desktop's pixels), the X11 one otherwise.
std::unique_ptr<ICapturePlatform> CreateSessionCapturePlatform();

// The process's platform for the program's capture component, made on first use.
ICapturePlatform& DefaultCapturePlatform();
