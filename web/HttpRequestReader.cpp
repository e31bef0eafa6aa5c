// Line-by-line reading of one web request.
#include "web/HttpRequestReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "web/HttpText.h"

namespace corvel {

namespace {

// Beyond this a Content-Length only needs to be known as "too large".
constexpr std::int64_t kContentLengthCeiling = std::int64_t{1} << 40;

bool isScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

bool scanContentLength(std::string_view line, std::int64_t& value) {
    constexpr std::string_view kLiteral = "Content-Length:";
    if (line.substr(0, kLiteral.size()) != kLiteral) return false;
    std::size_t pos = kLiteral.size();
    while (pos < line.size() && isScanSpace(line[pos])) ++pos;
    bool negative = false;
    if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) negative = line[pos++] == '-';
    std::size_t digitsStart = pos;
    std::int64_t result = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
        result = std::min(result * 10 + (line[pos] - '0'), kContentLengthCeiling);
        ++pos;
    }
    if (pos == digitsStart) return false;
    value = negative ? -result : result;
    return true;
}

HttpRequestReader::HttpRequestReader(Socket& socket, RequestHandler handler, HttpReaderTiming timing)
    : socket_(socket),
      handler_(std::move(handler)),
      timing_(timing),
      deadline_(std::chrono::steady_clock::now() + timing.requestDeadline) {
    line_.reserve(kMaxHttpLineBytes + 1);
}

bool HttpRequestReader::fillBuffer() {
    for (;;) {
        long n = socket_.receive(buffer_.data(), buffer_.size());
        if (n > 0) {
            bufferStart_ = 0;
            bufferEnd_ = static_cast<std::size_t>(n);
            idleWaits_ = 0;
            return true;
        }
        if (n != -2) {  // the peer closed, or the receive failed
            socket_.close();
            return false;
        }
        // SECURITY: the whole request has one deadline, so a byte now and then does
        // not keep the connection (and its thread) for ever.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
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

bool HttpRequestReader::drainToLineFeed() {
    for (;;) {
        if (bufferStart_ == bufferEnd_ && !fillBuffer()) return false;
        const char* begin = buffer_.data() + bufferStart_;
        const void* lineFeed = std::memchr(begin, '\n', bufferEnd_ - bufferStart_);
        std::size_t taken = lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - begin) + 1
                                     : bufferEnd_ - bufferStart_;
        bufferStart_ += taken;
        headBytes_ += taken;
        if (headBytes_ > kMaxHttpHeadBytes) {
            socket_.close();
            return false;
        }
        if (lineFeed) return true;
    }
}

bool HttpRequestReader::readLine() {
    line_.clear();
    if (!socket_.isOpen()) return false;
    for (;;) {
        if (bufferStart_ == bufferEnd_ && !fillBuffer()) return false;
        const char* begin = buffer_.data() + bufferStart_;
        std::size_t available = bufferEnd_ - bufferStart_;
        // Room for the longest line plus one byte: holding that many bytes without a
        // line feed is what marks a line as too long.
        std::size_t room = kMaxHttpLineBytes + 1 - line_.size();
        std::size_t searched = std::min(available, room);
        const void* lineFeed = std::memchr(begin, '\n', searched);
        std::size_t taken = lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - begin) + 1 : searched;
        headBytes_ += taken;
        if (headBytes_ > kMaxHttpHeadBytes) {
            // SECURITY: a head this large is an attack, not a browser; no answer.
            socket_.close();
            return false;
        }
        line_.append(begin, taken);
        bufferStart_ += taken;
        if (lineFeed) return processLine(line_);
        if (line_.size() > kMaxHttpLineBytes) {
            // SECURITY: an overlong line is never stored; its rest is drained so the
            // peer sees an orderly close, and nothing is answered.
            drainToLineFeed();
            return false;
        }
    }
}

bool HttpRequestReader::processLine(std::string_view rawLine) {
    std::string_view line = trimHttpLine(rawLine);
    if (line.empty()) {
        finishRequest();
        return false;
    }
    if (startsWithIgnoringCase(line, "GET ")) {
        request_.method = HttpMethod::Get;
        // The method word matches in any case, but the target search is
        // case-sensitive, so "get /x" yields an empty path.
        request_.path = extractBetween(extractBetween(line, "GET /", " "), "", "?");
        std::size_t question = line.find('?');
        request_.query = question == std::string_view::npos ? std::string() : extractBetween(line.substr(question + 1), "", " ");
        request_.query += '&';
    } else if (startsWithIgnoringCase(line, "POST ")) {
        request_.method = HttpMethod::Post;
        request_.path = extractBetween(line, "POST /", " ");
    } else if (startsWithIgnoringCase(line, "PUT ")) {
        request_.method = HttpMethod::Put;
        request_.path = extractBetween(line, "PUT /", " ");
    } else if (startsWithIgnoringCase(line, "Content-Length:")) {
        scanContentLength(line, request_.contentLength);
    } else if (startsWithIgnoringCase(line, "Host:")) {
        request_.host = std::string(trimHttpLine(line.substr(5)));
    } else if (startsWithIgnoringCase(line, "Origin:")) {
        request_.origin = std::string(trimHttpLine(line.substr(7)));
    } else if (startsWithIgnoringCase(line, "Referer:")) {
        request_.referer = std::string(trimHttpLine(line.substr(8)));
    } else if (startsWithIgnoringCase(line, "Authorization:")) {
        request_.sentCredentials = true;
        std::string decoded = decodeBase64(extractBetween(line, "Authorization: Basic ", ""));
        request_.user = extractBetween(decoded, "", ":");
        request_.password = decoded.find(':') == std::string::npos ? std::string() : extractBetween(decoded, ":", "");
    }
    // "Range: bytes=" and every other line: ignored (downloads are always whole).
    return true;
}

void HttpRequestReader::finishRequest() {
    if (request_.method == HttpMethod::Post && request_.contentLength > 0) {
        // SECURITY: a body too large to hold is never read; the connection ends
        // without an answer.
        if (request_.contentLength > kMaxHttpBodyBytes) return;
        std::string body;
        // A body cut short is an incomplete form: the connection is already closed,
        // so nothing could be answered, and acting on a truncated form (a password
        // change) would be worse than doing nothing.
        if (!receiveBody(static_cast<std::size_t>(request_.contentLength), body)) return;
        std::size_t nul = body.find('\0');
        if (nul != std::string::npos) body.resize(nul);
        request_.query += body;
    }
    handler_(socket_, request_);
}

bool HttpRequestReader::receiveBody(std::size_t n, std::string& body) {
    body.reserve(n);
    while (body.size() < n) {
        if (bufferStart_ == bufferEnd_) {
            // Large remainders are received straight into the body.
            std::size_t missing = n - body.size();
            if (missing >= buffer_.size()) {
                std::size_t before = body.size();
                body.resize(n);
                long got = socket_.receive(body.data() + before, missing);
                if (got > 0) {
                    body.resize(before + static_cast<std::size_t>(got));
                    idleWaits_ = 0;
                    continue;
                }
                body.resize(before);
                if (got != -2) {
                    socket_.close();
                    return false;
                }
            }
            if (!fillBuffer()) {
                socket_.close();
                return false;
            }
        }
        std::size_t taken = std::min(bufferEnd_ - bufferStart_, n - body.size());
        body.append(buffer_.data() + bufferStart_, taken);
        bufferStart_ += taken;
    }
    return true;
}

}  // namespace corvel
