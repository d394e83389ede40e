#include "capture/SwayIpc.h"

#include "framework/Exception.h"

#include <QJsonDocument>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kRunCommand = 0;
constexpr uint32_t kGetOutputs = 3;
constexpr uint32_t kGetTree = 4;
constexpr int kTimeoutMs = 3000;
// A tree of thousands of windows stays far below this; more is not an answer we want to hold.
constexpr uint32_t kMaxAnswer = 64u << 20;

void Transfer(int socket, char* data, size_t size, bool send)
{
    while (size > 0) {
        pollfd wait{socket, static_cast<short>(send ? POLLOUT : POLLIN), 0};
        if (::poll(&wait, 1, kTimeoutMs) != 1)
            throw Exception("The compositor does not answer on its IPC socket");
        const ssize_t n = send ? ::send(socket, data, size, MSG_NOSIGNAL) : ::recv(socket, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Exception("The connection to the compositor's IPC socket was lost");
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

std::unique_ptr<SwayIpc> SwayIpc::Connect()
{
    const char* path = std::getenv("SWAYSOCK");
    if (!path || !*path)
        path = std::getenv("I3SOCK");
    if (!path || !*path)
        return nullptr;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path)
        return nullptr;
    std::strcpy(address.sun_path, path);
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return nullptr;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return nullptr;
    }
    return std::make_unique<SwayIpc>(s);
}

SwayIpc::~SwayIpc()
{
    ::close(socket_);
}

QByteArray SwayIpc::Request(uint32_t type, const QByteArray& payload)
{
    QByteArray message(kMagic, sizeof kMagic);
    const uint32_t header[2] = {static_cast<uint32_t>(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message.append(payload);
    Transfer(socket_, message.data(), static_cast<size_t>(message.size()), true);

    char answerHeader[sizeof kMagic + 8];
    Transfer(socket_, answerHeader, sizeof answerHeader, false);
    uint32_t length = 0;
    uint32_t answerType = 0;
    std::memcpy(&length, answerHeader + sizeof kMagic, 4);
    std::memcpy(&answerType, answerHeader + sizeof kMagic + 4, 4);
    if (std::memcmp(answerHeader, kMagic, sizeof kMagic) != 0 || answerType != type || length > kMaxAnswer)
        throw Exception("The compositor's IPC socket gave an answer that is not understood");
    QByteArray answer(static_cast<qsizetype>(length), '\0');
    Transfer(socket_, answer.data(), length, false);
    return answer;
}

QJsonArray SwayIpc::Outputs()
{
    return QJsonDocument::fromJson(Request(kGetOutputs, {})).array();
}

QJsonObject SwayIpc::Tree()
{
    return QJsonDocument::fromJson(Request(kGetTree, {})).object();
}

void SwayIpc::Command(const std::string& commands)
{
    const QJsonArray results = QJsonDocument::fromJson(Request(kRunCommand, QByteArray::fromStdString(commands))).array();
    for (const QJsonValue& result : results) {
        const QJsonObject r = result.toObject();
        if (!r.value(QLatin1String("success")).toBool())
            throw Exception("The compositor refused '" + commands + "': " +
                            r.value(QLatin1String("error")).toString().toStdString());
    }
}
