#include "tools/kavrel-cli/CaptureCommand.h"

#include "capture/ClipboardServer.h"
#include "capture/OxaCapture.h"
#include "capture/SessionCapturePlatform.h"
#include "capture/WaylandCapturePlatform.h"
#include "framework/Exception.h"
#include "tools/kavrel-cli/GeometryArgument.h"
#include "tools/kavrel-cli/RasterOutput.h"

#include <QCoreApplication>
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
    }  // the display connections are closed here
    if (!image)
        throw Exception("capture: the window was not picked (cancelled)");
    if (image->Empty())
        throw Exception("capture: the captured image is empty");

    WriteRasterOutput(options.file, *image);
    out << options.file << ": " << image->Width() << 'x' << image->Height() << '\n';

    if (!options.clipboard)
        return 0;
    // Served by a process of its own, so that other programs can still paste after the command has ended.
    std::string failure;
    switch (ServeClipboardAfterExit(*image, &failure)) {
    case ClipboardHandOver::Held:
        return 0;
    case ClipboardHandOver::NoWlCopy:
        err << "kavrel-cli: capture: " << options.file
            << " was written; the clipboard was not set (install wl-clipboard for wl-copy)\n";
        return 0;
    case ClipboardHandOver::Failed:
        break;
    }
    err << "kavrel-cli: capture: " << options.file << " was written, but the clipboard could not be taken (" << failure
        << ")\n";
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
