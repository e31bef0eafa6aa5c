// One web connection: reader, handler and the closing of the socket.
#include "web/WebConnection.h"

#include <chrono>

#include "accounts/AccessPolicy.h"
#include "accounts/BanList.h"
#include "platform/HostName.h"
#include "platform/SocketShutdown.h"
#include "accounts/LiveSessions.h"
#include "tls/TlsServer.h"
#include "web/HttpRequestReader.h"
#include "web/WebApp.h"
#include "web/WebRequestHandler.h"

namespace corvel {

namespace {

// After the answer, input the request did not use (a second request, an unread
// body) is read and dropped for at most this long or this many bytes before the
// socket is closed. Closing with unread input would make the system reset the
// connection, and a reset can destroy the answer before the client has read it.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr std::size_t kLingerBytes = 256u << 10;
// One wait step while lingering.
constexpr int kLingerWaitMs = 100;

void closeGracefully(Socket& socket) {
    if (!socket.isOpen() || !shutdownSending(socket)) return;
    auto deadline = std::chrono::steady_clock::now() + kLingerTime;
    std::size_t dropped = 0;
    char sink[4096];
    while (dropped < kLingerBytes && std::chrono::steady_clock::now() < deadline) {
        const IoResult r = socket.receive(sink, sizeof sink);
        if (r.ok()) {
            dropped += r.bytes;
            continue;
        }
        if (r.state != IoState::WouldBlock) return;  // the peer closed too, or the connection failed
        if (socket.waitReadable(kLingerWaitMs) == WaitResult::Failed) return;
    }
}

}  // namespace

void serveWebConnection(Socket socket, const WebContext& context, std::optional<std::string> clientAddress) {
    const std::string peer = clientAddress ? *clientAddress : socket.peerAddress();
    // SECURITY: a refused peer learns nothing, as on the FTP port: no answer, not
    // even a TLS handshake; the socket closes here with whatever it sent unread. A
    // banned address is turned away the same way.
    if (context.webPolicy && !context.policy.isAllowed(peer)) return;
    if (context.bans && context.bans->isBanned(peer)) return;
    // HTTPS: the handshake first; one that fails or stalls ends the connection.
    if (context.tls && context.tls->accept(socket, newTlsSessionToken(), TlsRole::Web) != TlsAccept::Done) return;
    WebRequestHandler handler(context.users, &officialHostName, &context.logins,
                              WebFeatures{.rights = context.webPolicy, .ranges = context.webExtensions, .health = context.webExtensions},
                              context.webCharset);
    std::optional<WebApp> app;
    if (context.appSessions)
        app.emplace(context.users, &context.logins, *context.appSessions, context.tls != nullptr,
                    WebAppShares{.store = context.shares,
                                 .visits = context.shareVisits,
                                 .policy = &context.policy,
                                 .log = context.log});
    handler.recordTransfersIn(context.transferLog);
    handler.countSendsIn(context.activeSends);
    if (app) app->countSendsIn(context.activeSends);
    const std::unique_ptr<LiveSessions::Entry> listed =
        context.liveSessions ? context.liveSessions->join(SessionProtocol::Web, peer, socket) : nullptr;
    if (listed) handler.onLogin([&listed](const std::string& user) { listed->setUser(user); });
    HttpRequestReader reader(
        socket,
        [&handler, &app, &peer](Socket& s, const HttpRequest& request) {
            HttpRequest withPeer = request;
            withPeer.peerAddress = peer;
            if (app && WebApp::handles(withPeer.path))
                app->handle(s, withPeer);
            else
                handler.handle(s, withPeer);
        },
        HttpReaderTiming{}, context.webExtensions ? HttpExtensions::On : HttpExtensions::Off,
        context.appSessions ? HttpAppLines::On : HttpAppLines::Off);
    reader.serve();
    closeGracefully(socket);
}

}  // namespace corvel
