#include "capture/SessionCapturePlatform.h"

#include "capture/WaylandCapturePlatform.h"
#include "capture/X11CapturePlatform.h"

std::unique_ptr<ICapturePlatform> CreateSessionCapturePlatform()
{
    if (IsWaylandSession())
        return std::make_unique<WaylandCapturePlatform>();
    return std::make_unique<X11CapturePlatform>();
}

ICapturePlatform& DefaultCapturePlatform()
{
    static const std::unique_ptr<ICapturePlatform> platform = CreateSessionCapturePlatform();
    return *platform;
}
