// POSIX implementation of the half-close.
#include "platform/SocketShutdown.h"

#include <sys/socket.h>

#include "platform/Socket.h"

namespace corvel {

bool shutdownSending(Socket& socket) {
    return socket.isOpen() && ::shutdown(socket.descriptor(), SHUT_WR) == 0;
}

}  // namespace corvel
