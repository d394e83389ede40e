#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdint>
#include <memory>
#include <string>

// A connection to the IPC socket of sway or an i3-compatible compositor (the path in SWAYSOCK). Every
// request waits for its answer; a compositor that does not answer in time, or answers nonsense, raises
// Exception.
class SwayIpc {
public:
    // The compositor's socket named by SWAYSOCK (or I3SOCK); null when neither is set or nothing
    // listens there.
    static std::unique_ptr<SwayIpc> Connect();
    explicit SwayIpc(int socket) : socket_(socket) {}
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    QJsonArray Outputs();
    QJsonObject Tree();
    // Runs compositor commands ("seat - cursor set 10 10"); raises Exception when one fails.
    void Command(const std::string& commands);

private:
    QByteArray Request(uint32_t type, const QByteArray& payload);

    int socket_;
};
