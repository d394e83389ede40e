// Open and Save through the real dialogs: what opens, what is reported, when the command states are
// refreshed, and what each kind of picture writes, also when writing fails.
#include "AppTestSupport.h"
#include "DialogDriver.h"
#include "app/Childwin.h"
#include "app/ErrorBox.h"
#include "app/ImageControl.h"
#include "app/Main.h"
#include "app/PictureDialog.h"
#include "codecs/TargaGraphic.h"
#include "framework/Bitmap.h"
#include "framework/Exception.h"
#include "framework/JPEGImage.h"
#include "framework/Picture.h"
#include "framework/Stream.h"
#include "tests/support/Permissions.h"
#include "tests/support/TestData.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Writes part of a picture, then fails as a full disk does.
class TFailingGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TFailingGraphic)
public:
    void SaveStream(TStream& stream) override
    {
        const QByteArray half(600, 'h');
        stream.WriteBuffer(half.constData(), half.size());
        throw EWriteError();
    }
};
KAVREL_DEFINE_GRAPHIC_CLASS(TFailingGraphic, TBitmap)

QAction* Command(TMainForm& form, const char* name)
{
    auto* action = form.findChild<QAction*>(QLatin1String(name));
    if (!action)
        qFatal("no command %s", name);
    return action;
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

std::string Local(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// A capture as the capture component returns it: the display's own format.
TBitmap Capture(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pfDevice);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap.ScanLine(y) + 4 * x;
            p[0] = static_cast<uint8_t>(x * 9);
            p[1] = static_cast<uint8_t>(y * 5);
            p[2] = 0x30;
        }
    return bitmap;
}

// An uncompressed 24-bit Targa, 4 x 3, rows from the bottom.
QByteArray TargaFile()
{
    QByteArray bytes(18, '\0');
    bytes[2] = 2; // true colour, raw
    bytes[12] = 4; // width
    bytes[14] = 3; // height
    bytes[16] = 24;
    for (int i = 0; i < 4 * 3; ++i)
        bytes.append(char(i * 20)).append(char(255 - i * 20)).append(char(i * 7));
    return bytes;
}

// A little-endian TIFF, 3 x 2 RGB, one uncompressed strip.
QByteArray TiffFile()
{
    QByteArray bytes("II*\0\x08\0\0\0", 8);
    const auto word = [&](int v) { bytes.append(char(v & 0xFF)).append(char(v >> 8 & 0xFF)); };
    const auto dword = [&](int v) { word(v & 0xFFFF), word(v >> 16 & 0xFFFF); };
    const auto entry = [&](int tag, int type, int count, int value) {
        word(tag), word(type), dword(count);
        if (type == 3 && count == 1)
            word(value), word(0);
        else
            dword(value);
    };
    const int entries = 9;
    const int bitsOffset = 8 + 2 + entries * 12 + 4;
    const int pixelsOffset = bitsOffset + 6;
    word(entries);
    entry(256, 3, 1, 3); // width
    entry(257, 3, 1, 2); // height
    entry(258, 3, 3, bitsOffset); // 8, 8, 8 bits
    entry(259, 3, 1, 1); // no compression
    entry(262, 3, 1, 2); // RGB
    entry(273, 4, 1, pixelsOffset); // strip offset
    entry(277, 3, 1, 3); // samples per pixel
    entry(278, 3, 1, 2); // rows per strip
    entry(279, 4, 1, 18); // strip bytes
    dword(0);
    word(8), word(8), word(8);
    for (int i = 0; i < 18; ++i)
        bytes.append(char(i * 13));
    return bytes;
}

QString JpegSample()
{
    return QStringLiteral(KAVREL_SOURCE_DIR "/app/resources/about/logo.jpg");
}

} // namespace

class OpenSaveTest : public QObject {
    Q_OBJECT

    // Runs Open with a name typed into the dialog; returns the error box's text, if one came.
    QString OpenTyped(TMainForm& form, const QString& name, ModalRun* runOut = nullptr)
    {
        if (!Command(form, "FileOpen1")->isEnabled())
            return QStringLiteral("<Open is unavailable>");
        QString error;
        ModalRun run = DriveModals([&] { Command(form, "FileOpen1")->trigger(); },
            { [&](QWidget* modal) { TypeAndAccept(modal, name); },
                [&](QWidget* box) {
                    error = qobject_cast<QMessageBox*>(box) ? qobject_cast<QMessageBox*>(box)->text() : QString();
                    box->close();
                } });
        if (runOut)
            *runOut = run;
        return error;
    }

