// The body of a web connection's thread: reads one request, answers it, and ends
// the connection in an orderly way.
#pragma once

#include "platform/Socket.h"

namespace corvel {

class UserTable;

// Serves the one request of a web connection and returns when it is done; the
// socket (non-blocking) is closed when it goes out of scope here. Runs on the
// connection's own thread; users is shared and thread-safe.
void serveWebConnection(Socket socket, UserTable& users);

}  // namespace corvel
