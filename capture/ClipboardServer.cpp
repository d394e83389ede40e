#include "capture/ClipboardServer.h"

#include "capture/ClipboardImage.h"
#include "capture/SessionCapturePlatform.h"
#include "capture/WaylandCapturePlatform.h"
#include "framework/BitmapFile.h"
#include "framework/Stream.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr char kServerName[] = "kavrel-clipboard";
// A clipboard manager may take a few seconds to save the image.
constexpr int kAnswerTimeoutMs = 20000;
// What the server answers, one byte.
constexpr char kHeld = 'H';
constexpr char kNoWlCopy = 'W';
constexpr char kFailed = 'F';

bool IsExecutable(const std::string& path)
{
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

std::string ExecutableDirectory()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string executable(path, static_cast<size_t>(n));
    return executable.substr(0, executable.rfind('/'));
}

bool SendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        // No SIGPIPE: a server that died must not take the program with it.
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void WaitFor(pid_t pid, int* status = nullptr)
{
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) { }
}

// ---- the server ----

// The image, or an empty one when the input is not a whole bitmap file.
TBitmap ReadImage(int fd)
{
    std::vector<uint8_t> bytes;
    // Bounded like every bitmap, with room for the file's headers.
    const uint64_t limit = TBitmap::MaxImageBytes() + (1u << 16);
    uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (bytes.size() + static_cast<size_t>(n) > limit)
            return {};
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    TBitmap image;
    try {
        TMemoryStream stream(std::move(bytes));
        ReadWindowsBitmap(stream, image);
    } catch (...) {
        return {};
    }
    return image;
}

// Answers on the socket (standard input) and lets it go, so that nothing of the program's stays open.
void Answer(char answer)
{
    (void)!::send(0, &answer, 1, MSG_NOSIGNAL);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0 && null != 0) {
        ::dup2(null, 0);
        ::close(null);
    }
}

// On X11 the server owns the clipboard until another program takes it. When a clipboard manager runs,
// Qt's clipboard hands the image to it as the application ends, and the server is done at once.
int ServeOnX11(const TBitmap& image)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Nothing for the session manager to wait for at logout.
    qunsetenv("SESSION_MANAGER");
    int argc = 1;
    char name[] = "kavrel-clipboard";
    char* argv[] = { name, nullptr };
    bool held = false;
    {
        QGuiApplication app(argc, argv);
        PutImageOnClipboard(image);
        QClipboard* clipboard = QGuiApplication::clipboard();
        held = clipboard->ownsClipboard();
        if (held && !ClipboardManagerRunning()) {
            Answer(kHeld);
            QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
                if (!clipboard->ownsClipboard())
                    QCoreApplication::quit();
            });
            return QGuiApplication::exec();
        }
    }
    Answer(held ? kHeld : kFailed);
    return held ? 0 : 1;
}

