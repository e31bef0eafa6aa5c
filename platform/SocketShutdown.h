// Half-closing a socket, so a peer sees the end of an answer before the socket goes;
// and closing a connection from another thread than its owner's.
#pragma once

#include "platform/UniqueFd.h"

namespace corvel {

class Socket;

// shutdown(SHUT_WR): the peer reads end-of-stream after what was sent; receiving
// still works. false when the socket is closed or the call failed.
bool shutdownSending(Socket& socket);

// A second descriptor of the same connection (closed on exec); not open when that failed.
UniqueFd duplicateSocketHandle(const Socket& socket);
// shutdown(SHUT_RDWR) on a connection through any of its descriptors: its owner's
// next read sees the end of the stream, its writes fail.
bool shutdownBothWays(const UniqueFd& connection);

}  // namespace corvel
