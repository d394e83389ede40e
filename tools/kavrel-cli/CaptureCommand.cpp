#include "tools/kavrel-cli/CaptureCommand.h"

#include "capture/ClipboardImage.h"
#include "capture/OxaCapture.h"
#include "capture/SessionCapturePlatform.h"
#include "capture/WaylandCapturePlatform.h"
#include "framework/Exception.h"
#include "tools/kavrel-cli/GeometryArgument.h"
#include "tools/kavrel-cli/RasterOutput.h"

#include <QClipboard>
#include <QGuiApplication>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>

namespace {

enum class Target { Desktop, ActiveWindow, Area };

struct Options {
    Target target = Target::Desktop;
    std::optional<TGeometryArgument> geometry;
    std::string file;
    int delay = 0;
    bool clipboard = true;
};

Options ParseOptions(const std::vector<std::string>& args)
{
    Options options;
    if (args.empty() || (args[0] != "desktop" && args[0] != "active" && args[0] != "area"))
        throw UsageError("capture needs desktop, active or area");
    options.target = args[0] == "desktop" ? Target::Desktop : args[0] == "active" ? Target::ActiveWindow : Target::Area;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "-o" || arg == "--delay" || arg == "--geometry";
        if (arg == "--no-clipboard") {
            options.clipboard = false;
        } else if (takesValue && i + 1 == args.size()) {
            throw UsageError("capture: " + arg + " needs a value");
        } else if (arg == "-o") {
            options.file = args[++i];
        } else if (arg == "--delay") {
            const std::string& value = args[++i];
            try {
                options.delay = StrToInt(value);
            } catch (const EConvertError&) {
                options.delay = -1;
            }
            if (options.delay < 0)
                throw UsageError("capture: the delay must be 0 or more milliseconds, not '" + value + "'");
        } else if (arg == "--geometry") {
            const std::string& value = args[++i];
            options.geometry = ParseGeometryArgument(value);
            if (!options.geometry)
                throw UsageError("capture: '" + value + "' is not a geometry WxH+X+Y");
        } else {
            throw UsageError("capture: unexpected argument '" + arg + "'");
        }
    }
    if (options.target == Target::Area && !options.geometry)
        throw UsageError("capture area needs --geometry WxH+X+Y");
    if (options.target != Target::Area && options.geometry)
        throw UsageError("capture: --geometry belongs to capture area");
    if (options.file.empty())
        throw UsageError("capture needs -o FILE");
    if (!IsRasterOutput(options.file))
        throw UsageError("capture writes .png, .bmp or .pam files, not '" + options.file + "'");
    return options;
}

// Serves the image on the clipboard from a child process of its own, so that the command can end while
// other programs can still paste. The child ends when another program takes the clipboard, or at once
// when a clipboard manager runs, which Qt hands the image to as the application ends. Returns once the
// child holds the clipboard; false when it could not take it.
bool ServeClipboard(const TBitmap& image)
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    int ready[2];
    if (::pipe(ready) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return false;
    }
    if (pid > 0) {
        ::close(ready[1]);
        // Wait until the child owns the clipboard, so that a paste right after the command gets the image.
        pollfd wait{ready[0], POLLIN, 0};
        char held = 0;
        const bool ok = ::poll(&wait, 1, 20000) == 1 && ::read(ready[0], &held, 1) == 1 && held == 1;
        ::close(ready[0]);
        return ok;
    }

    // The child: no terminal, no inherited pipes (a caller waiting for their end must not wait for us).
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    if (ready[1] != 3) {
        ::dup2(ready[1], 3);
        ready[1] = 3;
    }
    ::close_range(4, ~0u, 0);
    char held = 0;
    {
        qputenv("QT_QPA_PLATFORM", "xcb");
        int argc = 1;
        char name[] = "kavrel-cli";
        char* argv[] = {name, nullptr};
        QGuiApplication app(argc, argv);
        PutImageOnClipboard(image);
        QClipboard* clipboard = QGuiApplication::clipboard();
        held = clipboard->ownsClipboard() ? 1 : 0;
        (void)!::write(ready[1], &held, 1);
        ::close(ready[1]);
        if (held && !ClipboardManagerRunning()) {
            QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
                if (!clipboard->ownsClipboard())
                    QCoreApplication::quit();
            });
            QGuiApplication::exec();
        }
    }
    ::_exit(held ? 0 : 1);
}

