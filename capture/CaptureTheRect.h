#pragma once

#include "capture/CaptureOverlays.h"
#include "capture/ScreenOverlay.h"
#include "capture/SelectionBand.h"

#include <cstdint>

class QTimer;

// The area overlay: shows the frozen copy of the screen taken at creation, lets the user drag a
// rectangle outlined by a crawling red and white band, and on the left button's release copies the
// rectangle's frozen image into its selection and ends with mrOk.
class TCaptureRectForm : public ScreenOverlay, public IAreaOverlay {
    Q_OBJECT
public:
    // Takes the frozen copy of the screen and starts the band's timer.
    explicit TCaptureRectForm(ICapturePlatform& platform, QWidget* parent = nullptr);
    ~TCaptureRectForm() override;

    int ShowModal() override { return RunModal(); }
    const TBitmap& Selection() const override { return selection_; }

    // Animates the band every 100 ms for as long as the overlay exists.
    QTimer* Timer1 = nullptr;

    TPoint Anchor() const { return anchor_; }
    TPoint MovingCorner() const { return moving_; }
    // The ordered rectangle after the release; before it, the corners as the mouse left them.
    TRect SelectionRect() const { return selectionRect_; }
    // The pattern value with which the band's next drawing starts.
    uint8_t CurrentDashPhase() const { return DashPhase; }

protected:
    void OverlayMouseDown(Qt::MouseButton button, TPoint point) override;
    void OverlayMouseMove(Qt::MouseButtons buttons, TPoint point) override;
    void OverlayMouseUp(Qt::MouseButton button, TPoint point) override;

private:
    void FormCreate();
    void FormDestroy();
    void FormMouseDown(TPoint point);
    void FormMouseMove(Qt::MouseButtons buttons, TPoint point);
    void FormMouseUp(Qt::MouseButton button);
    void Timer1Timer();
    void EraseBand();
    void DrawBand();
    void BandPixel(int x, int y);

    TPoint anchor_;
    TPoint moving_;
    TRect selectionRect_;
    TBitmap selection_;
    uint8_t DashPhase = 0x80;
    uint8_t DashBits = 0;
};
