// The bodies of the per-connection threads: one FTP session or one web request.
#pragma once

#include <memory>

#include "platform/Socket.h"

namespace corvel {

struct FtpContext;
class UserTable;

// Each starts a detached thread that owns the socket; when the system refuses a
// thread the connection is simply closed.
void startFtpConnection(Socket socket, std::shared_ptr<const FtpContext> context);
void startWebConnection(Socket socket, UserTable& users);

}  // namespace corvel
