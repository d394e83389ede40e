#include "app/QtDialogHooks.h"

#include "app/Application.h"
#include "framework/DialogHooks.h"

#include <QApplication>
#include <QMessageBox>

namespace {

void QtBeep()
{
    QApplication::beep();
}

bool QtWarningOkCancel(const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, ApplicationTitle(), QString::fromStdString(text),
        QMessageBox::Ok | QMessageBox::Cancel, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

} // namespace

void InstallQtDialogHooks()
{
    SetBeepHandler(QtBeep);
    SetWarningHandler(QtWarningOkCancel);
}
