#pragma once

#include "capture/CaptureOverlays.h"
#include "capture/ScreenOverlay.h"

// The object overlay: covers the screen, which stays visible as it was, with the hand cursor "CURSOR_1"
// and ends with mrOk on the first release of any mouse button. The capture component then looks for the
// window under the mouse itself.
class TCaptureObjectForm : public ScreenOverlay, public IObjectOverlay {
    Q_OBJECT
public:
    // Installs the hand cursor and covers the screen.
    explicit TCaptureObjectForm(ICapturePlatform& platform, QWidget* parent = nullptr);
    ~TCaptureObjectForm() override;

    int ShowModal() override { return RunModal(); }

protected:
    bool event(QEvent* event) override;
    void OverlayMouseUp(Qt::MouseButton button, TPoint point) override;

private:
    void FormCreate();
    void FormActivate();
    void FormMouseUp();
    void FormDestroy();
    void InstallHandCursor();
};
