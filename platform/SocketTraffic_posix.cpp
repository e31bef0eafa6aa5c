// Linux implementation of the byte counts: TCP_INFO, whose byte fields only the
// kernel's header declares.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

#include "platform/SocketTraffic.h"

namespace corvel {

SocketTraffic trafficOfDescriptor(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return {};
    // An older kernel fills a shorter structure, without the byte counts.
    if (length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) return {};
    return {info.tcpi_bytes_acked, info.tcpi_bytes_received};
}

}  // namespace corvel
