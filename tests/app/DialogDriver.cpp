#include "DialogDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

ModalRun DriveModals(const std::function<void()>& action, const QList<ModalStep>& steps)
{
    ModalRun run;
    QList<QPointer<QWidget>> seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        for (const QPointer<QWidget>& known : seen)
            if (known == modal)
                return;
        seen.append(modal);
        run.titles.append(modal->windowTitle());
        // The step runs from the event loop, not from this slot: a step that opens a nested dialog
        // (a confirmation, the error box) must leave this timer free to find it.
        if (run.stepsRun < steps.size()) {
            const ModalStep step = steps[run.stepsRun++];
            QTimer::singleShot(0, modal, [step, target = QPointer<QWidget>(modal)] {
                if (target)
                    step(target);
                // A step that failed halfway must not leave the test waiting on its dialog.
                if (QTest::currentTestFailed() && target && target->isVisible())
                    target->close();
            });
        } else {
            ++run.unexpected;
            QTimer::singleShot(0, modal, [target = QPointer<QWidget>(modal)] {
                if (target)
                    target->close();
            });
        }
    });
    poll.start();
    action();
    poll.stop();
    return run;
}

QFileDialog* FileDialogOf(QWidget* modal)
{
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog)
        qFatal("expected a file dialog, got %s", modal ? modal->metaObject()->className() : "nothing");
    return dialog;
}

void TypeAndAccept(QWidget* modal, const QString& name)
{
    QFileDialog* dialog = FileDialogOf(modal);
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (!edit || !buttons)
        qFatal("the file dialog has no name box or no buttons");
    // A user types into the focused name box of the active dialog; without the focus the dialog
    // copies the file selected in its list over the name while it is being typed.
    dialog->activateWindow();
    if (!QTest::qWaitForWindowActive(dialog))
        qFatal("the file dialog did not become active");
    edit->setFocus(Qt::OtherFocusReason);
    // The completion list would pop up over the dialog while typing and could take keys meant for
    // the name box; a user typing a whole name ends with the same text.
    QCompleter* completer = edit->completer();
    edit->setCompleter(nullptr);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, name);
    edit->setCompleter(completer);
    if (edit->text() != name)
        qFatal("typed %s, the name box holds %s", qPrintable(name), qPrintable(edit->text()));
    QPushButton* accept = buttons->button(
        dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save : QDialogButtonBox::Open);
    if (!accept)
        qFatal("the file dialog has no accept button");
    accept->click();
}

void ChooseFilter(QWidget* modal, const QString& qtFilter)
{
    FileDialogOf(modal)->selectNameFilter(qtFilter);
}

void Cancel(QWidget* modal)
{
    qobject_cast<QDialog*>(modal)->reject();
}

QString TypedName(QWidget* modal)
{
    auto* edit = FileDialogOf(modal)->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    return edit ? edit->text() : QString();
}
