#include "app/PictureDialog.h"

#include "app/PicturePreview.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>

namespace {

constexpr QSize kDialogSize(900, 480);

// The patterns in parentheses at the end of a description or of a Qt filter entry.
const QRegularExpression& TrailingPatterns()
{
    static const QRegularExpression expression(QStringLiteral("\\s*\\(([^()]*)\\)\\s*$"));
    return expression;
}

QStringList SplitPatterns(const QString& patterns)
{
    static const QRegularExpression separators(QStringLiteral("[; ]"));
    return patterns.split(separators, Qt::SkipEmptyParts);
}

// Qt's file dialog stores its history, sidebar and last folder among the user's Qt settings, where the
// next run would pick them up. This program keeps no settings: the dialog's go to a folder that lives
// as long as the process.
void KeepFileDialogStateForThisRunOnly()
{
    static QTemporaryDir folder;
    static const bool redirected = [] {
        if (!folder.isValid())
            return false;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
        return true;
    }();
    (void)redirected;
}

} // namespace

QStringList QtNameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const QString patterns = SplitPatterns(parts[i + 1]).join(QLatin1Char(' '));
        const QRegularExpressionMatch shown = TrailingPatterns().match(description);
        if (shown.hasMatch() && SplitPatterns(shown.captured(1)).join(QLatin1Char(' ')) == patterns)
            description.truncate(shown.capturedStart());
        result.append(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return result;
}

QString CompletedExtension(const QString& qtNameFilter, const QString& defaultExt)
{
    static const QRegularExpression plain(QStringLiteral("^\\*\\.([^*?\\[\\]. ]+)$"));
    const QRegularExpressionMatch listed = TrailingPatterns().match(qtNameFilter);
    if (listed.hasMatch()) {
        const QStringList patterns = SplitPatterns(listed.captured(1));
        if (patterns.size() == 1) {
            const QRegularExpressionMatch single = plain.match(patterns.first());
            if (single.hasMatch())
                return single.captured(1);
        }
    }
    return defaultExt;
}

// ---------------------------------------------------------------------------------------------

TPictureFileDialog::TPictureFileDialog(
    QWidget* parent, QFileDialog::AcceptMode mode, const QStringList& nameFilters, const QString& defaultExt)
    : QFileDialog(parent)
    , preview_(new TPicturePreview)
    , defaultExt_(defaultExt)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(mode);
    setFileMode(QFileDialog::AnyFile);
    setSizeGripEnabled(true);
    setNameFilters(nameFilters);
    setDefaultSuffix(defaultExt);

    preview_->setObjectName(QStringLiteral("PicturePreview"));
    preview_->setMinimumWidth(200);
    // The pane takes a column of its own at the right, from top to bottom.
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(preview_, 0, grid->columnCount(), grid->rowCount(), 1);
        grid->setColumnStretch(grid->columnCount() - 1, 0);
    } else {
        layout()->addWidget(preview_);
    }
    connect(this, &QFileDialog::currentChanged, preview_, &TPicturePreview::SetFileName);
    // A name typed or completed in the name field selects that file too.
    if (auto* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        connect(nameEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
            const QString path = directory().absoluteFilePath(text.trimmed());
            preview_->SetFileName(!text.trimmed().isEmpty() && QFileInfo(path).isFile() ? path : QString());
        });
    }
    resize(kDialogSize.expandedTo(sizeHint()));
}

void TPictureFileDialog::accept()
{
    setDefaultSuffix(CompletedExtension(selectedNameFilter(), defaultExt_));
    QFileDialog::accept();
}

// ---------------------------------------------------------------------------------------------

TPictureDialog::TPictureDialog(QFileDialog::AcceptMode mode, QWidget* parent)
    : QObject(parent)
    , mode_(mode)
{
    KeepFileDialogStateForThisRunOnly();
}

bool TPictureDialog::Execute()
{
    const QStringList nameFilters = QtNameFilters(Filter);
    TPictureFileDialog dialog(qobject_cast<QWidget*>(parent()), mode_, nameFilters, DefaultExt);
    if (FilterIndex >= 0 && FilterIndex < nameFilters.size())
        dialog.selectNameFilter(nameFilters[FilterIndex]);
    if (!FileName.isEmpty()) {
        dialog.selectFile(FileName);
        dialog.Preview()->SetFileName(FileName);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return false;
    FileName = files.first();
    FilterIndex = std::max<int>(0, static_cast<int>(nameFilters.indexOf(dialog.selectedNameFilter())));
    return true;
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* parent)
    : TPictureDialog(QFileDialog::AcceptOpen, parent)
{ }

TSavePictureDialog::TSavePictureDialog(QWidget* parent)
    : TPictureDialog(QFileDialog::AcceptSave, parent)
{ }
