#pragma once

#include <QList>
#include <QString>
#include <functional>

class QFileDialog;
class QWidget;

// Drives the modal dialogs that open while an action runs, as a user would: each modal widget that
// appears is handed to the next step, once; a step acts on it (types, clicks, closes) or only looks.
// A modal that appears when no step is left is closed and counted as unexpected.
struct ModalRun {
    int stepsRun = 0;
    int unexpected = 0;
    QStringList titles; // the window title of every modal seen, in order
};
using ModalStep = std::function<void(QWidget*)>;
ModalRun DriveModals(const std::function<void()>& action, const QList<ModalStep>& steps);

// Steps for the file dialogs.
QFileDialog* FileDialogOf(QWidget* modal);
// Types the name into the file name box and presses the dialog's Open or Save button.
void TypeAndAccept(QWidget* modal, const QString& name);
// Selects the filter entry (its Qt text), as choosing it in the file type box does.
void ChooseFilter(QWidget* modal, const QString& qtFilter);
void Cancel(QWidget* modal);
// The text of the file name box.
QString TypedName(QWidget* modal);
