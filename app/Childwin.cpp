#include "app/Childwin.h"

#include "app/ImageControl.h"
#include "app/ScrollBox.h"
#include "ui_Childwin.h"

#include <QCloseEvent>

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
