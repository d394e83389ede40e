#include "capture/OxaCapture.h"

#include "framework/Exception.h"

TOxaScreenCapture::TOxaScreenCapture(ICapturePlatform& platform, ICaptureOverlays* overlays)
    : bitmap_(std::make_unique<TBitmap>()), platform_(platform), overlays_(overlays)
{
}

TOxaScreenCapture::~TOxaScreenCapture() = default;

std::string TOxaScreenCapture::Version() const
{
    return "TOxaScreenCapture v1.0";
}

void TOxaScreenCapture::SetVersion(const std::string&) {}

void TOxaScreenCapture::HideStep()
{
    if (minimize_)
        platform_.MinimizeApplication();
}

void TOxaScreenCapture::WaitStep()
{
    platform_.Sleep(delay_);
}

void TOxaScreenCapture::PaletteStep(HDC dc)
{
    ApplySystemPalette(platform_, dc, *bitmap_);
}

void TOxaScreenCapture::SizeStep(const TRect& rect)
{
    bitmap_->SetWidth(rect.Right - rect.Left);
    bitmap_->SetHeight(rect.Bottom - rect.Top);
}

void TOxaScreenCapture::CopyStep(HDC source, int x, int y)
{
    platform_.BitBlt(*bitmap_, source, x, y);
}

std::unique_ptr<TBitmap> TOxaScreenCapture::FinishingStep()
{
    auto result = std::make_unique<TBitmap>(*bitmap_);
    // An image of no pixels (a click without a drag) would only wipe out what the user had there.
    if (auto_ && !bitmap_->Empty())
        CopyToClipboard();
    if (onCapture_)
        onCapture_(*this);
    return result;
}

void TOxaScreenCapture::RestoreStep()
{
    if (minimize_)
        platform_.RestoreApplication();
}

std::unique_ptr<TBitmap> TOxaScreenCapture::WithRestore(const std::function<std::unique_ptr<TBitmap>()>& body)
{
    std::unique_ptr<TBitmap> result;
    try {
        result = body();
    } catch (const ECaptureCancelled&) {
        // A pick cancelled in the desktop's own dialog ends like a cancelled overlay: no bitmap.
        result = nullptr;
    } catch (...) {
        try {
            RestoreStep();
        } catch (...) {
            // The caller gets the original failure unchanged.
        }
        throw;
    }
    RestoreStep();
    return result;
}

ICaptureOverlays& TOxaScreenCapture::Overlays()
{
    if (!overlays_)
        throw Exception("The capture overlays are not available");
    return *overlays_;
}

std::unique_ptr<TBitmap> TOxaScreenCapture::CaptureDesktop()
{
    return WithRestore([this] {
        HideStep();
        WaitStep();
        const HWND desktop = platform_.GetDesktopWindow();
        DeviceContextLease dc(platform_, desktop, platform_.GetDC(desktop));
        const TRect rect = platform_.GetWindowRect(desktop);
        PaletteStep(dc.Get());
        SizeStep(rect);
        CopyStep(dc.Get(), 0, 0);
        dc.Release();
        return FinishingStep();
    });
}

std::unique_ptr<TBitmap> TOxaScreenCapture::CaptureActiveWindow()
{
    return WithRestore([this] {
        HideStep();
        WaitStep();
        const HWND window = platform_.GetForegroundWindow();
        DeviceContextLease dc(platform_, window, platform_.GetWindowDC(window));
        PaletteStep(dc.Get());
        const TRect rect = platform_.GetWindowRect(window);
        SizeStep(rect);
        CopyStep(dc.Get(), 0, 0);
        dc.Release();
        return FinishingStep();
    });
}

std::unique_ptr<TBitmap> TOxaScreenCapture::CaptureObject()
{
    return WithRestore([this] {
        std::unique_ptr<TBitmap> result;
        HideStep();
        WaitStep();
        const std::unique_ptr<IObjectOverlay> overlay = Overlays().CreateObjectOverlay();
        if (overlay->ShowModal() == mrOk) {
            WaitStep();
            // Where the mouse is now, after the wait: the click itself is not recorded anywhere.
            const TPoint point = platform_.GetCursorPos();
            const HWND window = platform_.WindowFromPoint(point);
            const TRect rect = platform_.GetWindowRect(window);
            SizeStep(rect);
            DeviceContextLease dc(platform_, 0, platform_.GetDC(0));
            PaletteStep(dc.Get());
            CopyStep(dc.Get(), rect.Left, rect.Top);
            result = FinishingStep();
            dc.Release();
        }
        return result;
    });
}

std::unique_ptr<TBitmap> TOxaScreenCapture::CaptureArea()
{
    return WithRestore([this] {
        std::unique_ptr<TBitmap> result;
        HideStep();
        WaitStep();
        const std::unique_ptr<IAreaOverlay> overlay = Overlays().CreateAreaOverlay();
        if (overlay->ShowModal() == mrOk) {
            WaitStep();
            bitmap_->Assign(overlay->Selection());
            result = FinishingStep();
        }
        return result;
    });
}

std::unique_ptr<TBitmap> TOxaScreenCapture::CaptureRect(const TRect& rect)
{
    if (rect.Width() <= 0 || rect.Height() <= 0)
        throw Exception("The capture rectangle is empty");
    return WithRestore([this, rect] {
        HideStep();
        WaitStep();
        DeviceContextLease dc(platform_, 0, platform_.GetDC(0));
        PaletteStep(dc.Get());
        SizeStep(rect);
        CopyStep(dc.Get(), rect.Left, rect.Top);
        dc.Release();
        return FinishingStep();
    });
}

void TOxaScreenCapture::CopyToClipboard()
{
    platform_.CopyToClipboard(*bitmap_);
}
