#include "capture/CaptureTheRect.h"

#include "ui_CaptureTheRect.h"

#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kBandInterval = 100;  // milliseconds between two steps of the band's dashes

QRgb CanvasColor(TColor color)
{
    return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

}  // namespace

TCaptureRectForm::TCaptureRectForm(ICapturePlatform& platform, QWidget* parent) : ScreenOverlay(platform, parent)
{
    Ui::CaptureRectForm().setupUi(this);
    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
    FormCreate();
}

TCaptureRectForm::~TCaptureRectForm()
{
    FormDestroy();
}

void TCaptureRectForm::FormCreate()
{
    TakeSnapshot();
    CoverScreen();
    anchor_ = {0, 0};
    moving_ = {0, 0};
    DashPhase = 0x80;
    Timer1->setInterval(kBandInterval);
    Timer1->start();
}

void TCaptureRectForm::FormDestroy()
{
    Timer1->stop();
    snapshot_.ReleaseHandle();
    selection_.ReleaseHandle();
}

void TCaptureRectForm::OverlayMouseDown(Qt::MouseButton, TPoint point)
{
    FormMouseDown(point);
}

void TCaptureRectForm::OverlayMouseMove(Qt::MouseButtons buttons, TPoint point)
{
    FormMouseMove(buttons, point);
}

void TCaptureRectForm::OverlayMouseUp(Qt::MouseButton button, TPoint)
{
    FormMouseUp(button);
}

void TCaptureRectForm::FormMouseDown(TPoint point)
{
    EraseBand();
    anchor_ = point;
    moving_ = point;
    selectionRect_ = {point.X, point.Y, point.X, point.Y};
}

void TCaptureRectForm::FormMouseMove(Qt::MouseButtons buttons, TPoint point)
{
    if (!(buttons & Qt::LeftButton))
        return;
    EraseBand();
    moving_ = point;
    DrawBand();
    selectionRect_.Right = point.X;
    selectionRect_.Bottom = point.Y;
}

void TCaptureRectForm::FormMouseUp(Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        return;
    selectionRect_ = OrderedRect(anchor_, moving_);
    const TRect& r = selectionRect_;
    if (r.Left < r.Right && r.Top < r.Bottom) {
        EraseBand();
        // The frozen image of the rectangle: what the screen inside the overlay shows now that the band
        // is gone. The mouse can leave a window that does not cover the whole screen; only the part of
        // the rectangle on the screen's copy is taken.
        const TRect part{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, snapshot_.Width()),
                         std::min(r.Bottom, snapshot_.Height())};
        TBitmap image;
        if (part.Left < part.Right && part.Top < part.Bottom) {
            image.SetSize(part.Width(), part.Height());
            if (const TPalette* palette = snapshot_.Palette())
                image.SetPalette(std::make_unique<TPalette>(palette->Entries()));
            const size_t pixelBytes = static_cast<size_t>(snapshot_.BitsPerPixel() / 8);
            for (int y = 0; y < part.Height(); ++y)
                std::memcpy(image.ScanLine(y), snapshot_.ScanLine(part.Top + y) + pixelBytes * part.Left,
                            pixelBytes * part.Width());
        }
        selection_ = std::move(image);
    }
    SetModalResult(mrOk);
}

void TCaptureRectForm::Timer1Timer()
{
    DashPhase = NextDashPhase(DashPhase);
    DrawBand();
}

void TCaptureRectForm::EraseBand()
{
    const std::vector<TRect> ring = BandRing(anchor_, moving_);
    for (const TRect& rect : ring)
        RestoreFromSnapshot(rect);
    RepaintDevice(ring);
}

void TCaptureRectForm::DrawBand()
{
    DashBits = DashPhase;
    TraceBand(anchor_, moving_, [this](int x, int y) { BandPixel(x, y); });
    RepaintDevice(BandOutline(anchor_, moving_));
}

void TCaptureRectForm::BandPixel(int x, int y)
{
    DashBits = NextDashBits(DashBits);
    if (canvas_.valid(x, y))
        canvas_.setPixel(x, y, CanvasColor(DashColor(DashBits)));
}
