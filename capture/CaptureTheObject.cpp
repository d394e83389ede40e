#include "capture/CaptureTheObject.h"

#include "capture/CursorTable.h"
#include "ui_CaptureTheObject.h"

#include <QEvent>

TCaptureObjectForm::TCaptureObjectForm(ICapturePlatform& platform, QWidget* parent) : ScreenOverlay(platform, parent)
{
    Ui::CaptureObjectForm().setupUi(this);
    FormCreate();
}

TCaptureObjectForm::~TCaptureObjectForm()
{
    FormDestroy();
}

void TCaptureObjectForm::FormCreate()
{
    InstallHandCursor();
    // A window that paints nothing shows black (or garbage) on X11 rather than what lies beneath it:
    // the overlay shows the screen as it was when it came up.
    TakeSnapshot();
    CoverScreen();
}

void TCaptureObjectForm::FormActivate()
{
    InstallHandCursor();
}

void TCaptureObjectForm::FormMouseUp()
{
    SetModalResult(mrOk);
}

void TCaptureObjectForm::FormDestroy()
{
    CursorTable::Application().SetOverride(crDefault);
}

void TCaptureObjectForm::InstallHandCursor()
{
    CursorTable& cursors = CursorTable::Application();
    cursors.SetCursor(crNo, LoadCursor("CURSOR_1"));
    cursors.SetControlCursor(this, crNo);
}

bool TCaptureObjectForm::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Guarded([this] { FormActivate(); });
    return ScreenOverlay::event(event);
}

void TCaptureObjectForm::OverlayMouseUp(Qt::MouseButton, TPoint)
{
    FormMouseUp();
}
