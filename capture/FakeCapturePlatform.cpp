#include "capture/FakeCapturePlatform.h"

#include "framework/Exception.h"

#include <algorithm>
#include <cstring>

namespace {

std::string Str(TPoint p)
{
    return std::to_string(p.X) + ", " + std::to_string(p.Y);
}

}  // namespace

FakeCapturePlatform::FakeCapturePlatform()
{
    SetScreenSize(64, 48);
}

void FakeCapturePlatform::SetScreenSize(int width, int height)
{
    screen.ReleaseHandle();
    screen.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = screen.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[4 * x] = static_cast<uint8_t>(x * 7 + y);
            row[4 * x + 1] = static_cast<uint8_t>(y * 5 + x / 3);
            row[4 * x + 2] = static_cast<uint8_t>(x ^ y);
            row[4 * x + 3] = 0;
        }
    }
}

uint32_t FakeCapturePlatform::PixelAt(const TBitmap& bitmap, int x, int y)
{
    if (x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height())
        return 0;
    const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

void FakeCapturePlatform::Record(const std::string& name, const std::string& details)
{
    log.push_back(name + details);
    if (!failOn.empty() && failOn == name)
        throw Exception("fake failure");
}

HWND FakeCapturePlatform::GetDesktopWindow()
{
    Record("GetDesktopWindow", " -> " + std::to_string(desktopWindow));
    return desktopWindow;
}

HWND FakeCapturePlatform::GetForegroundWindow()
{
    Record("GetForegroundWindow", " -> " + std::to_string(foregroundWindow));
    return foregroundWindow;
}

HWND FakeCapturePlatform::WindowFromPoint(TPoint point)
{
    HWND found = desktopWindow;
    if (windowAt) {
        found = windowAt(point);
    } else {
        for (const auto& [window, rect] : windows)
            if (rect.Contains(point))
                found = window;
    }
    Record("WindowFromPoint", "(" + Str(point) + ") -> " + std::to_string(found));
    return found;
}

TRect FakeCapturePlatform::GetWindowRect(HWND window)
{
    TRect rect;
    if (window == desktopWindow)
        rect = {0, 0, screen.Width(), screen.Height()};
    else if (auto it = windows.find(window); it != windows.end())
        rect = it->second;
    Record("GetWindowRect", "(" + std::to_string(window) + ")");
    return rect;
}

TPoint FakeCapturePlatform::GetCursorPos()
{
    Record("GetCursorPos", " -> " + Str(cursor));
    return cursor;
}

TPoint FakeCapturePlatform::GetScreenSize()
{
    Record("GetScreenSize");
    return {screen.Width(), screen.Height()};
}

HDC FakeCapturePlatform::GetDC(HWND window)
{
    const HDC dc = nextContext_;
    Record("GetDC", "(" + std::to_string(window) + ") -> " + std::to_string(dc));
    ++nextContext_;
    TPoint origin;
    if (auto it = windows.find(window); it != windows.end())
        origin = {it->second.Left, it->second.Top};
    origins_[dc] = origin;
    openContexts.insert(dc);
    return dc;
}

HDC FakeCapturePlatform::GetWindowDC(HWND window)
{
    const HDC dc = nextContext_;
    Record("GetWindowDC", "(" + std::to_string(window) + ") -> " + std::to_string(dc));
    ++nextContext_;
    TPoint origin;
    if (auto it = windows.find(window); it != windows.end())
        origin = {it->second.Left, it->second.Top};
    origins_[dc] = origin;
    openContexts.insert(dc);
    return dc;
}

int FakeCapturePlatform::ReleaseDC(HWND window, HDC dc)
{
    if (openContexts.erase(dc) == 0) {
        ++badReleases;
        Record("ReleaseDC", "(" + std::to_string(window) + ", " + std::to_string(dc) + ") -> 0");
        return 0;
    }
    Record("ReleaseDC", "(" + std::to_string(window) + ", " + std::to_string(dc) + ")");
    return 1;
}

bool FakeCapturePlatform::IsPaletteDevice(HDC dc)
{
    Record("IsPaletteDevice", "(" + std::to_string(dc) + ")");
    return paletteDevice;
}

unsigned FakeCapturePlatform::GetSystemPaletteEntries(HDC dc, unsigned start, unsigned count, TPaletteEntry* entries)
{
    Record("GetSystemPaletteEntries", "(" + std::to_string(dc) + ", " + std::to_string(start) + ", " +
                                          std::to_string(count) + ")");
    unsigned copied = 0;
    for (unsigned i = start; i < systemPalette.size() && copied < count; ++i)
        entries[copied++] = systemPalette[i];
    return copied;
}

void FakeCapturePlatform::BitBlt(TBitmap& dest, HDC source, int x, int y)
{
    Record("BitBlt", "(" + std::to_string(source) + ", " + std::to_string(x) + ", " + std::to_string(y) + ", " +
                         std::to_string(dest.Width()) + "x" + std::to_string(dest.Height()) + ")");
    if (!openContexts.count(source))
        return;
    const TPoint origin = origins_[source];
    for (int row = 0; row < dest.Height(); ++row) {
        uint8_t* out = dest.ScanLine(row);
        for (int column = 0; column < dest.Width(); ++column) {
            const uint32_t pixel = PixelAt(screen, origin.X + x + column, origin.Y + y + row);
            out[4 * column] = static_cast<uint8_t>(pixel);
            out[4 * column + 1] = static_cast<uint8_t>(pixel >> 8);
            out[4 * column + 2] = static_cast<uint8_t>(pixel >> 16);
            out[4 * column + 3] = 0;
        }
    }
}

void FakeCapturePlatform::MinimizeApplication()
{
    Record("MinimizeApplication", minimized ? " (already)" : "");
    minimized = true;
}

void FakeCapturePlatform::RestoreApplication()
{
    Record("RestoreApplication", minimized ? "" : " (not minimised)");
    minimized = false;
}

bool FakeCapturePlatform::IsApplicationMinimized()
{
    return minimized;
}

void FakeCapturePlatform::CopyToClipboard(const TBitmap& bitmap)
{
    Record("CopyToClipboard", "(" + std::to_string(bitmap.Width()) + "x" + std::to_string(bitmap.Height()) + ")");
    clipboard.push_back(bitmap);
}

void FakeCapturePlatform::Sleep(int milliseconds)
{
    Record("Sleep", "(" + std::to_string(milliseconds) + ")");
    if (onSleep)
        onSleep(milliseconds);
}

class FakeObjectOverlay : public IObjectOverlay {
public:
    explicit FakeObjectOverlay(FakeCaptureOverlays& owner) : owner_(owner) { ++owner_.liveOverlays; }
    ~FakeObjectOverlay() override
    {
        --owner_.liveOverlays;
        owner_.platform_.log.push_back("DestroyObjectOverlay");
    }
    int ShowModal() override
    {
        owner_.platform_.log.push_back("ShowObjectOverlay -> " + std::to_string(owner_.modalResult));
        if (owner_.whileShown)
            owner_.whileShown();
        return owner_.modalResult;
    }

private:
    FakeCaptureOverlays& owner_;
};

class FakeAreaOverlay : public IAreaOverlay {
public:
    explicit FakeAreaOverlay(FakeCaptureOverlays& owner) : owner_(owner) { ++owner_.liveOverlays; }
    ~FakeAreaOverlay() override
    {
        --owner_.liveOverlays;
        owner_.platform_.log.push_back("DestroyAreaOverlay");
    }
    int ShowModal() override
    {
        owner_.platform_.log.push_back("ShowAreaOverlay -> " + std::to_string(owner_.modalResult));
        if (owner_.whileShown)
            owner_.whileShown();
        return owner_.modalResult;
    }
    const TBitmap& Selection() const override
    {
        owner_.platform_.log.push_back("Selection");
        return owner_.selection;
    }

private:
    FakeCaptureOverlays& owner_;
};

std::unique_ptr<IObjectOverlay> FakeCaptureOverlays::CreateObjectOverlay()
{
    platform_.log.push_back("CreateObjectOverlay");
    return std::make_unique<FakeObjectOverlay>(*this);
}

std::unique_ptr<IAreaOverlay> FakeCaptureOverlays::CreateAreaOverlay()
{
    platform_.log.push_back("CreateAreaOverlay");
    return std::make_unique<FakeAreaOverlay>(*this);
}
