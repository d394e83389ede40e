// The frame's own capture component with the real overlays on a real X server with a window manager:
// an area capture, an object capture and a cancelled area capture, driven through the frame's commands
// with xdotool, over a picture that another program (ImageMagick's display) shows. Skipped when DISPLAY
// is unset (scripts/test starts Xvfb and openbox for it).
#include "AppTestSupport.h"
#include "app/Childwin.h"
#include "app/ImageControl.h"
#include "app/Main.h"
#include "capture/CaptureOverlays.h"
#include "capture/OxaCapture.h"
#include "capture/ScreenOverlay.h"
#include "capture/SessionCapturePlatform.h"
#include "capture/X11CapturePlatform.h"

#include <QAction>
#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdio>

namespace {

QString Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Neighbouring pixels all differ, so a shift by one pixel shows.
QImage Pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 3) & 0xFF, (x * 2 + y * 5 + 40) & 0xFF, (x ^ y) & 0xFF));
    return image;
}

QAction* Command(TMainForm& form, const char* name)
{
    return form.findChild<QAction*>(QString::fromLatin1(name));
}

ScreenOverlay* ShownOverlay(const char* className)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits(className) && widget->isVisible() && widget->windowHandle() &&
            widget->windowHandle()->isExposed())
            return static_cast<ScreenOverlay*>(widget);
    return nullptr;
}

// Runs the steps once the overlay of the class is on the screen, inside its modal display; ends the
// display if the steps did not.
void WhileShown(const char* className, const std::function<void(ScreenOverlay&)>& steps)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [=] {
        ScreenOverlay* overlay = ShownOverlay(className);
        if (!overlay)
            return;
        poll->stop();
        poll->deleteLater();
        QTest::qWait(150);
        steps(*overlay);
        if (!QTest::qWaitFor([&] { return overlay->ModalResult() != 0; }, 3000)) {
            qWarning("%s did not end", className);
            overlay->SetModalResult(99);
        }
    });
    poll->start(10);
}

void Xdotool(const QStringList& arguments)
{
    Run(QStringLiteral("xdotool"), arguments);
}

QString N(int value)
{
    return QString::number(value);
}

} // namespace

