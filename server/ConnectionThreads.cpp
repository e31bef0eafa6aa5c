#include "server/ConnectionThreads.h"

#include "ftp/FtpContext.h"
#include "ftp/FtpSession.h"
#include "server/ProcessContext.h"
#include "server/ProxyProtocol.h"
#include "sftp/SftpEndpoint.h"
#include "web/WebConnection.h"

namespace corvel {
namespace {

// One place in the web connection count, given back when the last copy goes.
class WebSlot {
public:
    explicit WebSlot(std::atomic<int>& count) : count_(count) { ++count_; }
    ~WebSlot() { --count_; }
    WebSlot(const WebSlot&) = delete;
    WebSlot& operator=(const WebSlot&) = delete;

private:
    std::atomic<int>& count_;
};

// The client's address when the connection came through a trusted balancer; nullopt
// (with *rejected set) when such a connection did not begin with a valid header.
std::optional<std::string> clientBehindProxy(Socket& socket, const ProxyPatterns& proxies, bool* rejected) {
    *rejected = false;
    if (!proxies || proxies->empty()) return std::nullopt;
    const std::string peer = socket.peerAddress();
    // SECURITY: only a balancer of <proxyfrom> may say whom it speaks for; a header
    // from anyone else is taken as the protocol's own bytes (and refused by it).
    if (!comesThroughProxy(*proxies, peer)) return std::nullopt;
    if (!socket.setNonBlocking()) {
        *rejected = true;
        return std::nullopt;
    }
    std::optional<std::string> client = readProxyHeader(socket);
    *rejected = !client;
    return client;
}

}  // namespace

void startFtpConnection(Socket socket, std::shared_ptr<const FtpContext> context,
                        std::shared_ptr<ProcessContext> process, ProxyPatterns proxies) {
    // The socket travels in a shared cell so a refused thread start still closes it.
    auto cell = std::make_shared<Socket>(std::move(socket));
    process->threads.start([cell, context, process, proxies] {
        bool rejected = false;
        std::optional<std::string> client = clientBehindProxy(*cell, proxies, &rejected);
        if (rejected) return;  // closed without a word, like a refused address
        FtpSession session(std::move(*cell), *context, std::move(client));  // counts itself
        while (session.readCommand()) {
        }
    });
}

void startSftpConnection(Socket socket, std::shared_ptr<const SftpEndpoint> endpoint,
                         std::shared_ptr<const SftpContext> context, std::shared_ptr<ProcessContext> process,
                         ProxyPatterns proxies) {
    auto cell = std::make_shared<Socket>(std::move(socket));
    process->threads.start([cell, endpoint, context, process, proxies] {
        bool rejected = false;
        std::optional<std::string> client = clientBehindProxy(*cell, proxies, &rejected);
        if (rejected) return;  // closed without a word, like a refused address
        endpoint->serve(std::move(*cell), *context, std::move(client));
    });
}

void startWebConnection(Socket socket, std::shared_ptr<const WebContext> context,
                        std::shared_ptr<ProcessContext> process, ProxyPatterns proxies,
                        std::shared_ptr<AddressSlots::Slot> slot, std::uint32_t perAddressLimit) {
    auto cell = std::make_shared<Socket>(std::move(socket));
    auto counted = std::make_shared<WebSlot>(process->activeWebConnections);
    process->threads.start([cell, context, process, counted, proxies, slot, perAddressLimit]() mutable {
        bool rejected = false;
        std::optional<std::string> client = clientBehindProxy(*cell, proxies, &rejected);
        if (rejected) return;
        // SECURITY: behind a balancer the limit per address applies to the client it
        // names, never to the balancer itself.
        if (!slot && client && !(slot = process->webSlots->take(*client, perAddressLimit))) return;
        serveWebConnection(std::move(*cell), *context, std::move(client));
    });
}

}  // namespace corvel