// Offers the image on a Wayland clipboard through wl-copy (wl-clipboard), which serves it from a process
// of its own until another program takes the clipboard. A client without a window cannot offer it itself.
enum class WaylandClipboard { Set, Failed, NoTool };
WaylandClipboard OfferWithWlCopy(const TBitmap& image)
{
    int status = 0;
    {
        int argc = 1;
        char name[] = "kavrel-cli";
        char* argv[] = {name, nullptr};
        const QCoreApplication app(argc, argv);
        const QByteArray png = CaptureMimeData(image).data(QStringLiteral("image/png"));
        std::fflush(nullptr);
        int input[2];
        if (png.isEmpty() || ::pipe2(input, O_CLOEXEC) != 0)
            return WaylandClipboard::Failed;
        const pid_t pid = ::fork();
        if (pid < 0) {
            ::close(input[0]);
            ::close(input[1]);
            return WaylandClipboard::Failed;
        }
        if (pid == 0) {
            ::dup2(input[0], 0);
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            ::execlp("wl-copy", "wl-copy", "--type", "image/png", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(input[0]);
        const char* data = png.constData();
        for (qsizetype left = png.size(); left > 0;) {
            const ssize_t n = ::write(input[1], data, static_cast<size_t>(left));
            if (n <= 0)
                break;
            data += n;
            left -= n;
        }
        ::close(input[1]);
        // wl-copy returns once its server in the background holds the clipboard.
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return WaylandClipboard::NoTool;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? WaylandClipboard::Set : WaylandClipboard::Failed;
}

int RunCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Options options = ParseOptions(args);
    const bool wayland = IsWaylandSession();
    std::unique_ptr<TBitmap> image;
    {
        // The screenshot service answers through the application's event loop.
        std::optional<QCoreApplication> app;
        int argc = 1;
        char name[] = "kavrel-cli";
        char* argv[] = {name, nullptr};
        if (wayland)
            app.emplace(argc, argv);
        const std::unique_ptr<ICapturePlatform> platform = CreateSessionCapturePlatform();
        TOxaScreenCapture capture(*platform);
        capture.SetMinimize(false);  // no window of its own to hide
        capture.SetDelay(options.delay);
        capture.SetAuto(false);  // the clipboard is served below, by a process that outlives the command
        switch (options.target) {
        case Target::Desktop:
            image = capture.CaptureDesktop();
            break;
        case Target::ActiveWindow:
            image = capture.CaptureActiveWindow();
            break;
        case Target::Area: {
            const TPoint screen = platform->GetScreenSize();
            const TRect rect = PlaceOnScreen(*options.geometry, screen);
            if (rect.Width() <= 0)
                throw Exception("capture: the area lies outside the screen (" + std::to_string(screen.X) + "x"
                    + std::to_string(screen.Y) + ")");
            image = capture.CaptureRect(rect);
            break;
        }
        }
    }  // the display connections are closed here, before any child process exists
    if (!image)
        throw Exception("capture: the window was not picked (cancelled)");
    if (image->Empty())
        throw Exception("capture: the captured image is empty");

    WriteRasterOutput(options.file, *image);
    out << options.file << ": " << image->Width() << 'x' << image->Height() << '\n';

    if (!options.clipboard)
        return 0;
    if (wayland) {
        switch (OfferWithWlCopy(*image)) {
        case WaylandClipboard::Set:
            return 0;
        case WaylandClipboard::NoTool:
            err << "kavrel-cli: capture: " << options.file
                << " was written; the clipboard was not set (install wl-clipboard for wl-copy)\n";
            return 0;
        case WaylandClipboard::Failed:
            break;
        }
    } else if (ServeClipboard(*image)) {
        return 0;
    }
    err << "kavrel-cli: capture: " << options.file << " was written, but the clipboard could not be taken\n";
    return 1;
}

}  // namespace

CliCommand CaptureCliCommand()
{
    return { "capture",
        "  capture desktop|active|area -o FILE [OPTIONS]\n"
        "                        capture the screen, the active window or a rectangle\n",
        "usage: kavrel-cli capture desktop -o FILE [--delay MS] [--no-clipboard]\n"
        "       kavrel-cli capture active -o FILE [--delay MS] [--no-clipboard]\n"
        "       kavrel-cli capture area --geometry WxH+X+Y -o FILE [--delay MS] [--no-clipboard]\n"
        "\n"
        "Captures the whole screen (desktop), the active window with its frame (active) or a\n"
        "rectangle of the screen (area), writes it to FILE and prints FILE: WIDTHxHEIGHT.\n"
        "Unless --no-clipboard is given, the image also goes to the clipboard, which a\n"
        "background process serves after the command has ended, until another program takes\n"
        "the clipboard over.\n"
        "\n"
        "options:\n"
        "  -o FILE              the picture file: .png, .bmp or .pam (required)\n"
        "  --geometry WxH+X+Y   the rectangle for area, in screen pixels, as xwininfo and slop\n"
        "                       print it: W by H pixels at X, Y; -X or -Y measure from the\n"
        "                       right or bottom edge; the part on the screen is captured\n"
        "  --delay MS           wait MS milliseconds before reading the screen (default 0)\n"
        "  --no-clipboard       leave the clipboard alone\n"
        "  -h, --help           show this text\n",
        &RunCapture };
}
