#include "tools/kavrel-cli/CaptureCommand.h"

#include "capture/ClipboardImage.h"
#include "capture/OxaCapture.h"
#include "capture/X11CapturePlatform.h"
#include "framework/AtomicFile.h"
#include "framework/Exception.h"
#include "framework/FormatRegistry.h"
#include "framework/Picture.h"
#include "tools/kavrel-cli/PamFile.h"

#include <QClipboard>
#include <QGuiApplication>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

// The capture platform without a window of its own; the image meant for the clipboard is kept for the
// clipboard server that outlives the command.
class CommandLinePlatform : public X11CapturePlatform {
public:
    void CopyToClipboard(const TBitmap& bitmap) override { clipboardImage = std::make_unique<TBitmap>(bitmap); }
    std::unique_ptr<TBitmap> clipboardImage;
};

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

int RunCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Options options = ParseOptions(args);
    std::unique_ptr<TBitmap> image;
    std::unique_ptr<TBitmap> clipboardImage;
    {
        CommandLinePlatform platform;
        TOxaScreenCapture capture(platform);
        capture.SetMinimize(false);  // no window of its own to hide
        capture.SetDelay(options.delay);
        capture.SetAuto(options.clipboard);
        image = options.activeWindow ? capture.CaptureActiveWindow() : capture.CaptureDesktop();
        clipboardImage = std::move(platform.clipboardImage);
    }  // the X connection is closed here, before any child process exists
    if (image->Empty())
        throw Exception("capture: the captured image is empty");

    if (LowerCaseAscii(FileExtension(options.file)) == "pam")
        WriteFileAtomically(options.file, [&](TStream& s) { WritePam(s, *image); });
    else
        WriteFileAtomically(options.file, [&](TStream& s) { image->SaveStream(s); });
    out << options.file << ": " << image->Width() << 'x' << image->Height() << '\n';

    if (clipboardImage && !ServeClipboard(*clipboardImage)) {
        err << "kavrel-cli: capture: " << options.file << " was written, but the clipboard could not be taken\n";
        return 1;
    }
    return 0;
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
