#include "DialogDriver.h"

#include <QAbstractButton>
#include <QApplication>
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
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, name);
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
