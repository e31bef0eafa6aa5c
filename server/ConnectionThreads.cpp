#include "server/ConnectionThreads.h"

#include "ftp/FtpContext.h"
#include "ftp/FtpSession.h"
#include "platform/Thread.h"
#include "server/ProcessContext.h"
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

// One place in the web connection count, given back when the last copy goes.
class WebSlot {
public:
    explicit WebSlot(std::atomic<int>& count) : count_(count) { ++count_; }
    ~WebSlot() { --count_; }
    WebSlot(const WebSlot&) = delete;
    WebSlot& operator=(const WebSlot&) = delete;

private:
    std::atomic<int>& count_;
};

}  // namespace

void startFtpConnection(Socket socket, std::shared_ptr<const FtpContext> context,
                        std::shared_ptr<ProcessContext> process) {
    // The socket travels in a shared cell so a refused thread start still closes it.
    auto cell = std::make_shared<Socket>(std::move(socket));
    startDetachedThread([cell, context, process] {
        CountedSession counted(std::move(*cell), *context);
        while (counted.session().readCommand()) {
        }
    });
}

void startWebConnection(Socket socket, std::shared_ptr<const WebContext> context,
                        std::shared_ptr<ProcessContext> process) {
    auto cell = std::make_shared<Socket>(std::move(socket));
    auto slot = std::make_shared<WebSlot>(process->activeWebConnections);
    startDetachedThread([cell, context, process, slot] { serveWebConnection(std::move(*cell), *context); });
}

}  // namespace corvel
