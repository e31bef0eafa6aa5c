// The kernel's byte counts of a TCP connection, read for Socket::close; apart from
// Socket_posix.cpp because the kernel's own header of them cannot be included
// beside the C library's.
#pragma once

#include "platform/Socket.h"

namespace corvel {

// Zero counts when fd is no TCP connection or the kernel does not count them.
SocketTraffic trafficOfDescriptor(int fd);

}  // namespace corvel