    // Runs Save with a name typed into the dialog (the filter entry chosen first when given);
    // confirms a replacement; returns the error box's text, if one came.
    QString SaveTyped(TMainForm& form, const QString& name, const QString& filter = QString())
    {
        if (!Command(form, "FileSave1")->isEnabled())
            return QStringLiteral("<Save is unavailable>");
        QString error;
        DriveModals([&] { Command(form, "FileSave1")->trigger(); },
            { [&](QWidget* modal) {
                 if (!filter.isEmpty())
                     ChooseFilter(modal, filter);
                 TypeAndAccept(modal, name);
             },
                [&](QWidget* box) {
                    auto* message = qobject_cast<QMessageBox*>(box);
                    if (message && message->button(QMessageBox::Yes)) {
                        message->button(QMessageBox::Yes)->click(); // replace the file
                        return;
                    }
                    error = message ? message->text() : QString();
                    box->close();
                },
                [&](QWidget* box) {
                    auto* message = qobject_cast<QMessageBox*>(box);
                    error = message ? message->text() : QString();
                    box->close();
                } });
        return error;
    }

private slots:
    void initTestCase() { InitAppTests(); }

    void openTypedJpegAlthoughTheFilterListsNone()
    {
        QTemporaryDir dir;
        const QString path = Write(QDir(dir.path()).filePath(QStringLiteral("photo.JPG")), Contents(JpegSample()));
        TMainForm form;
        form.show();
        QVERIFY(!form.OpenPictureDialog->Filter.contains(QLatin1String("jpg")));
        ModalRun run;
        QCOMPARE(OpenTyped(form, path, &run), QString());
        QCOMPARE(run.stepsRun, 1);
        TMDIChild* window = form.ActiveImageWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), path);
        QVERIFY(dynamic_cast<const TJPEGImage*>(window->Image->Picture().Graphic()));
        QVERIFY(window->Image->Picture().Width() > 0);
        QVERIFY(!window->Image->DisplayImage().isNull());
        QVERIFY(Command(form, "FileSave1")->isEnabled()); // refreshed at once
    }

    void openMissingFileGivesAnEmptyWindowWithoutError()
    {
        QTemporaryDir dir;
        TMainForm form;
        form.show();
        RunEventLoop();
        QVERIFY(!Command(form, "FileSave1")->isEnabled());
        const QString missing = QDir(dir.path()).filePath(QStringLiteral("not-there.tga"));
        ModalRun run;
        QCOMPARE(OpenTyped(form, missing, &run), QString());
        QCOMPARE(run.stepsRun, 1); // no error box
        QCOMPARE(form.ImageWindows().size(), 1);
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), missing);
        QVERIFY(form.ActiveImageWindow()->Image->Picture().Graphic() == nullptr);
        QVERIFY(Command(form, "FileSave1")->isEnabled());
        QVERIFY(Command(form, "FileClose1")->isEnabled());

        // A bare name gets the default extension; a folder that does not exist is no error either.
        OpenTyped(form, QDir(dir.path()).filePath(QStringLiteral("bare")));
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), QDir(dir.path()).filePath(QStringLiteral("bare.dib")));
        const QString nowhere = QDir(dir.path()).filePath(QStringLiteral("no/such/folder/x.bmp"));
        QCOMPARE(OpenTyped(form, nowhere), QString());
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), nowhere);
    }

    void openUnknownExtensionReportsItAndKeepsTheWindow()
    {
        QTemporaryDir dir;
        const QString path = Write(QDir(dir.path()).filePath(QStringLiteral("picture.xyz")), "not a picture");
        TMainForm form;
        form.show();
        RunEventLoop();
        QCOMPARE(OpenTyped(form, path), QStringLiteral("未知的图象文件扩展名 (.xyz)"));
        QCOMPARE(form.ImageWindows().size(), 1);
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), path);
        QVERIFY(form.ActiveImageWindow()->Image->Picture().Graphic() == nullptr);
        // The failure skipped the refresh: Save is still unavailable although a window exists.
        QVERIFY(!Command(form, "FileSave1")->isEnabled());
    }

    void openDamagedFileShowsTheReadersMessage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("gif") << "broken.gif" << QByteArray("GIF87a\x04\x00\x04\x00\x80\x00\x00", 13);
        QTest::newRow("targa") << "broken.tga" << QByteArray("\0\0\x07\0\0\0\0\0\0\0\0\0\x04\0\x04\0\x18\0", 18);
        QTest::newRow("tiff") << "broken.tif" << QByteArray("II*\0\xff\xff\0\0", 8);
        QTest::newRow("bitmap") << "broken.bmp" << QByteArray("BM\x10");
    }

    void openDamagedFileShowsTheReadersMessage()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = Write(QDir(dir.path()).filePath(name), bytes);
        std::string readerMessage;
        try {
            TPicture picture;
            picture.LoadFromFile(Local(path));
        } catch (const Exception& e) {
            readerMessage = e.Message();
        }
        QVERIFY2(!readerMessage.empty(), "the sample must be refused by its reader");

        TMainForm form;
        form.show();
        RunEventLoop();
        QCOMPARE(OpenTyped(form, path), QString::fromStdString(ErrorBoxText(readerMessage)));
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), path);
        QVERIFY(form.ActiveImageWindow()->Image->Picture().Graphic() == nullptr);
        QVERIFY(form.ActiveImageWindow()->Image->DisplayImage().isNull());
        QVERIFY(!Command(form, "FileSave1")->isEnabled());
    }

    void droppedFilesOpenAsOpenDoes()
    {
        QTemporaryDir dir;
        const QString targa = Write(QDir(dir.path()).filePath(QStringLiteral("one.tga")), TargaFile());
        const QString tiff = Write(QDir(dir.path()).filePath(QStringLiteral("two.tif")), TiffFile());
        const QString odd = Write(QDir(dir.path()).filePath(QStringLiteral("three.xyz")), "not a picture");
        TMainForm form;
        form.show();
        RunEventLoop();
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(targa), QUrl::fromLocalFile(tiff), QUrl::fromLocalFile(odd),
            QUrl::fromLocalFile(dir.path()) });
        const QPoint at = form.Workspace()->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QString error;
        const ModalRun run = DriveModals(
            [&] {
                QCoreApplication::sendEvent(&form, &drop);
                RunEventLoop();
            },
            { [&](QWidget* box) {
                error = qobject_cast<QMessageBox*>(box)->text();
                box->close();
            } });
        QVERIFY(drop.isAccepted());
        // One window per file, the folder left out; the unknown extension reported as Open reports it.
        QCOMPARE(run.stepsRun, 1);
        QCOMPARE(error, QStringLiteral("未知的图象文件扩展名 (.xyz)"));
        QStringList titles;
        for (TMDIChild* window : form.ImageWindows())
            titles.append(window->windowTitle());
        QCOMPARE(titles, (QStringList { targa, tiff, odd }));
        QCOMPARE(form.ImageWindows()[0]->Image->Picture().Width(), 4);
        QCOMPARE(form.ImageWindows()[1]->Image->Picture().Width(), 3);
        QVERIFY(Command(form, "FileSave1")->isEnabled());

        // Nothing that is a file: the frame refuses the drag.
        QMimeData text;
        text.setText(QStringLiteral("words"));
        QDragEnterEvent refused(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &refused);
        QVERIFY(!refused.isAccepted());
    }

    void cancelledOpenStillRefreshesTheCommands()
    {
        TMainForm form;
        form.show();
        form.CreateImageWindow(QStringLiteral("one"));
        form.UpdateCommandStates();
        form.ActiveImageWindow()->close();
        RunEventLoop();
        QVERIFY(form.ImageWindows().isEmpty());
        QVERIFY(Command(form, "FileSave1")->isEnabled()); // stale until the next refresh
        ModalRun run = DriveModals([&] { Command(form, "FileOpen1")->trigger(); }, { Cancel });
        QCOMPARE(run.stepsRun, 1);
        QVERIFY(form.ImageWindows().isEmpty());
        QVERIFY(!Command(form, "FileSave1")->isEnabled());
    }

    void captureSavedAsJpgIsAWindowsBitmap()
    {
        QTemporaryDir dir;
        TMainForm form;
        form.show();
        const TBitmap capture = Capture(30, 20);
        TMDIChild* window = form.CreateImageWindow(QStringLiteral("Captured Desktop"));
        window->Image->AssignGraphic(&capture);
        form.UpdateCommandStates();
        const QString path = QDir(dir.path()).filePath(QStringLiteral("shot.jpg"));
        QCOMPARE(SaveTyped(form, path, QStringLiteral("JPEG Image File (*.jpg)")), QString());
        const QByteArray bytes = Contents(path);
        QVERIFY(bytes.startsWith("BM"));
        QCOMPARE(bytes.size(), 14 + 40 + 30 * 4 * 20); // its own depth, 32 bits, no colour table
        TBitmap back;
        back.LoadFile(Local(path));
        QCOMPARE(back.Width(), 30);
        QCOMPARE(back.Height(), 20);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 30; ++x)
                QCOMPARE(QByteArray(reinterpret_cast<const char*>(back.ScanLine(y)) + 4 * x, 3),
                    QByteArray(reinterpret_cast<const char*>(capture.ScanLine(y)) + 4 * x, 3));
        // The window keeps its title.
        QCOMPARE(window->windowTitle(), QStringLiteral("Captured Desktop"));

        // Under any of the other names too, with the "All" entry chosen.
        for (const char* name : { "shot.jpeg", "shot.ico", "shot.emf", "shot.wmf" }) {
            const QString other = QDir(dir.path()).filePath(QString::fromLatin1(name));
            QCOMPARE(SaveTyped(form, other, QStringLiteral("All (*.jpg *.jpeg *.bmp *.ico *.emf *.wmf)")), QString());
            QVERIFY2(Contents(other) == bytes, name);
        }
    }

    void emptyPicturesAndMissingWindowsWriteNothing()
    {
        QTemporaryDir dir;
        TMainForm form;
        form.show();
        // A cancelled capture: the window exists, its picture is empty.
        form.CreateImageWindow(QStringLiteral("Captured Rect"));
        form.UpdateCommandStates();
        const QString path = QDir(dir.path()).filePath(QStringLiteral("nothing.bmp"));
        QCOMPARE(SaveTyped(form, path), QString());
        QVERIFY(!QFile::exists(path));
        // A file already there stays as it was.
        const QString kept = Write(QDir(dir.path()).filePath(QStringLiteral("kept.bmp")), "old bytes");
        QCOMPARE(SaveTyped(form, kept), QString());
        QCOMPARE(Contents(kept), QByteArray("old bytes"));

        // No image window at all: the dialog comes and nothing is written.
        form.ActiveImageWindow()->close();
        RunEventLoop();
        QVERIFY(form.ImageWindows().isEmpty());
        QCOMPARE(SaveTyped(form, path), QString());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void openedPicturesSaveInTheirOwnFormat()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        TMainForm form;
        form.show();

        // JPEG: the bytes as read, whatever the new name.
        const QString jpeg = Write(folder.filePath(QStringLiteral("in.jpg")), Contents(JpegSample()));
        QCOMPARE(OpenTyped(form, jpeg), QString());
        const QString jpegCopy = folder.filePath(QStringLiteral("copy.bmp"));
        QCOMPARE(SaveTyped(form, jpegCopy), QString());
        QCOMPARE(Contents(jpegCopy), Contents(jpeg));
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), jpeg);

        // Targa: through the Targa writer, read back as the same picture.
        const QString targa = Write(folder.filePath(QStringLiteral("in.tga")), TargaFile());
        QCOMPARE(OpenTyped(form, targa), QString());
        const QString targaCopy = folder.filePath(QStringLiteral("targa-copy.bmp"));
        QCOMPARE(SaveTyped(form, targaCopy), QString());
        const QByteArray written = Contents(targaCopy);
        QVERIFY(!written.startsWith("BM"));
        QCOMPARE(int(written[2]), 10); // run-length compressed true colour
        TTargaGraphic original, copy;
        original.LoadFile(Local(targa));
        copy.LoadFile(Local(targaCopy));
        QCOMPARE(copy.Width(), 4);
        QCOMPARE(copy.Height(), 3);
        for (int y = 0; y < 3; ++y)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(copy.ScanLine(y)), copy.RowBytes()),
                QByteArray(reinterpret_cast<const char*>(original.ScanLine(y)), original.RowBytes()));

        // TIFF is not written: a Windows bitmap of the picture, also under a TIFF name.
        const QString tiff = Write(folder.filePath(QStringLiteral("in.tif")), TiffFile());
        QCOMPARE(OpenTyped(form, tiff), QString());
        QCOMPARE(form.ActiveImageWindow()->Image->Picture().Width(), 3);
        const QString tiffCopy = folder.filePath(QStringLiteral("out.tif"));
        QCOMPARE(SaveTyped(form, tiffCopy), QString());
        QVERIFY(Contents(tiffCopy).startsWith("BM"));
        TBitmap bitmap;
        bitmap.LoadFile(Local(tiffCopy));
        const TBitmap* shown = form.ActiveImageWindow()->Image->Picture().Graphic()->DisplayBitmap();
        QCOMPARE(bitmap.Width(), 3);
        QCOMPARE(bitmap.Height(), 2);
        QCOMPARE(bitmap.PixelFormat(), shown->PixelFormat());
        for (int y = 0; y < 2; ++y)
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(bitmap.ScanLine(y)), bitmap.RowBytes()),
                QByteArray(reinterpret_cast<const char*>(shown->ScanLine(y)), shown->RowBytes()));
    }

    void enhancedMetafileSavedUnderAWmfNameIsRendered()
    {
        const auto data = TestDataDir();
        if (!data)
            QSKIP("shared test data not found (set KAVREL_TESTDATA)");
        const QString emf = QString::fromStdString((*data / "emf" / "drawing.emf").string());
        if (!QFile::exists(emf))
            QSKIP("no enhanced metafile among the shared samples");
        QTemporaryDir dir;
        TMainForm form;
        form.show();
        QCOMPARE(OpenTyped(form, emf), QString());
        const QString asRead = QDir(dir.path()).filePath(QStringLiteral("copy.emf"));
        QCOMPARE(SaveTyped(form, asRead), QString());
        QCOMPARE(Contents(asRead), Contents(emf));
        const QString windows = QDir(dir.path()).filePath(QStringLiteral("copy.WMF"));
        QCOMPARE(SaveTyped(form, windows), QString());
        QVERIFY(Contents(windows).startsWith(QByteArray("\xd7\xcd\xc6\x9a", 4))); // placeable header
    }

    void failedWritesLeaveTheOldFile()
    {
        QTemporaryDir dir;
        const QDir folder(dir.path());
        TMainForm form;
        form.show();

        // The disk fills up halfway through.
        TFailingGraphic failing;
        failing.SetPixelFormat(pf24bit);
        failing.SetSize(10, 10);
        form.CreateImageWindow(QStringLiteral("Captured Desktop"))->Image->AssignGraphic(&failing);
        form.UpdateCommandStates();
        const QString old = Write(folder.filePath(QStringLiteral("old.bmp")), "the old picture");
        QCOMPARE(SaveTyped(form, old), QStringLiteral("Stream write error."));
        QCOMPARE(Contents(old), QByteArray("the old picture"));
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList { "old.bmp" });

        // A read-only folder, and a read-only file.
        ScopedPermissionChecks checks;
        if (!checks.Active())
            QSKIP("permission checks cannot be enforced for this user");
        const TBitmap capture = Capture(8, 8);
        form.CreateImageWindow(QStringLiteral("Captured Desktop"))->Image->AssignGraphic(&capture);
        QVERIFY(QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(SaveTyped(form, old), QString::fromStdString(ErrorBoxText("Cannot create file " + Local(old))));
        const QString fresh = folder.filePath(QStringLiteral("fresh.bmp"));
        QCOMPARE(SaveTyped(form, fresh), QString::fromStdString(ErrorBoxText("Cannot create file " + Local(fresh))));
        QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(Contents(old), QByteArray("the old picture"));
        QVERIFY(!QFile::exists(fresh));

        QVERIFY(QFile::setPermissions(old, QFile::ReadOwner));
        QCOMPARE(SaveTyped(form, old), QString::fromStdString(ErrorBoxText("Cannot create file " + Local(old))));
        QCOMPARE(Contents(old), QByteArray("the old picture"));
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList { "old.bmp" });
    }
};

QTEST_MAIN(OpenSaveTest)
#include "OpenSaveTest.moc"