// A Wayland client can offer the clipboard only while it has the keyboard focus; wl-copy (wl-clipboard)
// knows how to without, and serves the image from a process of its own until another program takes it.
int OfferThroughWlCopy(const TBitmap& image)
{
    QByteArray png;
    {
        int argc = 1;
        char name[] = "kavrel-clipboard";
        char* argv[] = { name, nullptr };
        const QCoreApplication app(argc, argv);
        png = CaptureMimeData(image).data(QStringLiteral("image/png"));
    }
    int input[2];
    if (png.isEmpty() || ::pipe2(input, O_CLOEXEC) != 0) {
        Answer(kFailed);
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    char program[] = "wl-copy";
    char typeOption[] = "--type";
    char type[] = "image/png";
    char* argv[] = { program, typeOption, type, nullptr };
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    if (spawned != 0) {
        ::close(input[1]);
        Answer(spawned == ENOENT ? kNoWlCopy : kFailed);
        return 1;
    }
    const bool sent = [&] {
        const char* data = png.constData();
        for (qsizetype left = png.size(); left > 0;) {
            const ssize_t n = ::write(input[1], data, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            left -= n;
        }
        return true;
    }();
    ::close(input[1]);
    // wl-copy returns once its own server holds the clipboard.
    int status = 0;
    WaitFor(pid, &status);
    const bool held = sent && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    Answer(held ? kHeld : kFailed);
    return held ? 0 : 1;
}

} // namespace

std::string ClipboardServerPath()
{
    const std::string beside = ExecutableDirectory() + "/" + kServerName;
    if (IsExecutable(beside))
        return beside;
#ifdef KAVREL_CLIPBOARD_SERVER_BUILD_PATH
    if (IsExecutable(KAVREL_CLIPBOARD_SERVER_BUILD_PATH))
        return KAVREL_CLIPBOARD_SERVER_BUILD_PATH;
#endif
    return {};
}

ClipboardHandOver ServeClipboardAfterExit(const TBitmap& image, std::string* failure)
{
    const auto fail = [&](const std::string& why) {
        if (failure)
            *failure = why;
        return ClipboardHandOver::Failed;
    };
    const std::string server = ClipboardServerPath();
    if (server.empty())
        return fail(std::string(kServerName) + " was not found beside the program");
    const QByteArray bytes = OpaqueBitmapFile(image);
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return fail("no socket for the clipboard server");
    // The server's standard input is the socket; its output goes nowhere, so that a caller waiting for
    // the end of the program's output does not wait for the server.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char name[] = "kavrel-clipboard";
    char* argv[] = { name, nullptr };
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, server.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sockets[1]);
    if (spawned != 0) {
        ::close(sockets[0]);
        return fail("cannot start " + server);
    }
    const bool sent = SendAll(sockets[0], bytes.constData(), static_cast<size_t>(bytes.size()));
    ::shutdown(sockets[0], SHUT_WR);
    char answer = kFailed;
    pollfd wait { sockets[0], POLLIN, 0 };
    int ready = -1;
    while (sent && (ready = ::poll(&wait, 1, kAnswerTimeoutMs)) < 0 && errno == EINTR) { }
    const bool answered = ready == 1 && ::recv(sockets[0], &answer, 1, 0) == 1;
    ::close(sockets[0]);
    // The server's first process ends as soon as the server has detached itself.
    if (!answered)
        ::kill(pid, SIGKILL);
    WaitFor(pid);
    if (!answered)
        return fail(std::string(kServerName) + " did not answer");
    switch (answer) {
    case kHeld:
        return ClipboardHandOver::Held;
    case kNoWlCopy:
        return ClipboardHandOver::NoWlCopy;
    default:
        return fail(std::string(kServerName) + " could not take the clipboard");
    }
}

void KeepCaptureOnClipboardAfterExit()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    // A capture still waiting for the focus that a Wayland client needs to set the clipboard.
    if (auto* wayland = dynamic_cast<WaylandCapturePlatform*>(&DefaultCapturePlatform()))
        if (const std::unique_ptr<TBitmap> waiting = wayland->TakeWaitingClipboardImage()) {
            ServeClipboardAfterExit(*waiting);
            return;
        }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard())
        return;
    // Only the image the program put there, nothing else.
    const auto* capture = dynamic_cast<const CaptureMimeData*>(clipboard->mimeData());
    if (!capture)
        return;
    if (QGuiApplication::platformName() == QLatin1String("xcb") && !IsWaylandSession() && ClipboardManagerRunning())
        return;
    ServeClipboardAfterExit(capture->Bitmap());
}

int RunClipboardServer()
{
    // Nothing of the program's but the socket on standard input.
    ::close_range(3, ~0u, 0);
    ::signal(SIGPIPE, SIG_IGN);
    const TBitmap image = ReadImage(0);
    if (image.Empty()) {
        Answer(kFailed);
        return 1;
    }
    // Detached: the first process ends at once, so that the program does not wait for the server and a
    // program that lives on does not keep it as a child; the server needs no terminal, no working folder
    // and no error output (of a program that has ended by then). Still one thread here, so fork is safe.
    const pid_t pid = ::fork();
    if (pid < 0) {
        Answer(kFailed);
        return 1;
    }
    if (pid > 0)
        return 0;
    ::setsid();
    (void)!::chdir("/");
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2)
            ::close(null);
    }
    return IsWaylandSession() ? OfferThroughWlCopy(image) : ServeOnX11(image);
}
