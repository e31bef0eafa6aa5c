// The one data connection of an FTP session: its set-up (a passive listener, or an
// active connect, only ever with the control connection's peer), its protection
// under TLS, and the frame every transfer runs in (150, the handshake, the bytes,
// then 226 or 426).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "config/TlsMode.h"
#include "ftp/ReplySink.h"
#include "platform/Socket.h"
#include "tls/TlsServer.h"

namespace corvel {

struct FtpContext;

// The protection a session's data connections get: PROT P, and the token of its
// control connection's TLS session, which a resumed data session must carry.
struct DataProtection {
    bool protectedData = false;  // PROT P
    TlsSessionToken token{};     // carried by this session's tickets
};

// Owned by its session's thread.
class DataChannel {
public:
    DataChannel(const FtpContext& context, const DataProtection& protection, ReplySink& replies)
        : context_(context), protection_(protection), replies_(replies) {}
    DataChannel(const DataChannel&) = delete;
    DataChannel& operator=(const DataChannel&) = delete;

    // The addresses of the control connection, which every data connection uses.
    void setAddresses(std::string peer, std::string local) {
        peer_ = std::move(peer);
        local_ = std::move(local);
    }

    bool isOpen() const { return socket_.isOpen(); }
    void close() { socket_.close(); }
    Socket& socket() { return socket_; }

    // Passive set-up (PASV, EPSV): a listener on the control connection's address
    // (in <pasvports> when set) is announced with the reply announcement makes of its
    // port, then waited on (91 s in all) for the peer. false: replied 425.
    bool listenPassive(const std::function<std::string(std::uint16_t port)>& announcement);
    // Active set-up (PORT, EPRT): connects to address:port, which must be the peer
    // itself. false: replied 425.
    bool connectActive(const std::string& address, std::uint16_t port);

    // Before the 150: where TLS is required, a clear data connection is refused
    // (replied, closed). true when the transfer may go on.
    bool mayTransfer();
    // The frame of a transfer: the opening reply, the TLS handshake of a protected
    // connection (a failure is replied and closes it), then body on the connection,
    // which is closed afterwards; finished (when given) learns how it went before the
    // final reply, 226 when body returned true, else 426.
    void transfer(const std::string& opening, const std::function<bool(Socket&)>& body,
                  const std::function<void(bool completed)>& finished = {});

private:
    std::optional<TcpListener> openPassiveListener();
    bool awaitPassiveConnection(TcpListener& listener);
    bool protect();
    void reply(const std::string& text) { replies_.send(text); }

    const FtpContext& context_;
    const DataProtection& protection_;
    ReplySink& replies_;
    Socket socket_;
    std::string peer_;
    std::string local_;
};

}  // namespace corvel
