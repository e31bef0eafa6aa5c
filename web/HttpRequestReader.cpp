// The socket loop of one web request.
#include "web/HttpRequestReader.h"

#include <algorithm>

#include "web/WebPages.h"

namespace corvel {

HttpRequestReader::HttpRequestReader(Socket& socket, RequestHandler handler, HttpReaderTiming timing,
                                     HttpExtensions extensions, HttpAppLines app)
    : socket_(socket),
      handler_(std::move(handler)),
      timing_(timing),
      parser_(extensions, app),
      deadline_(std::chrono::steady_clock::now() + timing.requestDeadline) {}

bool HttpRequestReader::fillBuffer() {
    for (;;) {
        const IoResult r = socket_.receive(buffer_.data(), buffer_.size());
        if (r.ok()) {
            idleWaits_ = 0;
            std::size_t used = parser_.feed(std::string_view(buffer_.data(), r.bytes));
            (void)used;  // bytes past the request's end are dropped
            return true;
        }
        if (r.state != IoState::WouldBlock) {  // the peer closed, or the receive failed
            socket_.close();
            return false;
        }
        // SECURITY: the whole request has one deadline, so a byte now and then does
        // not keep the connection (and its thread) for ever.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            socket_.close();
            return false;
        }
        WaitResult wait = socket_.waitReadable(static_cast<int>(std::min<long long>(timing_.waitStepMs, left.count())));
        if (wait == WaitResult::Failed) return false;
        if (wait == WaitResult::TimedOut && ++idleWaits_ > timing_.idleLimitWaits) {
            socket_.close();
            return false;
        }
    }
}

void HttpRequestReader::serve() {
    if (!socket_.isOpen()) return;
    while (parser_.state() == HttpParse::NeedMore) {
        if (!fillBuffer()) {
            // A body cut short is an incomplete form: acting on it (a password
            // change) would be worse than doing nothing.
            if (parser_.readingBody()) socket_.close();
            return;
        }
    }
    switch (parser_.state()) {
        case HttpParse::Complete: handler_(socket_, parser_.request()); break;
        case HttpParse::HeadTooLarge: socket_.close(); break;
        // The rest of the line is the owner's to drain in its orderly close, so the
        // answer is not lost to a reset.
        case HttpParse::UriTooLong: sendAll(socket_, kUriTooLongPage.data(), kUriTooLongPage.size()); break;
        case HttpParse::LineTooLong:
        case HttpParse::BodyTooLarge:
        case HttpParse::NeedMore: break;
    }
}

}  // namespace corvel
