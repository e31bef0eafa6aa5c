#include "server/ConnectionThreads.h"

#include "ftp/FtpContext.h"
#include "ftp/FtpSession.h"
#include "platform/Thread.h"
#include "web/WebConnection.h"

namespace corvel {
namespace {

// Keeps the live count right whichever way the session ends.
class CountedSession {
public:
    CountedSession(Socket socket, const FtpContext& context)
        : count_(context.activeConnections), session_(std::move(socket), context) {
        ++count_;  // raised only after construction, so the limit check excludes this session
    }
    ~CountedSession() { --count_; }
    FtpSession& session() { return session_; }

private:
    std::atomic<int>& count_;
    FtpSession session_;
};

}  // namespace

void startFtpConnection(Socket socket, std::shared_ptr<const FtpContext> context) {
    // The socket travels in a shared cell so a refused thread start still closes it.
    auto cell = std::make_shared<Socket>(std::move(socket));
    startDetachedThread([cell, context] {
        CountedSession counted(std::move(*cell), *context);
        while (counted.session().readCommand()) {
        }
    });
}

void startWebConnection(Socket socket, UserTable& users) {
    auto cell = std::make_shared<Socket>(std::move(socket));
    startDetachedThread([cell, &users] { serveWebConnection(std::move(*cell), users); });
}

}  // namespace corvel
