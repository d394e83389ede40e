// Capture on a real Wayland desktop: headless sway with the screenshot portal, started by run-on-sway.sh
// (one output; two outputs, the second at scale 2; no portal; a portal whose screenshots fail). grim's
// picture of the same moment is the reference.
#include "WaylandScene.h"
#include "capture/CaptureOverlayForms.h"
#include "capture/OxaCapture.h"
#include "capture/ScreenOverlay.h"
#include "capture/ScreenshotPortal.h"
#include "capture/WaylandCapturePlatform.h"
#include "framework/Exception.h"
#include "framework/Stream.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>

#ifndef KAVREL_CLI_PATH
#error KAVREL_CLI_PATH names kavrel-cli
#endif

namespace {

// Runs `steps` once an overlay is on the screen, inside its modal display; ends the display if the steps
// did not, so that a failing test cannot hang.
void WhileOverlayShown(const std::function<void()>& steps)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [=] {
        ScreenOverlay* overlay = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* o = qobject_cast<ScreenOverlay*>(widget); o && o->isVisible() && o->windowHandle()->isExposed())
                overlay = o;
        if (!overlay)
            return;
        poll->stop();
        poll->deleteLater();
        // The compositor has made every surface full-screen.
        WaitUntil([] { return false; }, std::chrono::milliseconds(300));
        steps();
        if (!WaitUntil([&] { return overlay->ModalResult() != 0; }))
            overlay->SetModalResult(99);
    });
    poll->start(10);
}

// A shown window of the program itself, magenta, in the middle of the first output.
class ProgramWindow : public QWidget {
public:
    ProgramWindow()
    {
        setWindowTitle(QStringLiteral("kavrel-frame"));
        setStyleSheet(QStringLiteral("background: #ff00ff"));
        resize(500, 350);
        show();
        WaitUntil([this] { return windowHandle() && windowHandle()->isExposed(); });
        WaylandScene::Sway("[title=\"kavrel-frame\"] move absolute position 300 150");
        WaitUntil([] { return WaylandScene::PlaceOf(QStringLiteral("kavrel-frame")) == TRect{300, 150, 800, 500}; });
        WaitUntil([this] { return QApplication::focusWindow() == windowHandle(); }, std::chrono::seconds(2));
    }
    ~ProgramWindow() override
    {
        hide();
        WaylandScene::WaitUntilGone(windowTitle());
    }
};

class WaylandCaptureTest : public testing::Test {
protected:
    void SetUp() override
    {
        KAVREL_REQUIRE_SWAY();
        capture.SetDelay(0);
    }

    QString PortalFailure() const { return QString::fromLocal8Bit(std::getenv("KAVREL_PORTAL_FAILURE")); }

    WaylandScene scene;
    WaylandCapturePlatform platform;
    CaptureOverlayForms overlays{platform};
    TOxaScreenCapture capture{platform, &overlays};
};

TEST_F(WaylandCaptureTest, DesktopIsWhatGrimSeesWithoutTheProgramsWindows)
{
    if (!PortalFailure().isEmpty())
        GTEST_SKIP() << "the screenshot service fails in this run";
    scene.AddWindow(QStringLiteral("red"), QStringLiteral("c03020"), 40, 40, 300, 200);
    scene.AddWindow(QStringLiteral("pattern"), QStringLiteral("pattern"), 420, 60, 320, 240);
    // A client of Xwayland, whose root window holds no pixels: it must not come out black.
    scene.AddWindow(QStringLiteral("x11-blue"), QStringLiteral("2040c0"), 200, 380, 300, 200, true);
    const QImage whole = WaylandScene::Grim();
    const std::vector<QImage> outputs = WaylandScene::GrimOutputs();
    ProgramWindow frame;
    const TRect place = WaylandScene::PlaceOf(frame.windowTitle());

    // Straight from the compositor: every output's own pixels.
    const std::unique_ptr<TBitmap> desktop = capture.CaptureDesktop();
    ASSERT_EQ(QSize(desktop->Width(), desktop->Height()), whole.size());
    EXPECT_EQ(DifferentFromOutputs(*desktop, outputs), 0) << "the program's own window is gone, the rest is unchanged";
    const int k = desktop->Width() / 1920 > 0 ? 2 : 1;  // the two-output run's picture is at scale 2
    EXPECT_EQ(Rgb(*desktop, 350 * k, 480 * k), 0x2040C0u);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(WaylandScene::PlaceOf(frame.windowTitle()), place) << "the window comes back where it was";
    EXPECT_EQ(platform.OpenContexts(), 0);

    // Through the screenshot service, which lays the outputs out as grim does.
    WaylandCapturePlatform portal(&ScreenshotPortal::Take);
    TOxaScreenCapture throughService(portal);
    throughService.SetDelay(0);
    EXPECT_EQ(DifferentPixels(*throughService.CaptureDesktop(), whole), 0);
    EXPECT_EQ(WaylandScene::PlaceOf(frame.windowTitle()), place);
}

