// The bodies of the per-connection threads: one FTP session or one web request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "server/AddressSlots.h"

namespace corvel {

struct FtpContext;
struct WebContext;
struct ProcessContext;
struct SftpContext;
class SftpEndpoint;

// The load balancers whose connections begin with a PROXY header (<proxyfrom>).
using ProxyPatterns = std::shared_ptr<const std::vector<std::string>>;

// Each starts a detached thread that owns the socket and keeps process (and with it
// the tables the contexts refer to) alive until it ends; when the system refuses a
// thread the connection is simply closed. On that thread, a connection from an
// address of proxies first gives its PROXY header (closed when it does not).
void startFtpConnection(Socket socket, std::shared_ptr<const FtpContext> context,
                        std::shared_ptr<ProcessContext> process, ProxyPatterns proxies);
// One SSH connection of the SFTP port; it counts among the FTP sessions itself. From
// a balancer of proxies its PROXY header is read first, as on the FTP port.
void startSftpConnection(Socket socket, std::shared_ptr<const SftpEndpoint> endpoint,
                         std::shared_ptr<const SftpContext> context, std::shared_ptr<ProcessContext> process,
                         ProxyPatterns proxies);
// The connection is counted in process->activeWebConnections from this call until
// its thread ends (or at once again, when no thread could be started). slot is its
// place among its address's connections, taken at accept; a connection from a
// balancer comes without one, and its client takes one (of at most perAddressLimit,
// 0: any number) once the PROXY header told who it is, or is closed.
void startWebConnection(Socket socket, std::shared_ptr<const WebContext> context,
                        std::shared_ptr<ProcessContext> process, ProxyPatterns proxies,
                        std::shared_ptr<AddressSlots::Slot> slot, std::uint32_t perAddressLimit);

}  // namespace corvel
