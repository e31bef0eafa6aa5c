// POSIX implementation of the half-close.
#include "platform/SocketShutdown.h"

#include <fcntl.h>
#include <sys/socket.h>

#include "platform/Socket.h"

namespace corvel {

bool shutdownSending(Socket& socket) {
    // A layer (TLS) says goodbye in its own words first, so the peer knows the end
    // of the answer is the real end.
    if (socket.isOpen() && socket.layer()) socket.layer()->shutdown(socket.descriptor());
    return socket.isOpen() && ::shutdown(socket.descriptor(), SHUT_WR) == 0;
}

UniqueFd duplicateSocketHandle(const Socket& socket) {
    if (!socket.isOpen()) return UniqueFd();
    return UniqueFd(::fcntl(socket.descriptor(), F_DUPFD_CLOEXEC, 0));
}

bool shutdownBothWays(const UniqueFd& connection) {
    return connection.isOpen() && ::shutdown(connection.get(), SHUT_RDWR) == 0;
}

}  // namespace corvel
