// POSIX implementation of the half-close.
#include "platform/SocketShutdown.h"

#include <sys/socket.h>

#include "platform/Socket.h"

namespace corvel {

bool shutdownSending(Socket& socket) {
    // A layer (TLS) says goodbye in its own words first, so the peer knows the end
    // of the answer is the real end.
    if (socket.isOpen() && socket.layer()) socket.layer()->shutdown(socket.descriptor());
    return socket.isOpen() && ::shutdown(socket.descriptor(), SHUT_WR) == 0;
}

}  // namespace corvel
