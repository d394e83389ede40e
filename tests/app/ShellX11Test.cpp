// The real program under a real X server with a window manager: start it, open a picture through
// File > Open, take a screenshot and check that the frame, the menus (Chinese text, not boxes), the
// toolbar glyphs and the picture are on the screen; then leave through File > Exit. A capture that stays
// on the clipboard after Exit. And the About box's outer size and place, which only a window manager's
// frame decides.
// Skipped when DISPLAY is unset (scripts/test starts Xvfb and openbox for it).
#include "AppTestSupport.h"
#include "app/Main.h"
#include "app/about.h"
#include "framework/Bitmap.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

namespace {

const QColor kPictureColour(0x12, 0xC4, 0x5A);

QString Run(const QString& program, const QStringList& arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

void Xdotool(const QStringList& arguments)
{
    Run(QStringLiteral("xdotool"), arguments);
}

// Every opaque pixel of the glyph appears at some place of the region.
bool ContainsGlyph(const QImage& screen, const QRect& region, const QImage& glyph)
{
    const QRect area = region & screen.rect();
    for (int top = area.top(); top + glyph.height() <= area.bottom() + 1; ++top) {
        for (int left = area.left(); left + glyph.width() <= area.right() + 1; ++left) {
            bool match = true;
            for (int y = 0; y < glyph.height() && match; ++y) {
                for (int x = 0; x < glyph.width() && match; ++x) {
                    const QRgb want = glyph.pixel(x, y);
                    if (qAlpha(want) == 255)
                        match = (screen.pixel(left + x, top + y) & 0xFFFFFF) == (want & 0xFFFFFF);
                }
            }
            if (match)
                return true;
        }
    }
    return false;
}

QImage RenderText(const QString& text, const QFont& font)
{
    QImage image(200, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}

QByteArray RunForBytes(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray Clipboard(const QString& target)
{
    return RunForBytes(QStringLiteral("xclip"),
        { QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"), QStringLiteral("-t"),
            target });
}

// The clipboard servers (kavrel-clipboard) running on this test's display.
int ClipboardServers()
{
    int count = 0;
    const QByteArray display = "DISPLAY=" + qgetenv("DISPLAY");
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("kavrel-clipboar")
            && environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(display))
            ++count;
    }
    return count;
}

template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t { XCB_ATOM_NONE };
}

// A clipboard manager reduced to what a program meets at its end: it owns CLIPBOARD_MANAGER and, asked to
// save the clipboard's targets, fetches the clipboard's image/png before it answers.
class FakeClipboardManager {
public:
    FakeClipboardManager()
        : c_(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
            XCB_COPY_FROM_PARENT, 0, nullptr);
        manager_ = Atom(c_, "CLIPBOARD_MANAGER");
        saveTargets_ = Atom(c_, "SAVE_TARGETS");
        clipboard_ = Atom(c_, "CLIPBOARD");
        png_ = Atom(c_, "image/png");
        property_ = Atom(c_, "KAVREL_SAVED");
        xcb_set_selection_owner(c_, window_, manager_, XCB_CURRENT_TIME);
        xcb_flush(c_);
    }
    ~FakeClipboardManager() { xcb_disconnect(c_); }

    // Answers the requests that have come in.
    void Serve()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            if ((event->response_type & 0x7F) == XCB_SELECTION_REQUEST) {
                const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
                const bool saved
                    = request->selection == manager_ && request->target == saveTargets_ && Fetch(request->time);
                xcb_selection_notify_event_t answer {};
                answer.response_type = XCB_SELECTION_NOTIFY;
                answer.time = request->time;
                answer.requestor = request->requestor;
                answer.selection = request->selection;
                answer.target = request->target;
                answer.property = saved ? request->property : xcb_atom_t { XCB_ATOM_NONE };
                xcb_send_event(c_, 0, request->requestor, 0, reinterpret_cast<const char*>(&answer));
                xcb_flush(c_);
            }
            std::free(event);
        }
    }

    QByteArray saved;

private:
    bool Fetch(xcb_timestamp_t time)
    {
        xcb_convert_selection(c_, window_, clipboard_, png_, property_, time);
        xcb_flush(c_);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            XcbReply<xcb_generic_event_t> event(xcb_poll_for_event(c_), &std::free);
            if (!event) {
                QThread::msleep(5);
                continue;
            }
            if ((event->response_type & 0x7F) != XCB_SELECTION_NOTIFY)
                continue;
            if (reinterpret_cast<xcb_selection_notify_event_t*>(event.get())->property == XCB_ATOM_NONE)
                return false;
            XcbReply<xcb_get_property_reply_t> reply(
                xcb_get_property_reply(c_, xcb_get_property(c_, 1, window_, property_, png_, 0, 1 << 24), nullptr),
                &std::free);
            if (!reply)
                return false;
            saved = QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                xcb_get_property_value_length(reply.get()));
            return true;
        }
        return false;
    }

    xcb_connection_t* c_;
    xcb_window_t window_ = 0;
    xcb_atom_t manager_, saveTargets_, clipboard_, png_, property_;
};