class CaptureX11Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitAppTests();
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("display")).isEmpty())
            QSKIP("xdotool and ImageMagick's display are needed");
        if (!dynamic_cast<X11CapturePlatform&>(DefaultCapturePlatform()).WindowManagerRunning())
            QSKIP("no window manager (scripts/test runs openbox)");

        // Another program's window with a known picture, placed relative to the screen's size.
        pattern_ = Pattern(300, 200);
        QVERIFY(pattern_.save(dir_.filePath(QStringLiteral("pattern.png"))));
        const QSize screen = QGuiApplication::primaryScreen()->size();
        viewer_.start(QStringLiteral("display"),
            { QStringLiteral("-title"), QStringLiteral("kavrel-capture-scene"), QStringLiteral("-geometry"),
                QStringLiteral("+%1+%2").arg(screen.width() / 2).arg(screen.height() / 3),
                dir_.filePath(QStringLiteral("pattern.png")) });
        QVERIFY(viewer_.waitForStarted());
        QString id;
        QVERIFY(QTest::qWaitFor(
            [&] {
                id = Run(QStringLiteral("xdotool"),
                    { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                        QStringLiteral("kavrel-capture-scene") })
                         .section(QLatin1Char('\n'), 0, 0);
                return !id.isEmpty();
            },
            10000));
        QTest::qWait(500);
        // xwininfo, not xdotool: xdotool counts a reparenting window manager's frame offset twice.
        const QString info = Run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), id });
        auto value = [&](const char* key) {
            return QRegularExpression(QStringLiteral("%1:\\s*(-?\\d+)").arg(QLatin1String(key)))
                .match(info)
                .captured(1)
                .toInt();
        };
        picture_ = QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"));
        QCOMPARE(picture_.size(), pattern_.size());
        viewerWindow_ = id.toUInt();
    }

    void cleanupTestCase()
    {
        if (viewer_.state() != QProcess::NotRunning) {
            viewer_.kill();
            viewer_.waitForFinished();
        }
    }

    void frameOwnsTheComponentWithItsDefaults()
    {
        TMainForm form;
        TOxaScreenCapture& capture = form.ScreenCapture();
        QCOMPARE(form.OxaScreenCapture1, static_cast<ICaptureSource*>(&capture));
        QVERIFY(capture.Auto());
        QCOMPARE(capture.Delay(), 500);
        QVERIFY(capture.Minimize());
        QVERIFY(!capture.OnCapture());
    }

    void areaCapture()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPoint anchor = picture_.topLeft() + QPoint(251, 163);
        const QPoint moving = picture_.topLeft() + QPoint(37, 21);
        WhileShown("TCaptureRectForm", [&](ScreenOverlay&) {
            QVERIFY2(form.isMinimized() || !form.isVisible(), "the frame left the screen");
            Xdotool({ "mousemove", "--sync", N(anchor.x()), N(anchor.y()), "mousedown", "1" });
            QTest::qWait(50);
            Xdotool({ "mousemove", "--sync", N(moving.x() + 30), N(moving.y() + 30) });
            QTest::qWait(50);
            Xdotool({ "mousemove", "--sync", N(moving.x()), N(moving.y()) });
            QTest::qWait(150);
            Xdotool({ "mouseup", "1" });
        });
        Command(form, "CaptureArea1")->trigger();

        TMDIChild* window = form.ActiveImageWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Captured Rect"));
        const QImage captured = window->Image->DisplayImage().convertToFormat(QImage::Format_RGB32);
        const QRect rect = QRect(moving, anchor - QPoint(1, 1)).translated(-picture_.topLeft());
        QCOMPARE(captured.size(), rect.size());
        QCOMPARE(captured, pattern_.copy(rect));
        QVERIFY(QTest::qWaitFor([&] { return form.isVisible() && !form.isMinimized(); }, 5000));
    }

    void objectCapture()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        WhileShown("TCaptureObjectForm", [&](ScreenOverlay&) {
            Xdotool({ "mousemove", "--sync", N(picture_.left() + 120), N(picture_.top() + 90), "click", "1" });
        });
        Command(form, "CaptureObject1")->trigger();

        TMDIChild* window = form.ActiveImageWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Captured Object"));
        const QImage captured = window->Image->DisplayImage().convertToFormat(QImage::Format_RGB32);
        // The viewer's window with the window manager's frame around it.
        const TRect outer = DefaultCapturePlatform().GetWindowRect(viewerWindow_);
        QCOMPARE(captured.size(), QSize(outer.Width(), outer.Height()));
        QVERIFY(captured.width() >= picture_.width() && captured.height() > picture_.height());
        const QPoint inside = picture_.topLeft() - QPoint(outer.Left, outer.Top);
        QCOMPARE(captured.copy(QRect(inside, picture_.size())), pattern_);
    }

    void altF4CancelsAndLeavesAnEmptyWindow()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        WhileShown("TCaptureRectForm", [&](ScreenOverlay& overlay) {
            QVERIFY(QTest::qWaitFor([&] { return overlay.isActiveWindow(); }, 3000));
            Xdotool({ "key", "alt+F4" });
            QVERIFY(QTest::qWaitFor([&] { return overlay.ModalResult() == mrCancel; }, 3000));
        });
        Command(form, "CaptureArea1")->trigger();
        TMDIChild* window = form.ActiveImageWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Captured Rect"));
        QVERIFY(window->Image->Picture().Graphic() == nullptr);
        QVERIFY(QTest::qWaitFor([&] { return form.isVisible() && !form.isMinimized(); }, 5000));
        QVERIFY(ShownOverlay("TCaptureRectForm") == nullptr);
    }

private:
    QTemporaryDir dir_;
    QProcess viewer_;
    QImage pattern_;
    QRect picture_;
    HWND viewerWindow_ = 0;
};

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("SKIP: DISPLAY is not set; this test needs an X server with a window manager "
                  "(scripts/test starts Xvfb and openbox)");
        return 77;
    }
    QApplication application(argc, argv);
    CaptureX11Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "CaptureX11Test.moc"