TEST_F(WaylandCaptureTest, ActiveWindowAndObjectThroughTheCompositor)
{
    if (!PortalFailure().isEmpty())
        GTEST_SKIP() << "the screenshot service fails in this run";
    scene.AddWindow(QStringLiteral("red"), QStringLiteral("c03020"), 40, 40, 300, 200);
    scene.AddWindow(QStringLiteral("green"), QStringLiteral("30a040"), 420, 60, 200, 120);
    WaylandScene::Focus(QStringLiteral("green"));
    capture.SetMinimize(false);
    EXPECT_FALSE(platform.PicksWindowsInteractively());

    const int k = platform.GetScreenSize().X / 1920 > 0 ? 2 : 1;
    const std::unique_ptr<TBitmap> active = capture.CaptureActiveWindow();
    ASSERT_EQ(QSize(active->Width(), active->Height()), QSize(200 * k, 120 * k));
    // (The service magnifies an output of a lower scale smoothly: its windows' edges blend.)
    EXPECT_EQ(Rgb(*active, 2, 2), 0x30A040u);
    EXPECT_EQ(Rgb(*active, active->Width() - 3, active->Height() - 3), 0x30A040u);

    // The pick on the object overlay: sway's own pointer, pressed and released over the red window.
    bool handShown = false;
    WhileOverlayShown([&] {
        // Qt's Wayland platform shows no cursor made of a bitmap and a mask: the hand is a picture here.
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->inherits("TCaptureObjectForm"))
                handShown = !widget->cursor().pixmap().isNull();
        WaylandScene::PointerTo(100, 100);
        WaylandScene::Press();
        WaylandScene::Release();
    });
    const std::unique_ptr<TBitmap> object = capture.CaptureObject();
    EXPECT_TRUE(handShown);
    ASSERT_TRUE(object);
    ASSERT_EQ(QSize(object->Width(), object->Height()), QSize(300 * k, 200 * k));
    EXPECT_EQ(Rgb(*object, 5, 5), 0xC03020u);
}

TEST_F(WaylandCaptureTest, AreaOnEveryOutputInItsDevicePixels)
{
    if (!PortalFailure().isEmpty())
        GTEST_SKIP() << "the screenshot service fails in this run";
    const std::vector<TMonitor> monitors = platform.GetMonitors();
    if (monitors.size() < 2)
        GTEST_SKIP() << "needs the two-output run";
    // The second output lies right of the first at scale 2: logical x 1280 is device x 2560.
    scene.AddWindow(QStringLiteral("pattern"), QStringLiteral("pattern"), 1330, 40, 300, 200);
    const QImage grim = WaylandScene::Grim();
    ASSERT_EQ(grim.size(), QSize(3840, 1440));

    QImage shown;
    WhileOverlayShown([&] {
        // Every output shows its part of the frozen screen.
        shown = WaylandScene::Grim();
        WaylandScene::PointerTo(1400, 100);
        WaylandScene::Press();
        WaylandScene::PointerTo(1450, 130);
        WaylandScene::PointerTo(1500, 180);
        WaylandScene::Release();
    });
    const std::unique_ptr<TBitmap> area = capture.CaptureArea();
    ASSERT_TRUE(area);
    ASSERT_EQ(QSize(area->Width(), area->Height()), QSize(200, 160));
    EXPECT_EQ(DifferentPixels(*area, grim, 2800, 200), 0);
    // The overlay on the second output showed the frozen screen pixel for pixel, band aside.
    TBitmap secondOutput;
    secondOutput.SetSize(1280, 720);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) {
            const QRgb p = grim.pixel(2560 + x, y);
            uint8_t* q = secondOutput.ScanLine(y) + 4 * x;
            q[0] = qBlue(p), q[1] = qGreen(p), q[2] = qRed(p);
        }
    EXPECT_LT(DifferentPixels(secondOutput, shown, 2560, 0), 2 * (200 + 160) * 2 + 8);
}

