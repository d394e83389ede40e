// The real program under a real X server with a window manager: start it, open a picture through
// File > Open, take a screenshot and check that the frame, the menus (Chinese text, not boxes), the
// toolbar glyphs and the picture are on the screen; then leave through File > Exit. And the About
// box's outer size and place, which only a window manager's frame decides.
// Skipped when DISPLAY is unset (scripts/test starts Xvfb and openbox for it).
#include "AppTestSupport.h"
#include "app/Main.h"
#include "app/about.h"
#include "framework/Bitmap.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

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

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(KAVREL_PROGRAM), {});
        QVERIFY2(program.waitForStarted(), "the program did not start");
        auto stop = qScopeGuard([&] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished();
            }
        });

        QString window;
        for (int i = 0; i < 100 && window.isEmpty(); ++i) {
            QTest::qWait(100);
            window = Run(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                    QStringLiteral("Kavrel.*V2\\.5") })
                         .section(QLatin1Char('\n'), 0, 0);
        }
        QVERIFY2(!window.isEmpty(), "the main window did not appear");
        QTest::qWait(500);
        Xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
        Xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+o") });
        const QString pid = QString::number(program.processId());
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
        Xdotool({ QStringLiteral("key"), QStringLiteral("alt+f") });
        QTest::qWait(300);
        Xdotool({ QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return") });
        QVERIFY2(program.waitForFinished(5000), "Exit did not end the program");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
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
