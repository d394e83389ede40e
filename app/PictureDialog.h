#pragma once

#include <QFileDialog>
#include <QObject>
#include <QString>
#include <QStringList>

class TPicturePreview;

// A filter as the forms give it, "description|pattern|description|pattern...", with the patterns of
// one entry separated by ";", in the form Qt's file dialog reads: one "description (patterns)" per
// entry with the patterns separated by blanks. A description that already ends in its patterns in
// parentheses has them rewritten; any other gets them appended.
QStringList QtNameFilters(const QString& filter);

// The extension that the dialog gives a name typed without one while the Qt filter entry is chosen:
// the entry's extension when it lists exactly one plain "*.ext" pattern, else the default extension.
QString CompletedExtension(const QString& qtNameFilter, const QString& defaultExt);

// The picture-file dialogs: Qt's own file dialog (never the desktop's, which could not hold the
// pane) with the picture preview pane beside it. Each Execute builds the dialog afresh from the
// settings below, so a cancelled dialog leaves no trace; a confirmed one stores the file name and the
// filter entry, and the next Execute opens with them. Nothing is kept beyond the run.
class TPictureDialog : public QObject {
    Q_OBJECT
public:
    // "description|pattern|..." as above.
    QString Filter;
    // Without the dot; completes a name typed without an extension (see CompletedExtension).
    QString DefaultExt;
    // The full path of the file last confirmed; empty at first.
    QString FileName;
    // The filter entry selected when the dialog opens, counting from 0.
    int FilterIndex = 0;

    // Shows the dialog modally; true when the user confirmed a file name, which is then in FileName.
    bool Execute();

protected:
    TPictureDialog(QFileDialog::AcceptMode mode, QWidget* parent);

private:
    QFileDialog::AcceptMode mode_;
};

// The open dialog: the chosen file and its folder need not exist.
class TOpenPictureDialog : public TPictureDialog {
    Q_OBJECT
public:
    explicit TOpenPictureDialog(QWidget* parent = nullptr);
};

// The save dialog: replacing an existing file needs the user's confirmation.
class TSavePictureDialog : public TPictureDialog {
    Q_OBJECT
public:
    explicit TSavePictureDialog(QWidget* parent = nullptr);
};

// The file dialog that Execute shows, with its preview pane (object name "PicturePreview").
class TPictureFileDialog : public QFileDialog {
    Q_OBJECT
public:
    TPictureFileDialog(
        QWidget* parent, QFileDialog::AcceptMode mode, const QStringList& nameFilters, const QString& defaultExt);

    TPicturePreview* Preview() const { return preview_; }

public slots:
    void accept() override;

private:
    TPicturePreview* preview_;
    QString defaultExt_;
};