TEST_F(WaylandCaptureTest, ClipboardHoldsTheCaptureOnceTheWindowIsBack)
{
    if (!PortalFailure().isEmpty())
        GTEST_SKIP() << "the screenshot service fails in this run";
    ProgramWindow frame;
    const std::unique_ptr<TBitmap> desktop = capture.CaptureDesktop();
    // The image goes to the clipboard once the window is back and has the keyboard focus.
    QImage pasted;
    ASSERT_TRUE(WaitUntil([&] {
        pasted = QImage::fromData(RunPumping(QStringLiteral("wl-paste"), {QStringLiteral("-t"), QStringLiteral("image/png")}));
        return pasted.size() == QSize(desktop->Width(), desktop->Height());
    })) << "the capture was not pasted";
    pasted.convertTo(QImage::Format_RGB32);
    EXPECT_EQ(DifferentPixels(*desktop, pasted), 0);
    const QByteArray types = RunPumping(QStringLiteral("wl-paste"), {QStringLiteral("--list-types")});
    EXPECT_TRUE(types.contains("image/bmp")) << types.toStdString();
}

TEST_F(WaylandCaptureTest, CommandLine)
{
    if (!PortalFailure().isEmpty())
        GTEST_SKIP() << "the screenshot service fails in this run";
    scene.AddWindow(QStringLiteral("red"), QStringLiteral("c03020"), 40, 40, 300, 200);
    WaylandScene::Focus(QStringLiteral("red"));
    QTemporaryDir dir;
    const QString cli = QStringLiteral(KAVREL_CLI_PATH);
    const QString desktopFile = dir.filePath(QStringLiteral("desktop.bmp"));
    int status = -1;
    RunPumping(cli, {QStringLiteral("capture"), QStringLiteral("desktop"), QStringLiteral("-o"), desktopFile}, &status);
    EXPECT_EQ(status, 0);
    TBitmap written;
    TFileStream file(desktopFile.toStdString(), TFileStream::Mode::OpenRead);
    written.LoadStream(file);
    const std::vector<QImage> outputs = WaylandScene::GrimOutputs();
    EXPECT_EQ(DifferentFromOutputs(written, outputs), 0);
    // The clipboard holds it after the command has ended.
    const QImage pasted = QImage::fromData(RunPumping(QStringLiteral("wl-paste"), {QStringLiteral("-t"), QStringLiteral("image/png")}));
    EXPECT_EQ(DifferentPixels(written, pasted.convertToFormat(QImage::Format_RGB32)), 0);

    const QString activeFile = dir.filePath(QStringLiteral("active.bmp"));
    RunPumping(cli, {QStringLiteral("capture"), QStringLiteral("active"), QStringLiteral("-o"), activeFile,
                     QStringLiteral("--no-clipboard")},
               &status);
    EXPECT_EQ(status, 0);
    const QImage active(activeFile);
    const int k = written.Width() / 1920 > 0 ? 2 : 1;
    EXPECT_EQ(active.size(), QSize(300 * k, 200 * k));
    EXPECT_EQ(active.pixel(3, 3) & 0xFFFFFF, 0xC03020u);
    EXPECT_EQ(active.pixel(active.width() - 3, active.height() - 3) & 0xFFFFFF, 0xC03020u);
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/out.png"))) << "the service's file is left behind";
}

// The screenshot service is missing or fails: an error, never a picture, and the clipboard keeps what it had.
TEST_F(WaylandCaptureTest, ServiceFailuresAreErrors)
{
    const QString failure = PortalFailure();
    if (failure.isEmpty())
        GTEST_SKIP() << "the screenshot service works in this run";
    RunPumping(QStringLiteral("wl-copy"), {QStringLiteral("kept")});
    ProgramWindow frame;
    try {
        capture.CaptureDesktop();
        ADD_FAILURE() << "no failure";
    } catch (const Exception& error) {
        EXPECT_EQ(QString::fromStdString(error.Message()), failure);
    }
    EXPECT_TRUE(frame.isVisible());

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("desktop.bmp"));
    int status = -1;
    QProcess cli;
    cli.start(QStringLiteral(KAVREL_CLI_PATH), {QStringLiteral("capture"), QStringLiteral("desktop"), QStringLiteral("-o"), file});
    WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, std::chrono::seconds(40));
    status = cli.exitCode();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(cli.readAllStandardError().contains(failure.toUtf8()));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(RunPumping(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}), "kept");
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
