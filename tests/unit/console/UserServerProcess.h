// A real corveld in a scratch program directory for the dialog tests that check the
// server's reaction, and a minimal FTP client. Every wait is bounded.
#pragma once

#include <QProcess>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "common/NamedObjectNames.h"
#include "platform/NamedObjects.h"
#include "tests/unit/console/UserTestSupport.h"

namespace corvel::testing {

// Polls predicate every 20 ms for at most timeoutMs.
inline bool waitUntil(const std::function<bool()>& predicate, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return predicate();
}

// A loopback TCP connection with a 3-second receive bound.
class FtpClient {
public:
    explicit FtpClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval bound{3, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~FtpClient() { ::close(fd_); }
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    bool connected() const { return connected_; }

    // Reads one whole reply (up to its final "NNN " line); empty when the server closed
    // the connection or sent nothing in time.
    std::string reply() {
        std::string text;
        char buffer[512];
        while (!complete(text)) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }
    std::string command(const std::string& line) {
        const std::string wire = line + "\r\n";
        if (::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(wire.size())) return {};
        return reply();
    }

private:
    static bool complete(const std::string& text) {
        if (text.size() < 6 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
        const std::size_t start = text.rfind("\r\n", text.size() - 3);
        const std::size_t line = start == std::string::npos ? 0 : start + 2;
        return text.size() - line >= 4 && text[line + 3] == ' ';
    }

    int fd_;
    bool connected_ = false;
};

// Logs in and tells whether the server answered 230.
inline bool ftpLogin(int port, const std::string& user, const std::string& password) {
    FtpClient client(port);
    if (!client.connected() || client.reply().rfind("220", 0) != 0) return false;
    client.command("USER " + user);
    return client.command("PASS " + password).rfind("230", 0) == 0;
}

inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline std::string settingsDocument(int ftpPort, int webPort) {
    return "<config><listenip></listenip><ftpport>" + std::to_string(ftpPort) + "</ftpport><httpport>" +
           std::to_string(webPort) + "</httpport><maxconn>32</maxconn><pasvmode>yes</pasvmode>"
           "<welcomemsg></welcomemsg></config>";
}

// corveld /nontservice run from a copy in dir (its program directory), with dir's
// runtime directory for its named objects. Stopped when destroyed.
class ServerProcess {
public:
    explicit ServerProcess(const ScratchProgramDirectory& dir) : dir_(dir) {
        std::filesystem::copy_file(std::string(CORVEL_BINARY_DIR) + "/corveld", dir.file("corveld"),
                                   std::filesystem::copy_options::overwrite_existing);
        ftpPort = freeLoopbackPort();
        webPort = freeLoopbackPort();
        dir.write("ftpconfig.xml", settingsDocument(ftpPort, webPort));
    }
    ~ServerProcess() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(10000)) process_.kill();
        process_.waitForFinished(5000);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts the server and waits until it greets on ftpPort.
    bool start() {
        process_.setWorkingDirectory(QString::fromStdString(dir_.root()));
        process_.start(QString::fromStdString(dir_.file("corveld")), {QStringLiteral("/nontservice")});
        if (!process_.waitForStarted(5000)) return false;
        return waitUntil([this] { return FtpClient(ftpPort).reply().rfind("220", 0) == 0; }, 15000);
    }
    // Stops it as the console does: the stop event, then the process ends by itself.
    bool stopByEvent() {
        std::optional<NamedEvent> stop = NamedEvent::createOrOpen(names::kStopEvent);
        return stop && stop->signal() && process_.waitForFinished(10000);
    }

    int ftpPort = 0;
    int webPort = 0;

private:
    const ScratchProgramDirectory& dir_;
    QProcess process_;
};

}  // namespace corvel::testing
