#include "WaylandScene.h"

#include "capture/DesktopLayout.h"
#include "capture/SwayIpc.h"
#include "capture/SwayTree.h"
#include "framework/Exception.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>

#ifndef KAVREL_TEST_WINDOW
#error KAVREL_TEST_WINDOW names the colour window program
#endif

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

QByteArray RunPumping(const QString& program, const QStringList& arguments, int* status, const QByteArray& input)
{
    QProcess process;
    process.start(program, arguments);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    WaitUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(20));
    if (status)
        *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

bool WaylandScene::Available()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* sway = std::getenv("SWAYSOCK");
    return display && *display && sway && *sway;
}

WaylandScene::~WaylandScene()
{
    for (const auto& window : windows_) {
        window->kill();
        window->waitForFinished();
    }
    for (const QString& title : titles_)
        WaitUntilGone(title);
}

TRect WaylandScene::PlaceOf(const QString& title)
{
    const QJsonObject tree = SwayIpc::Connect()->Tree();
    std::optional<TRect> place;
    std::function<void(const QJsonObject&, int)> walk = [&](const QJsonObject& node, int depth) {
        if (node.value(QLatin1String("name")).toString() == title && node.contains(QLatin1String("pid")) && !place)
            place = WindowById(tree, static_cast<HWND>(node.value(QLatin1String("id")).toInteger()))->rect;
        for (const QString& children : {QStringLiteral("nodes"), QStringLiteral("floating_nodes")})
            for (const QJsonValue& child : node.value(children).toArray())
                if (depth < 64)
                    walk(child.toObject(), depth + 1);
    };
    walk(tree, 0);
    return place.value_or(TRect{});
}

void WaylandScene::WaitUntilGone(const QString& title)
{
    WaitUntil([&] { return PlaceOf(title) == TRect{}; });
    // A window hidden while the compositor still waits for it to take a new place stays drawn a little
    // longer (sway waits up to 200 ms) than its tree says.
    QThread::msleep(250);
}

void WaylandScene::AddWindow(const QString& title, const QString& fill, int x, int y, int width, int height, bool xwayland)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), xwayland ? QStringLiteral("xcb") : QStringLiteral("wayland"));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(KAVREL_TEST_WINDOW), {fill, title});
    WaitUntil([&] { return process->canReadLine() || process->state() == QProcess::NotRunning; });
    windows_.push_back(std::move(process));
    titles_.append(title);
    // An X client's window reaches the compositor a little after it has painted.
    const std::string criteria = "[title=\"" + title.toStdString() + "\"] ";
    const TRect wanted{x, y, x + width, y + height};
    WaitUntil([&] {
        try {
            Sway(criteria + "resize set " + std::to_string(width) + " " + std::to_string(height) +
                 ", move absolute position " + std::to_string(x) + " " + std::to_string(y));
            return true;
        } catch (const Exception&) {
            return false;
        }
    });
    // The compositor moves the window once the client has drawn it at its new size, and shows it there a
    // little later still.
    WaitUntil([&] {
        const std::unique_ptr<SwayIpc> ipc = SwayIpc::Connect();
        const std::optional<TCompositorWindow> window = ipc ? FocusedWindow(ipc->Tree()) : std::nullopt;
        return window && window->rect == wanted;
    });
    WaitUntil([&] {
        const QImage desktop = Grim();
        DesktopLayout layout(OutputsFromAnswer(SwayIpc::Connect()->Outputs()));
        layout.SetPictureSize({desktop.width(), desktop.height()});
        const TRect device = layout.DeviceRect(wanted);
        const QRgb corner = desktop.pixel(device.Left, device.Top) & 0xFFFFFF;
        return corner != 0x203040 && corner != 0x402030;
    });
}

void WaylandScene::Focus(const QString& title)
{
    Sway("[title=\"" + title.toStdString() + "\"] focus");
    WaitUntil([&] {
        const std::optional<TCompositorWindow> focused = FocusedWindow(SwayIpc::Connect()->Tree());
        return focused && focused->title == title.toStdString();
    });
}

void WaylandScene::Sway(const std::string& commands)
{
    const std::unique_ptr<SwayIpc> ipc = SwayIpc::Connect();
    if (ipc)
        ipc->Command(commands);
}

QImage WaylandScene::Grim()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("grim.png"));
    RunPumping(QStringLiteral("grim"), {file});
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

namespace {

void Input(const std::string& line)
{
    const char* fifo = std::getenv("KAVREL_TEST_INPUT");
    QFile input(QString::fromLocal8Bit(fifo ? fifo : ""));
    if (!fifo || !input.open(QIODevice::WriteOnly))
        throw Exception("no pointer to drive (KAVREL_TEST_INPUT)");
    input.write(QByteArray::fromStdString(line + "\n"));
    input.close();
    // The compositor passes the event on before the next step.
    QThread::msleep(30);
    QCoreApplication::processEvents();
}

}  // namespace

void WaylandScene::PointerTo(int x, int y)
{
    DesktopLayout layout(OutputsFromAnswer(SwayIpc::Connect()->Outputs()));
    const TPoint size = layout.PictureSize();
    const double scale = layout.Monitors().empty() ? 1 : layout.Monitors().front().device.Width() * 1.0 /
                                                            layout.Monitors().front().logical.Width();
    Input("move " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(static_cast<int>(size.X / scale)) +
          " " + std::to_string(static_cast<int>(size.Y / scale)));
}

void WaylandScene::Press()
{
    Input("press");
}

void WaylandScene::Release()
{
    Input("release");
}

std::vector<QImage> WaylandScene::GrimOutputs()
{
    std::vector<QImage> pictures;
    QTemporaryDir dir;
    for (const TMonitor& output : OutputsFromAnswer(SwayIpc::Connect()->Outputs())) {
        const QString file = dir.filePath(QStringLiteral("output.png"));
        RunPumping(QStringLiteral("grim"), {QStringLiteral("-o"), QString::fromStdString(output.name), file});
        pictures.push_back(QImage(file).convertToFormat(QImage::Format_RGB32));
    }
    return pictures;
}

long DifferentFromOutputs(const TBitmap& desktop, const std::vector<QImage>& outputs)
{
    DesktopLayout layout(OutputsFromAnswer(SwayIpc::Connect()->Outputs()));
    layout.SetPictureSize({desktop.Width(), desktop.Height()});
    if (layout.Monitors().size() != outputs.size())
        return -1;
    long different = 0;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const TRect device = layout.Monitors()[i].device;
        const QImage& own = outputs[i];
        for (int y = 0; y < own.height(); ++y)
            for (int x = 0; x < own.width(); ++x) {
                const int dx = device.Left + x * device.Width() / own.width();
                const int dy = device.Top + y * device.Height() / own.height();
                different += dx >= desktop.Width() || dy >= desktop.Height() ||
                             (own.pixel(x, y) & 0xFFFFFF) != Rgb(desktop, dx, dy);
            }
    }
    return different;
}

uint32_t Rgb(const TBitmap& bitmap, int x, int y)
{
    const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

long DifferentPixels(const TBitmap& bitmap, const QImage& picture, int left, int top)
{
    long different = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            different += !picture.valid(left + x, top + y) ||
                         (picture.pixel(left + x, top + y) & 0xFFFFFF) != Rgb(bitmap, x, y);
    return different;
}