// The program on the display, started afresh.
class Program {
public:
    Program()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KAVREL_PROGRAM), {});
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    // The main window's id once it is shown; empty when it did not come.
    QString MainWindow()
    {
        QString window;
        process.waitForStarted();
        for (int i = 0; i < 100 && window.isEmpty() && process.state() == QProcess::Running; ++i) {
            QTest::qWait(100);
            window = Run(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                    QStringLiteral("Kavrel.*V2\\.5") })
                         .section(QLatin1Char('\n'), 0, 0);
        }
        return window;
    }
    // File > Exit, through the keyboard.
    void Exit(const QString& window)
    {
        Xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
        Xdotool({ QStringLiteral("key"), QStringLiteral("alt+f") });
        QTest::qWait(300);
        Xdotool({ QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return") });
    }
    QProcess process;
};

} // namespace

class ShellX11Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppTests(); }

    void chineseTextHasGlyphs()
    {
        QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
            "no font for Simplified Chinese is installed (scripts/lib.sh installs fonts-wqy-microhei)");
        // Characters without a glyph all render as the same box; real ones differ from it and each other.
        const QFont font = QApplication::font("QMenuBar");
        const QImage menu = RenderText(QStringLiteral("文件"), font);
        const QImage boxes = RenderText(QString(QChar(0xE000)) + QChar(0xE001), font);
        const QImage other = RenderText(QStringLiteral("窗口"), font);
        QVERIFY(menu != boxes);
        QVERIFY(menu != other);
    }

    void aboutBoxIsFramedAt248By204OverTheFrame()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(QTest::qWaitFor([&] { return form.frameGeometry().size() == QSize(558, 483); }, 5000));
        auto* box = new TAboutBox(&form);
        // The first show as well as later ones: the window manager's frame is only known once shown.
        for (int show = 1; show <= 2; ++show) {
            box->open();
            const bool framed = QTest::qWaitFor(
                [&] {
                    return box->frameGeometry().size() == QSize(248, 204) && box->frameGeometry() != box->geometry();
                },
                5000);
            QVERIFY2(framed,
                qPrintable(QStringLiteral("show %1: %2 x %3")
                               .arg(show)
                               .arg(box->frameGeometry().width())
                               .arg(box->frameGeometry().height())));
            QTest::qWait(100);
            const QPoint offset = box->frameGeometry().center() - form.frameGeometry().center();
            QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1,
                qPrintable(QStringLiteral("show %1: off centre by %2, %3").arg(show).arg(offset.x()).arg(offset.y())));
            box->close();
            QTest::qWait(100);
        }
    }

    // After a capture and Exit the image stays on the clipboard: served by kavrel-clipboard until another
    // program takes the clipboard, or handed to the clipboard manager when one runs.
    void captureOutlivesTheProgram()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            QSKIP("xclip is not installed");
        for (const bool manager : { false, true }) {
            // Nothing of an earlier run on the clipboard.
            Run(QStringLiteral("sh"),
                { QStringLiteral("-c"), QStringLiteral("printf none | xclip -selection clipboard -i") });
            QVERIFY(QTest::qWaitFor([] { return ClipboardServers() == 0; }, 5000));
            Program program;
            const QString window = program.MainWindow();
            QVERIFY2(!window.isEmpty(), "the main window did not appear");
            QTest::qWait(300);
            Xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
            Xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+d") });
            QVERIFY2(QTest::qWaitFor([] { return Clipboard(QStringLiteral("TARGETS")).contains("image/png"); }, 10000),
                "the desktop capture is not on the clipboard");
            std::optional<FakeClipboardManager> clipboardManager;
            if (manager)
                clipboardManager.emplace();
            program.Exit(window);
            QVERIFY2(QTest::qWaitFor(
                         [&] {
                             if (clipboardManager)
                                 clipboardManager->Serve();
                             return program.process.state() == QProcess::NotRunning;
                         },
                         10000),
                "Exit did not end the program");
            QCOMPARE(program.process.exitCode(), 0);
            const QSize screen
                = QGuiApplication::primaryScreen()->size() * QGuiApplication::primaryScreen()->devicePixelRatio();
            if (manager) {
                QCOMPARE(QImage::fromData(clipboardManager->saved).size(), screen);
                continue;
            }
            const QByteArray targets = Clipboard(QStringLiteral("TARGETS"));
            QVERIFY2(targets.contains("image/png") && targets.contains("image/bmp"), targets.constData());
            const QImage png = QImage::fromData(Clipboard(QStringLiteral("image/png")));
            QCOMPARE(png.size(), screen);
            QCOMPARE(QImage::fromData(Clipboard(QStringLiteral("image/bmp"))).convertToFormat(QImage::Format_RGB32),
                png.convertToFormat(QImage::Format_RGB32));
            QCOMPARE(ClipboardServers(), 1);
            Run(QStringLiteral("sh"),
                { QStringLiteral("-c"), QStringLiteral("printf taken | xclip -selection clipboard -i") });
            QVERIFY2(QTest::qWaitFor([] { return ClipboardServers() == 0; }, 5000),
                "the clipboard server did not end when another program took the clipboard");
            QCOMPARE(Clipboard(QStringLiteral("UTF8_STRING")), QByteArray("taken"));
        }
    }

    void programShowsFrameMenusToolbarAndPicture()
    {
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("x11-sample.bmp"));
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(320, 240);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                uint8_t* p = bitmap.ScanLine(y) + 3 * x;
                const bool band = (x / 40 + y / 40) % 2 == 0;
                p[0] = band ? kPictureColour.blue() : 0xFF;
                p[1] = band ? kPictureColour.green() : 0xFF;
                p[2] = band ? kPictureColour.red() : 0xFF;
            }
        bitmap.SaveToFile(picture.toStdString());

        Program program;
        const QString window = program.MainWindow();
        QVERIFY2(!window.isEmpty(), "the main window did not appear");
        QTest::qWait(500);
        Xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
        Xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+o") });
        const QString pid = QString::number(program.process.processId());
        auto visibleWindows = [&] {
            return Run(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), pid })
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                .size();
        };
        QVERIFY2(QTest::qWaitFor([&] { return visibleWindows() >= 2; }, 10000), "the open dialog did not appear");
        QTest::qWait(300);
        Xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), picture });
        Xdotool({ QStringLiteral("key"), QStringLiteral("Return") });
        QVERIFY2(QTest::qWaitFor([&] { return visibleWindows() == 1; }, 10000), "the open dialog did not close");

        // Screenshots until the picture is painted (a loaded machine may need a moment).
        const QString shotPath = QStringLiteral(KAVREL_TEST_OUTPUT_DIR "/kavrel-x11.png");
        QImage shot;
        auto countPictureColour = [&](const QRect& area) {
            int count = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    count += (shot.pixel(x, y) & 0xFFFFFF) == (kPictureColour.rgb() & 0xFFFFFF);
            return count;
        };
        for (int attempt = 0; attempt < 20; ++attempt) {
            QTest::qWait(attempt == 0 ? 300 : 500);
            Run(QStringLiteral("import"), { QStringLiteral("-window"), QStringLiteral("root"), shotPath });
            shot = QImage(shotPath).convertToFormat(QImage::Format_RGB32);
            if (!shot.isNull() && countPictureColour(shot.rect()) > 40 * 40 * 3)
                break;
        }
        QVERIFY2(!shot.isNull(), "no screenshot (ImageMagick's import)");

        // xwininfo, not xdotool: xdotool counts a reparenting window manager's frame offset twice.
        const QString geometryText = Run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), window });
        auto value = [&](const char* key) {
            const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(key)));
            return re.match(geometryText).captured(1).toInt();
        };
        const QRect client(
            value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"));
        QVERIFY2(client.width() > 400 && client.height() > 300, qPrintable(geometryText));
        // The outer size, frame included, is 558 x 483.
        const QStringList extents
            = Run(QStringLiteral("xprop"), { QStringLiteral("-id"), window, QStringLiteral("_NET_FRAME_EXTENTS") })
                  .section(QLatin1Char('='), 1)
                  .split(QLatin1Char(','));
        QCOMPARE(extents.size(), 4);
        QCOMPARE(client.width() + extents[0].toInt() + extents[1].toInt(), 558);
        QCOMPARE(client.height() + extents[2].toInt() + extents[3].toInt(), 483);

        // The window manager's frame: a title bar above the client area, not the black root window.
        int framePixels = 0;
        for (int x = client.left() + 40; x < client.right() - 40; ++x)
            framePixels += (shot.pixel(x, client.top() - 8) & 0xFFFFFF) != 0;
        QVERIFY2(framePixels > client.width() / 2, "no title bar above the window");

        // Menu titles: dark text in the menu bar row.
        int textPixels = 0;
        for (int y = client.top(); y < client.top() + 22; ++y)
            for (int x = client.left(); x < client.left() + 260; ++x)
                textPixels += qGray(shot.pixel(x, y)) < 80;
        QVERIFY2(textPixels > 60, "the menu bar shows no text");

        // Toolbar glyphs, drawn exactly.
        const QRect toolbarRow(client.left(), client.top() + 15, 320, 50);
        for (int glyph : { 7, 8, 15, 19, 23 }) {
            const QImage image = QImage(QStringLiteral(":/glyphs/%1.png").arg(glyph, 2, 10, QLatin1Char('0')))
                                     .convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(ContainsGlyph(shot, toolbarRow, image), qPrintable(QStringLiteral("glyph %1").arg(glyph)));
        }

        // The opened picture, unscaled, in an image window inside the frame.
        const int pictureColour = countPictureColour(client & shot.rect());
        QVERIFY2(pictureColour > 40 * 40 * 3, qPrintable(QString::number(pictureColour)));

        // File > Exit ends the program at once, with the window open and unsaved.
        program.Exit(window);
        QVERIFY2(program.process.waitForFinished(5000), "Exit did not end the program");
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process.exitCode(), 0);
    }
};

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("SKIP: DISPLAY is not set; this test needs an X server with a window manager "
                  "(scripts/test starts Xvfb and openbox)");
        return 77;
    }
    QApplication application(argc, argv);
    ShellX11Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "ShellX11Test.moc"
