// The picture dialogs: their filters and default extensions, the Qt form of the filters, the settings
// of the two dialogs, the memory of one run, the preview pane and the "预览" window.
#include "app/PictureDialog.h"

#include "AppTestSupport.h"
#include "DialogDriver.h"
#include "app/Main.h"
#include "app/PicturePreview.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/Picture.h"
#include "tests/support/TestData.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The open dialog's entries in the order the registry walk gives them.
const std::pair<const char*, const char*> kOpenEntries[] = { { "SGI black/white images", "bw" },
    { "Autodesk images", "cel" }, { "Dr. Halo images", "cut" }, { "Windows bitmap", "dib" },
    { "CompuServe images", "gif" }, { "Truevision images", "icb" }, { "ZSoft PCC images", "pcc" },
    { "Kodak Photo-CD images", "pcd" }, { "Photoshop images", "pdd" }, { "ZSoft PCX images", "pcx" },
    { "Autodesk images", "pic" }, { "Portable b&w images", "pbm" }, { "Portable grayscale images", "pgm" },
    { "Portable pixel map images", "ppm" }, { "Photoshop images", "psd" }, { "SGI true color images", "rgb" },
    { "SGI true color images", "rgba" }, { "SGI Wavefront images", "rla" }, { "Windows bitmap", "rle" },
    { "SGI Wavefront images", "rpf" }, { "Word 5.x screen capture images", "scr" }, { "SGI true color images", "sgi" },
    { "Truevision images", "tga" }, { "TIFF images", "tif" }, { "TIFF images", "tiff" }, { "Truevision images", "vda" },
    { "Truevision images", "vst" }, { "Truevision images", "win" }, { "位图", "bmp" } };

const char* const kSaveFilter
    = "Bitmaps (*.bmp)|*.bmp|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Icons (*.ico)|*.ico|"
      "Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf|"
      "All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf";

const QStringList kSaveQtFilters = { "Bitmaps (*.bmp)", "JPEG Image File (*.jpg)", "JPEG Image File (*.jpeg)",
    "Icons (*.ico)", "Enhanced Metafiles (*.emf)", "Metafiles (*.wmf)", "All (*.jpg *.jpeg *.bmp *.ico *.emf *.wmf)" };

QString WriteBitmap(const QDir& dir, const QString& name, int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x);
            row[3 * x + 1] = static_cast<uint8_t>(y);
            row[3 * x + 2] = 0xC0;
        }
    }
    const QString path = dir.filePath(name);
    bitmap.SaveToFile(QFile::encodeName(path).toStdString());
    return path;
}

QString WriteBytes(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A binary PPM large enough that reading it takes a noticeable moment.
QString WriteLargePixmap(const QDir& dir, const QString& name, int width, int height)
{
    QByteArray bytes = QStringLiteral("P6\n%1 %2\n255\n").arg(width).arg(height).toLatin1();
    bytes.append(QByteArray(qsizetype(width) * height * 3, '\x5a'));
    return WriteBytes(dir, name, bytes);
}

bool WaitSettled(TPicturePreview& pane, int ms = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (pane.Reading() && clock.elapsed() < ms)
        QTest::qWait(5);
    return !pane.Reading();
}

void ExpectEmptyPane(TPicturePreview& pane)
{
    QCOMPARE(pane.PictureLabel()->text(), QStringLiteral("图象:"));
    QCOMPARE(pane.PaintBox()->Placeholder(), QStringLiteral("(无)"));
    QVERIFY(pane.PaintBox()->Image().isNull());
    QVERIFY(!pane.PreviewButton()->isEnabled());
    QVERIFY(!pane.HasPicture());
}

QString ConfigHome();

} // namespace

class PictureDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppTests(); }

    void filtersAndDefaultExtensions()
    {
        TMainForm form;
        QStringList patterns, entries;
        for (const auto& [description, extension] : kOpenEntries) {
            patterns.append(QStringLiteral("*.") + QString::fromUtf8(extension));
            entries.append(
                QStringLiteral("%1 (*.%2)|*.%2").arg(QString::fromUtf8(description), QString::fromUtf8(extension)));
        }
        const QString expected = QStringLiteral("全部 (") + patterns.join(';') + QStringLiteral(")|")
            + patterns.join(';') + QLatin1Char('|') + entries.join('|');
        QCOMPARE(form.OpenPictureDialog->Filter, expected);
        QCOMPARE(form.OpenPictureDialog->DefaultExt, QStringLiteral("dib"));
        QCOMPARE(form.OpenPictureDialog->FilterIndex, 0);
        QVERIFY(form.OpenPictureDialog->FileName.isEmpty());
        for (const char* absent : { "*.jpg", "*.jpeg", "*.ico", "*.emf", "*.wmf" })
            QVERIFY2(!form.OpenPictureDialog->Filter.contains(QLatin1String(absent)), absent);

        QCOMPARE(form.SavePictureDialog1->Filter, QString::fromUtf8(kSaveFilter));
        QCOMPARE(form.SavePictureDialog1->DefaultExt, QStringLiteral("bmp"));
        QCOMPARE(form.SavePictureDialog1->FilterIndex, 0);
        QVERIFY(form.SavePictureDialog1->FileName.isEmpty());
        QCOMPARE(form.OpenPictureDialog->objectName(), QStringLiteral("OpenPictureDialog"));
        QCOMPARE(form.SavePictureDialog1->objectName(), QStringLiteral("SavePictureDialog1"));
    }

    void filtersInQtForm()
    {
        TMainForm form;
        const QStringList open = QtNameFilters(form.OpenPictureDialog->Filter);
        QCOMPARE(open.size(), 30);
        QStringList patterns;
        for (const auto& entry : kOpenEntries)
            patterns.append(QStringLiteral("*.") + QString::fromUtf8(entry.second));
        QCOMPARE(open.first(), QStringLiteral("全部 (") + patterns.join(' ') + QLatin1Char(')'));
        QCOMPARE(open[1], QStringLiteral("SGI black/white images (*.bw)"));
        QCOMPARE(open[12], QStringLiteral("Portable b&w images (*.pbm)"));
        QCOMPARE(open.last(), QStringLiteral("位图 (*.bmp)"));
        QCOMPARE(QtNameFilters(QString::fromUtf8(kSaveFilter)), kSaveQtFilters);

        // The pattern part is what counts: a description that does not show its patterns gets them.
        QCOMPARE(QtNameFilters(QStringLiteral("Pictures|*.a;*.b|Odd (some text)|*.c|dangling")),
            (QStringList { "Pictures (*.a *.b)", "Odd (some text) (*.c)" }));
        QCOMPARE(QtNameFilters(QStringLiteral("Stale (*.x)|*.y")), QStringList { "Stale (*.x) (*.y)" });
        QVERIFY(QtNameFilters(QString()).isEmpty());
    }

    void completedExtensionFollowsASinglePlainPattern()
    {
        QCOMPARE(CompletedExtension(QStringLiteral("JPEG Image File (*.jpg)"), QStringLiteral("bmp")),
            QStringLiteral("jpg"));
        QCOMPARE(CompletedExtension(kSaveQtFilters.last(), QStringLiteral("bmp")), QStringLiteral("bmp"));
        QCOMPARE(CompletedExtension(QStringLiteral("全部 (*.bw *.cel)"), QStringLiteral("dib")), QStringLiteral("dib"));
        QCOMPARE(CompletedExtension(QStringLiteral("Everything (*)"), QStringLiteral("dib")), QStringLiteral("dib"));
        QCOMPARE(CompletedExtension(QStringLiteral("Any (*.*)"), QStringLiteral("bmp")), QStringLiteral("bmp"));
        QCOMPARE(CompletedExtension(QStringLiteral("Numbered (*.0?)"), QStringLiteral("bmp")), QStringLiteral("bmp"));
        QCOMPARE(CompletedExtension(QString(), QStringLiteral("bmp")), QStringLiteral("bmp"));
    }

    void dialogsAreSetUpAsDescribed()
    {
        TMainForm form;
        struct Seen {
            QStringList nameFilters;
            QString selectedFilter;
            QFileDialog::AcceptMode mode {};
            QFileDialog::FileMode fileMode {};
            bool native = true, sizeGrip = false, confirms = false, checkBox = true, paneRight = false;
        };
        const auto inspect = [](Seen& seen) {
            return [&seen](QWidget* modal) {
                QFileDialog* dialog = FileDialogOf(modal);
                seen.nameFilters = dialog->nameFilters();
                seen.selectedFilter = dialog->selectedNameFilter();
                seen.mode = dialog->acceptMode();
                seen.fileMode = dialog->fileMode();
                seen.native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
                seen.sizeGrip = dialog->isSizeGripEnabled();
                seen.confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
                seen.checkBox = !dialog->findChildren<QCheckBox*>().isEmpty();
                auto* pane = dialog->findChild<TPicturePreview*>(QStringLiteral("PicturePreview"));
                // The pane stands right of the folder view and the name box, as tall as the dialog's contents.
                auto* files = dialog->findChild<QWidget*>(QStringLiteral("splitter"));
                auto* name = dialog->findChild<QWidget*>(QStringLiteral("fileNameEdit"));
                const int paneLeft = pane ? pane->mapTo(dialog, QPoint(0, 0)).x() : 0;
                seen.paneRight = pane && files && name && pane->isVisible()
                    && paneLeft >= files->mapTo(dialog, QPoint(files->width(), 0)).x()
                    && paneLeft >= name->mapTo(dialog, QPoint(name->width(), 0)).x()
                    && pane->height() > files->height();
                Cancel(modal);
            };
        };
        Seen open, save;
        QCOMPARE(DriveModals([&] { form.OpenPictureDialog->Execute(); }, { inspect(open) }).stepsRun, 1);
        QCOMPARE(DriveModals([&] { form.SavePictureDialog1->Execute(); }, { inspect(save) }).stepsRun, 1);

        QCOMPARE(open.nameFilters, QtNameFilters(form.OpenPictureDialog->Filter));
        QVERIFY(open.selectedFilter.startsWith(QStringLiteral("全部 (*.bw ")));
        QCOMPARE(open.mode, QFileDialog::AcceptOpen);
        QCOMPARE(open.fileMode, QFileDialog::AnyFile); // the file and its folder need not exist
        QCOMPARE(save.nameFilters, kSaveQtFilters);
        QCOMPARE(save.selectedFilter, QStringLiteral("Bitmaps (*.bmp)"));
        QCOMPARE(save.mode, QFileDialog::AcceptSave);
        QVERIFY(save.confirms);
        for (const Seen* seen : { &open, &save }) {
            QVERIFY(!seen->native);
            QVERIFY(seen->sizeGrip);
            QVERIFY(!seen->checkBox);
            QVERIFY(seen->paneRight);
        }
    }

    void listingFollowsTheFilterInAnyLetterCase()
    {
        QTemporaryDir dir;
        for (const char* name : { "a.cel", "B.BMP", "c.jpg", "d.TIF", "e.txt" })
            WriteBytes(QDir(dir.path()), QString::fromLatin1(name), "x");
        TOpenPictureDialog dialog;
        dialog.Filter = QStringLiteral("全部 (*.cel;*.bmp;*.tif)|*.cel;*.bmp;*.tif|Bitmaps (*.bmp)|*.bmp");
        dialog.FileName = QDir(dir.path()).filePath(QStringLiteral("nothing-here"));
        QStringList listed, listedBitmaps;
        const auto names = [&](QWidget* modal) {
            QStringList result;
            auto* model = FileDialogOf(modal)->findChild<QFileSystemModel*>();
            if (!model)
                return result;
            const QModelIndex root = model->index(dir.path());
            for (int row = 0; row < model->rowCount(root); ++row) {
                const QModelIndex index = model->index(row, 0, root);
                // Entries that the filter rejects may be kept, disabled.
                if (model->flags(index) & Qt::ItemIsEnabled)
                    result.append(model->fileName(index));
            }
            result.sort();
            return result;
        };
        DriveModals([&] { dialog.Execute(); }, { [&](QWidget* modal) {
            QTRY_VERIFY(names(modal).size() >= 3);
            QTest::qWait(50);
            listed = names(modal);
            ChooseFilter(modal, QStringLiteral("Bitmaps (*.bmp)"));
            QTRY_VERIFY(names(modal).size() == 1);
            listedBitmaps = names(modal);
            Cancel(modal);
        } });
        QCOMPARE(listed, (QStringList { "B.BMP", "a.cel", "d.TIF" }));
        QCOMPARE(listedBitmaps, QStringList { "B.BMP" });
    }

    void bareNamesGetTheDefaultExtension()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        TMainForm form;
        const auto run = [&](TPictureDialog* dialog, const QString& filter, const QString& typed) {
            ModalRun result = DriveModals([&] { QVERIFY(dialog->Execute()); }, { [&](QWidget* modal) {
                if (!filter.isEmpty())
                    ChooseFilter(modal, filter);
                TypeAndAccept(modal, folder.filePath(typed));
            } });
            QCOMPARE(result.stepsRun, 1);
            QCOMPARE(result.unexpected, 0);
        };
        run(form.OpenPictureDialog, QString(), QStringLiteral("photo"));
        QCOMPARE(form.OpenPictureDialog->FileName, folder.filePath(QStringLiteral("photo.dib")));
        run(form.OpenPictureDialog, QString(), QStringLiteral("photo.JPG"));
        QCOMPARE(form.OpenPictureDialog->FileName, folder.filePath(QStringLiteral("photo.JPG")));
        run(form.SavePictureDialog1, QString(), QStringLiteral("shot"));
        QCOMPARE(form.SavePictureDialog1->FileName, folder.filePath(QStringLiteral("shot.bmp")));
        // A bare name takes the extension of the entry chosen when that entry names one extension.
        run(form.SavePictureDialog1, kSaveQtFilters[1], QStringLiteral("shot"));
        QCOMPARE(form.SavePictureDialog1->FileName, folder.filePath(QStringLiteral("shot.jpg")));
        run(form.SavePictureDialog1, kSaveQtFilters.last(), QStringLiteral("shot"));
        QCOMPARE(form.SavePictureDialog1->FileName, folder.filePath(QStringLiteral("shot.bmp")));
        run(form.SavePictureDialog1, kSaveQtFilters[3], QStringLiteral("shot.wmf"));
        QCOMPARE(form.SavePictureDialog1->FileName, folder.filePath(QStringLiteral("shot.wmf")));
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("shot.wmf")))); // the dialog writes nothing
    }

    void confirmedNameAndFilterAreRememberedCancelledOnesAreNot()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        TSavePictureDialog dialog;
        dialog.Filter = QString::fromUtf8(kSaveFilter);
        dialog.DefaultExt = QStringLiteral("bmp");

        DriveModals([&] { QVERIFY(dialog.Execute()); }, { [&](QWidget* modal) {
            ChooseFilter(modal, kSaveQtFilters[2]);
            TypeAndAccept(modal, folder.filePath(QStringLiteral("first.jpeg")));
        } });
        QCOMPARE(dialog.FileName, folder.filePath(QStringLiteral("first.jpeg")));
        QCOMPARE(dialog.FilterIndex, 2);

        QString shownName, shownFilter, shownFolder;
        const auto look = [&](QWidget* modal) {
            shownName = TypedName(modal);
            shownFilter = FileDialogOf(modal)->selectedNameFilter();
            shownFolder = FileDialogOf(modal)->directory().absolutePath();
        };
        bool result = true;
        DriveModals([&] { result = dialog.Execute(); }, { [&](QWidget* modal) {
            look(modal);
            ChooseFilter(modal, kSaveQtFilters[3]);
            QTest::keyClicks(modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")), QStringLiteral("x"));
            Cancel(modal);
        } });
        QVERIFY(!result);
        QCOMPARE(shownName, QStringLiteral("first.jpeg"));
        QCOMPARE(shownFilter, kSaveQtFilters[2]);
        QCOMPARE(shownFolder, QDir(dir.path()).absolutePath());
        QCOMPARE(dialog.FileName, folder.filePath(QStringLiteral("first.jpeg")));
        QCOMPARE(dialog.FilterIndex, 2);

        DriveModals([&] { dialog.Execute(); }, { [&](QWidget* modal) {
            look(modal);
            Cancel(modal);
        } });
        QCOMPARE(shownName, QStringLiteral("first.jpeg"));
        QCOMPARE(shownFilter, kSaveQtFilters[2]);
    }

    void replacingAFileNeedsConfirmation()
    {
        QTemporaryDir dir;
        const QString existing = WriteBitmap(QDir(dir.path()), QStringLiteral("there.bmp"), 2, 2);
        TMainForm form;
        QString question;
        bool stillOpenAfterNo = false;
        ModalRun run = DriveModals([&] { QVERIFY(form.SavePictureDialog1->Execute()); },
            { [&](QWidget* modal) { TypeAndAccept(modal, existing); },
                [&](QWidget* box) {
                    question = qobject_cast<QMessageBox*>(box)->text();
                    qobject_cast<QMessageBox*>(box)->button(QMessageBox::No)->click();
                    QTimer::singleShot(50, [&] {
                        QWidget* modal = QApplication::activeModalWidget();
                        stillOpenAfterNo = qobject_cast<QFileDialog*>(modal) != nullptr;
                        if (stillOpenAfterNo)
                            TypeAndAccept(modal, existing);
                    });
                },
                [&](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click(); } });
        QCOMPARE(run.stepsRun, 3);
        QVERIFY(question.contains(QStringLiteral("there.bmp")));
        QVERIFY(stillOpenAfterNo);
        QCOMPARE(form.SavePictureDialog1->FileName, existing);

        // Opening an existing file asks nothing.
        run = DriveModals([&] { QVERIFY(form.OpenPictureDialog->Execute()); },
            { [&](QWidget* modal) { TypeAndAccept(modal, existing); } });
        QCOMPARE(run.stepsRun, 1);
        QCOMPARE(run.unexpected, 0);
    }

    void nothingIsStoredForTheNextRun()
    {
        TMainForm form;
        QTemporaryDir dir;
        DriveModals([&] { form.OpenPictureDialog->Execute(); },
            { [&](QWidget* modal) { TypeAndAccept(modal, QDir(dir.path()).filePath(QStringLiteral("a.bmp"))); } });
        DriveModals([&] { form.SavePictureDialog1->Execute(); }, { [&](QWidget* modal) { Cancel(modal); } });
        QCoreApplication::processEvents();
        QVERIFY(!ConfigHome().isEmpty());
        const QStringList stored = QDir(ConfigHome()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QVERIFY2(stored.isEmpty(), qPrintable(stored.join(' ')));
    }

    void paneShowsReadablePictures()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        TPicturePreview pane;
        pane.resize(200, 260);
        pane.show();
        ExpectEmptyPane(pane);

        const QString small = WriteBitmap(folder, QStringLiteral("small.bmp"), 64, 32);
        QSignalSpy settled(&pane, &TPicturePreview::PreviewSettled);
        pane.SetFileName(small);
        // Read on the worker: the pane is still empty when the call returns.
        QVERIFY(pane.Reading());
        ExpectEmptyPane(pane);
        QVERIFY(WaitSettled(pane));
        QCOMPARE(settled.count(), 1);
        QCOMPARE(pane.PictureLabel()->text(), QStringLiteral(" (64x32)"));
        QVERIFY(pane.PreviewButton()->isEnabled());
        QCOMPARE(pane.PaintBox()->ImageRect().size(), QSize(64, 32)); // small pictures keep their size
        QVERIFY(pane.PaintBox()->rect().contains(pane.PaintBox()->ImageRect()));

        const QString wide = WriteBitmap(folder, QStringLiteral("wide.bmp"), 3000, 1000);
        pane.SetFileName(wide);
        QVERIFY(WaitSettled(pane));
        QCOMPARE(pane.PictureLabel()->text(), QStringLiteral(" (3000x1000)"));
        const QRect shown = pane.PaintBox()->ImageRect();
        QCOMPARE(shown.width(), pane.PaintBox()->width());
        QVERIFY(qAbs(shown.height() - shown.width() / 3) <= 1);
        QVERIFY(pane.PaintBox()->rect().contains(shown));
        QVERIFY(qAbs(shown.center().y() - pane.PaintBox()->rect().center().y()) <= 1);
        // The pane keeps no more than a screen's worth of pixels.
        QVERIFY(pane.Picture().image.width() <= 3000);
    }

    void paneIsEmptyForWhatCannotBeRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("damaged gif") << "bad.gif" << QByteArray("GIF89a\x10\x00\x10\x00\xf7\x00", 12);
        QTest::newRow("unknown extension") << "picture.xyz" << QByteArray("data");
        QTest::newRow("no extension") << "README" << QByteArray("text");
        QTest::newRow("empty bitmap file") << "empty.bmp" << QByteArray();
        QTest::newRow("huge declared size") << "huge.ppm" << QByteArray("P6\n1000000 1000000\n255\n\x01\x02\x03");
        QTest::newRow("missing") << "missing.bmp" << QByteArray("-");
        QTest::newRow("folder") << "folder.bmp" << QByteArray("-");
    }

    void paneIsEmptyForWhatCannotBeRead()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QDir folder(dir.path());
        QString path = folder.filePath(name);
        if (name.startsWith(QLatin1String("folder")))
            QVERIFY(folder.mkdir(name));
        else if (bytes != "-")
            WriteBytes(folder, name, bytes);

        TPicturePreview pane;
        pane.show();
        pane.SetFileName(WriteBitmap(folder, QStringLiteral("first.bmp"), 8, 8));
        QVERIFY(WaitSettled(pane));
        QVERIFY(pane.HasPicture());
        QSignalSpy settled(&pane, &TPicturePreview::PreviewSettled);
        pane.SetFileName(path);
        QVERIFY(WaitSettled(pane));
        QTRY_COMPARE(settled.count(), 1);
        ExpectEmptyPane(pane);
        // Nothing is reported.
        QTest::qWait(20);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<QMessageBox*>(window) || !window->isVisible());
    }

    void paneDropsResultsForEarlierNames()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        const QString slow = WriteLargePixmap(folder, QStringLiteral("slow.ppm"), 4000, 3000);
        const QString quick = WriteBitmap(folder, QStringLiteral("quick.bmp"), 5, 7);
        TPicturePreview pane;
        pane.show();
        QStringList shown;
        connect(&pane, &TPicturePreview::PreviewSettled, [&] { shown.append(pane.PictureLabel()->text()); });

        QElapsedTimer clock;
        clock.start();
        pane.SetFileName(slow);
        pane.SetFileName(folder.filePath(QStringLiteral("missing.bmp")));
        pane.SetFileName(slow);
        pane.SetFileName(quick);
        QVERIFY2(clock.elapsed() < 1000, "choosing files must not wait for them to be read");
        QVERIFY(WaitSettled(pane));
        // The worker is still busy with the slow file or has just dropped it; the pane shows only
        // what was chosen last, also after the earlier reads have come back.
        QTest::qWait(300);
        QCOMPARE(shown.last(), QStringLiteral(" (5x7)"));
        QCOMPARE(shown.count(QStringLiteral(" (4000x3000)")), 0);
        QCOMPARE(pane.PictureLabel()->text(), QStringLiteral(" (5x7)"));

        // The event loop keeps running while a slow file is read.
        pane.SetFileName(slow);
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(5);
        QVERIFY(WaitSettled(pane));
        QCOMPARE(pane.PictureLabel()->text(), QStringLiteral(" (4000x3000)"));
        QVERIFY(ticks > 0 || clock.elapsed() < 20);

        // A pane that goes while its file is being read: the late result goes nowhere.
        auto* gone = new TPicturePreview;
        gone->SetFileName(slow);
        delete gone;
        QTest::qWait(200);
        pane.SetFileName(quick);
        QVERIFY(WaitSettled(pane));
        QCOMPARE(pane.PictureLabel()->text(), QStringLiteral(" (5x7)"));
    }

    void paneFollowsTheDialogSelection()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        const QString picture = WriteBitmap(folder, QStringLiteral("shown.bmp"), 40, 30);
        TOpenPictureDialog dialog;
        dialog.Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");
        dialog.FileName = folder.filePath(QStringLiteral("other.bmp"));
        QString labelAtFirst, labelAfterSelection, labelOnFolder;
        DriveModals([&] { dialog.Execute(); }, { [&](QWidget* modal) {
            auto* pane = modal->findChild<TPicturePreview*>(QStringLiteral("PicturePreview"));
            QVERIFY(pane);
            labelAtFirst = pane->PictureLabel()->text();
            auto* model = modal->findChild<QFileSystemModel*>();
            auto* list = modal->findChild<QListView*>(QStringLiteral("listView"));
            QTRY_VERIFY(model->index(picture).isValid());
            QTRY_VERIFY(model->rowCount(model->index(dir.path())) > 0);
            // Selecting the file in the list, as a click does.
            const QModelIndex index = list->model()->index(0, 0, list->rootIndex());
            list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            QVERIFY(WaitSettled(*pane));
            labelAfterSelection = pane->PictureLabel()->text();
            emit FileDialogOf(modal)->currentChanged(dir.path());
            labelOnFolder = pane->PictureLabel()->text();
            Cancel(modal);
        } });
        QCOMPARE(labelAtFirst, QStringLiteral("图象:"));
        QCOMPARE(labelAfterSelection, QStringLiteral(" (40x30)"));
        QCOMPARE(labelOnFolder, QStringLiteral("图象:"));

        // A name typed into the name field, relative to the folder shown, is previewed as well.
        dialog.FileName = folder.filePath(QStringLiteral("other.bmp"));
        QString labelTyped, labelPartial;
        DriveModals([&] { dialog.Execute(); }, { [&](QWidget* modal) {
            auto* pane = modal->findChild<TPicturePreview*>(QStringLiteral("PicturePreview"));
            auto* nameEdit = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(pane && nameEdit);
            nameEdit->setText(QStringLiteral("shown.bmp"));
            QVERIFY(WaitSettled(*pane));
            labelTyped = pane->PictureLabel()->text();
            nameEdit->setText(QStringLiteral("sho"));
            QVERIFY(WaitSettled(*pane));
            labelPartial = pane->PictureLabel()->text();
            Cancel(modal);
        } });
        QCOMPARE(labelTyped, QStringLiteral(" (40x30)"));
        QCOMPARE(labelPartial, QStringLiteral("图象:"));

        // A dialog that opens on a remembered picture previews it at once.
        dialog.FileName = picture;
        QString remembered;
        DriveModals([&] { dialog.Execute(); }, { [&](QWidget* modal) {
            auto* pane = modal->findChild<TPicturePreview*>(QStringLiteral("PicturePreview"));
            QVERIFY(WaitSettled(*pane));
            remembered = pane->PictureLabel()->text();
            Cancel(modal);
        } });
        QCOMPARE(remembered, QStringLiteral(" (40x30)"));
    }

    void previewWindow()
    {
        QCOMPARE(PreviewClientSize(QSize(64, 32), QSize(1920, 1080)), QSize(84, 52));
        QCOMPARE(PreviewClientSize(QSize(3000, 100), QSize(1920, 1080)), QSize(1440, 120));
        QCOMPARE(PreviewClientSize(QSize(100, 3000), QSize(1024, 768)), QSize(120, 576));
        QCOMPARE(PreviewClientSize(QSize(1420, 790), QSize(1920, 1080)), QSize(1440, 810));
        QCOMPARE(PreviewClientSize(QSize(1421, 791), QSize(1920, 1080)), QSize(1440, 810));

        QTemporaryDir dir;
        const QDir folder(dir.path());
        TPicturePreview pane;
        pane.show();
        pane.SetFileName(WriteBitmap(folder, QStringLiteral("p.bmp"), 64, 32));
        QVERIFY(WaitSettled(pane));

        struct Seen {
            QString title;
            bool tool = false, modal = false, closedByEsc = false;
            QSize client;
            QPoint centre;
            QRect image, area;
        } seen;
        const auto inspect = [&](QWidget* window) {
            auto* form = qobject_cast<TPreviewForm*>(window);
            QVERIFY(form);
            seen.title = form->windowTitle();
            seen.tool = (form->windowFlags() & Qt::WindowType_Mask) == Qt::Tool;
            seen.modal = form->isModal();
            seen.client = form->size();
            seen.centre = form->geometry().center();
            seen.image = form->Image()->ImageRect();
            seen.area = form->Image()->rect();
            QTest::keyClick(form, Qt::Key_Escape);
            seen.closedByEsc = !form->isVisible();
        };
        ModalRun run = DriveModals([&] { pane.PreviewButton()->click(); }, { inspect });
        QCOMPARE(run.stepsRun, 1);
        QCOMPARE(seen.title, QStringLiteral("预览"));
        QVERIFY(seen.tool);
        QVERIFY(seen.modal);
        QVERIFY(seen.closedByEsc);
        QCOMPARE(seen.client, QSize(84, 52));
        const QRect screen = pane.screen()->geometry();
        QVERIFY(qAbs(seen.centre.x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(seen.centre.y() - screen.center().y()) <= 1);
        QCOMPARE(seen.image, QRect(0, 0, 64, 32));

        // A picture larger than the screen: three quarters of it, the picture in proportion.
        pane.SetFileName(WriteBitmap(folder, QStringLiteral("wide.bmp"), 4000, 500));
        QVERIFY(WaitSettled(pane));
        DriveModals([&] { pane.PreviewButton()->click(); }, { inspect });
        QCOMPARE(seen.client.width(), screen.width() * 3 / 4);
        QCOMPARE(seen.client.height(), std::min(520, screen.height() * 3 / 4));
        QCOMPARE(seen.image.width(), seen.area.width());
        QVERIFY(qAbs(seen.image.height() - seen.image.width() / 8) <= 1);
        QVERIFY(qAbs(seen.image.center().y() - seen.area.center().y()) <= 1);
    }

    void corpusPreviewsAsOpenReads()
    {
        const auto dir = TestDataDir();
        if (!dir)
            QSKIP("shared test data not found (set KAVREL_TESTDATA)");
        int previewed = 0, refused = 0;
        for (const ManifestRow& row : ReadManifest(*dir)) {
            const std::string file = (*dir / row.path).string();
            if (!TPicture::Formats().FindExt(FileExtension(row.path)))
                continue;
            // What Open would show.
            QSize opened;
            try {
                TPicture picture;
                picture.LoadFromFile(file);
                opened = QSize(picture.Width(), picture.Height());
            } catch (const Exception&) { }
            const TPreviewPicture preview = ReadPreviewPicture(QString::fromStdString(file), QSize(800, 600));
            QVERIFY2(preview.Valid() == !opened.isEmpty(), row.path.c_str());
            if (!preview.Valid()) {
                ++refused;
                continue;
            }
            ++previewed;
            QCOMPARE(preview.size, opened);
            QVERIFY(preview.image.width() <= 800 && preview.image.height() <= 600);
            // Icons show their largest image, metafiles their own extent; the references differ.
            const bool comparable = row.Folder() != "ico" && row.Folder() != "wmf" && row.Folder() != "emf";
            if ((row.expect == "exact" || row.expect == "approx") && comparable)
                QVERIFY2(preview.size == QSize(row.width, row.height), row.path.c_str());
        }
        QVERIFY(previewed > 100);
        QVERIFY(refused > 0);

        // A few through the pane itself, one after the other as a user clicks through a folder.
        TPicturePreview pane;
        pane.show();
        for (const char* sample : { "tga/CTC24.TGA", "pcd/gen-hopper768.pcd", "jpeg/flower.jpg" }) {
            const QString path = QString::fromStdString((*dir / sample).string());
            if (!QFile::exists(path))
                continue;
            pane.SetFileName(path);
        }
        QVERIFY(WaitSettled(pane));
        QVERIFY(pane.HasPicture());
        QVERIFY(pane.PreviewButton()->isEnabled());
    }
};

namespace {

QString& ConfigHomeSlot()
{
    static QString path;
    return path;
}

QString ConfigHome()
{
    return ConfigHomeSlot();
}

} // namespace

int main(int argc, char** argv)
{
    // Qt's own settings would land here if the dialogs stored any.
    QTemporaryDir configHome;
    ConfigHomeSlot() = configHome.path();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QApplication application(argc, argv);
    PictureDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "PictureDialogTest.moc"
