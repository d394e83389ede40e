#include "app/Childwin.h"

#include "app/ImageControl.h"
#include "app/ImageZoom.h"
#include "app/ScrollBox.h"
#include "ui_Childwin.h"

#include <QCloseEvent>
#include <QMenu>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

TMDIChild::TMDIChild(QWidget* parent)
    : QMdiSubWindow(parent)
    , ui_(std::make_unique<Ui::Childwin>())
{
    auto* client = new QWidget;
    ui_->setupUi(client);
    ScrollBox = ui_->ScrollBox;
    Image = ui_->Image;
    ScrollBox->SetContent(Image);
    setWidget(client);
    setWindowTitle(client->windowTitle());
    setBackgroundRole(QPalette::Window);
    setWindowIcon(QIcon(QStringLiteral(":/icons/kavrel.png")));
    // Every window's system menu offers Close with Ctrl+F4, and Qt runs none of several actions that
    // answer the same key; the frame answers it for the active window instead.
    if (QMenu* menu = systemMenu())
        for (QAction* action : menu->actions())
            action->setShortcutContext(Qt::WidgetShortcut);
    // The wheel reaches the picture first, and the view where the picture does not cover it.
    Image->installEventFilter(this);
    ScrollBox->viewport()->installEventFilter(this);
}

TMDIChild::~TMDIChild() = default;

void TMDIChild::FormClose(QObject*, TCloseAction& action)
{
    action = TCloseAction::caFree;
}

void TMDIChild::closeEvent(QCloseEvent* event)
{
    // A closed document window would be minimised by default; this one is released instead, later,
    // when control is back in the event loop. No window ever asks before closing.
    TCloseAction action = TCloseAction::caMinimize;
    FormClose(this, action);
    switch (action) {
    case TCloseAction::caNone:
        event->ignore();
        return;
    case TCloseAction::caMinimize:
        event->ignore();
        showMinimized();
        return;
    case TCloseAction::caHide:
        break;
    case TCloseAction::caFree:
        setAttribute(Qt::WA_DeleteOnClose);
        break;
    }
    QMdiSubWindow::closeEvent(event);
}

double TMDIChild::Zoom() const
{
    return Image->Zoom();
}

double TMDIChild::FitZoom() const
{
    return ::FitZoom(Image->DisplayImage().size(), ScrollBox->size());
}

void TMDIChild::SetZoom(double scale, std::optional<QPointF> anchor)
{
    const QSize picture = Image->DisplayImage().size();
    scale = std::min(scale, kMaxZoom);
    const double old = Image->Zoom();
    if (picture.isEmpty() || !(scale > 0) || scale == old)
        return;
    const QPointF at = anchor.value_or(QRectF(ScrollBox->viewport()->rect()).center());
    const QPoint scroll = AnchoredScroll(QPoint(ScrollBox->HorzPosition(), ScrollBox->VertPosition()), at, old, scale);
    const QSize zoomed = ZoomedSize(picture, scale);
    Image->SetZoom(scale);
    ScrollBox->SetHorzRange(zoomed.width());
    ScrollBox->SetVertRange(zoomed.height());
    ScrollBox->horizontalScrollBar()->setValue(scroll.x());
    ScrollBox->verticalScrollBar()->setValue(scroll.y());

    if (old == 1.0)
        unzoomedTitle_ = windowTitle();
    setWindowTitle(
        scale == 1.0 ? unzoomedTitle_ : QStringLiteral("%1 (%2%)").arg(unzoomedTitle_).arg(ZoomPercent(scale)));
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* event)
{
    QWidget* view = ScrollBox->viewport();
    if ((watched == Image || watched == view) && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            const QPoint delta = wheel->angleDelta();
            wheelRemainder_ += delta.y() != 0 ? delta.y() : delta.x();
            const int notches = wheelRemainder_ / QWheelEvent::DefaultDeltasPerStep;
            wheelRemainder_ %= QWheelEvent::DefaultDeltasPerStep;
            if (notches != 0)
                SetZoom(StepZoom(Zoom(), notches), static_cast<QWidget*>(watched)->mapTo(view, wheel->position()));
            return true;
        }
    }
    return QMdiSubWindow::eventFilter(watched, event);
}
