#include "tools/kavrel-cli/CaptureCommand.h"

#include "capture/ClipboardServer.h"
#include "capture/OxaCapture.h"
#include "capture/SessionCapturePlatform.h"
#include "capture/WaylandCapturePlatform.h"
#include "framework/AtomicFile.h"
#include "framework/Exception.h"
#include "framework/FormatRegistry.h"
#include "framework/Picture.h"
#include "tools/kavrel-cli/PamFile.h"

#include <QCoreApplication>
#include <iostream>
#include <optional>

namespace {

struct Options {
    bool activeWindow = false;
    std::string file;
    int delay = 0;
    bool clipboard = true;
};

Options ParseOptions(const std::vector<std::string>& args)
{
    Options options;
    if (args.empty() || (args[0] != "desktop" && args[0] != "active"))
        throw Exception("capture needs 'desktop' or 'active' (see kavrel-cli --help)");
    options.activeWindow = args[0] == "active";
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--no-clipboard") {
            options.clipboard = false;
        } else if ((arg == "-o" || arg == "--delay") && i + 1 < args.size()) {
            if (arg == "-o") {
                options.file = args[++i];
            } else {
                options.delay = StrToInt(args[++i]);
                if (options.delay < 0)
                    throw Exception("capture: the delay must be 0 or more milliseconds");
            }
        } else {
            throw Exception("capture: unexpected argument '" + arg + "' (see kavrel-cli --help)");
        }
    }
    if (options.file.empty())
        throw Exception("capture needs -o FILE");
    const std::string extension = LowerCaseAscii(FileExtension(options.file));
    if (extension != "bmp" && extension != "pam")
        throw Exception("capture writes .bmp or .pam files, not '" + options.file + "'");
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
        image = options.activeWindow ? capture.CaptureActiveWindow() : capture.CaptureDesktop();
    } // the display connections are closed here
    if (!image)
        throw Exception("capture: the window was not picked (cancelled)");
    if (image->Empty())
        throw Exception("capture: the captured image is empty");

    if (LowerCaseAscii(FileExtension(options.file)) == "pam")
        WriteFileAtomically(options.file, [&](TStream& s) { WritePam(s, *image); });
    else
        WriteFileAtomically(options.file, [&](TStream& s) { image->SaveStream(s); });
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
    return {"capture",
            "  capture desktop|active -o FILE [--delay MS] [--no-clipboard]\n"
            "                        capture the whole screen or the active window (frame\n"
            "                        included) after MS milliseconds (default 0) into FILE\n"
            "                        (.bmp or .pam); the image also goes to the clipboard\n",
            &RunCapture};
}
