// The bodies of the per-connection threads: one FTP session or one web request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Socket.h"

namespace corvel {

struct FtpContext;
struct WebContext;
struct ProcessContext;

// The load balancers whose connections begin with a PROXY header (<proxyfrom>).
using ProxyPatterns = std::shared_ptr<const std::vector<std::string>>;

// Each starts a detached thread that owns the socket and keeps process (and with it
// the tables the contexts refer to) alive until it ends; when the system refuses a
// thread the connection is simply closed. On that thread, a connection from an
// address of proxies first gives its PROXY header (closed when it does not).
void startFtpConnection(Socket socket, std::shared_ptr<const FtpContext> context,
                        std::shared_ptr<ProcessContext> process, ProxyPatterns proxies);
// The connection is counted in process->activeWebConnections from this call until
// its thread ends (or at once again, when no thread could be started).
void startWebConnection(Socket socket, std::shared_ptr<const WebContext> context,
                        std::shared_ptr<ProcessContext> process, ProxyPatterns proxies);

}  // namespace corvel
