// Half-closing a socket, so a peer sees the end of an answer before the socket goes.
#pragma once

namespace corvel {

class Socket;

// shutdown(SHUT_WR): the peer reads end-of-stream after what was sent; receiving
// still works. false when the socket is closed or the call failed.
bool shutdownSending(Socket& socket);

}  // namespace corvel
