#include "web/HttpRequestParser.h"

#include <algorithm>

#include "web/HttpText.h"

namespace corvel {

namespace {

// Beyond this a Content-Length only needs to be known as "too large".
constexpr std::int64_t kContentLengthCeiling = std::int64_t{1} << 40;

bool isScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The path and query of a GET-like request line whose target starts after marker
// ("GET /"). The method word matches in any case, but the target search is
// case-sensitive, so "get /x" yields an empty path.
void readTarget(std::string_view line, std::string_view marker, HttpRequest& request) {
    request.path = extractBetween(extractBetween(line, marker, " "), "", "?");
    std::size_t question = line.find('?');
    request.query = question == std::string_view::npos ? std::string() : extractBetween(line.substr(question + 1), "", " ");
    request.query += '&';
}

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

HttpRequestParser::HttpRequestParser(HttpExtensions extensions, HttpAppLines app)
    : extensions_(extensions), app_(app) {
    line_.reserve(kMaxHttpLineBytes + 1);
}

std::size_t HttpRequestParser::feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ == HttpParse::NeedMore)
        used += readingBody_ ? feedBody(bytes.substr(used)) : feedHead(bytes.substr(used));
    if (app_ == HttpAppLines::On && state_ == HttpParse::Complete && streamsBody() && used < bytes.size()) {
        // The start of an upload's body: the handler writes it before it reads on.
        request_.bodyStart.assign(bytes.substr(used));
        used = bytes.size();
    }
    return used;
}

std::size_t HttpRequestParser::feedHead(std::string_view bytes) {
    // Room for the longest line plus one byte: holding that many bytes without a line
    // feed is what marks a line as too long.
    const std::size_t searched = draining_ ? bytes.size() : std::min(bytes.size(), kMaxHttpLineBytes + 1 - line_.size());
    const std::size_t lineFeed = bytes.substr(0, searched).find('\n');
    const std::size_t taken = lineFeed == std::string_view::npos ? searched : lineFeed + 1;
    headBytes_ += taken;
    if (headBytes_ > kMaxHttpHeadBytes) {
        // SECURITY: a head this large is an attack, not a browser. A URL this long
        // still gets an answer a client can show (RFC 9110's 414), not a reset.
        state_ = draining_ && drainingRequestLine_ ? HttpParse::UriTooLong : HttpParse::HeadTooLarge;
        return taken;
    }
    if (draining_) {
        // SECURITY: an overlong line is never stored; its rest is read to its line
        // feed so the peer sees an orderly close, and nothing is answered.
        if (lineFeed != std::string_view::npos) state_ = HttpParse::LineTooLong;
        return taken;
    }
    line_.append(bytes.data(), taken);
    if (lineFeed != std::string_view::npos) {
        processLine(line_);
        line_.clear();
    } else if (line_.size() > kMaxHttpLineBytes) {
        draining_ = true;
        drainingRequestLine_ = isRequestLine(line_);
        line_.clear();
    }
    return taken;
}

std::size_t HttpRequestParser::feedBody(std::string_view bytes) {
    const std::size_t taken = std::min(bytes.size(), bodyWanted_ - body_.size());
    body_.append(bytes.data(), taken);
    if (body_.size() == bodyWanted_) {
        // The body counts as text up to its first NUL byte.
        request_.query.append(body_.data(), std::min(body_.find('\0'), body_.size()));
        state_ = HttpParse::Complete;
    }
    return taken;
}

void HttpRequestParser::processLine(std::string_view rawLine) {
    std::string_view line = trimHttpLine(rawLine);
    if (line.empty()) return finishHead();
    const bool extended = extensions_ == HttpExtensions::On;
    if (startsWithIgnoringAsciiCase(line, "GET ")) {
        request_.method = HttpMethod::Get;
        readTarget(line, "GET /", request_);
    } else if (extended && startsWithIgnoringAsciiCase(line, "HEAD ")) {
        request_.method = HttpMethod::Head;
        readTarget(line, "HEAD /", request_);
    } else if (startsWithIgnoringAsciiCase(line, "POST ")) {
        request_.method = HttpMethod::Post;
        request_.path = extractBetween(line, "POST /", " ");
        // The web client's form upload says where in its query, as a PUT does.
        if (app_ == HttpAppLines::On && isStreamedFormPath(extractBetween(request_.path, "", "?")))
            readTarget(line, "POST /", request_);
    } else if (startsWithIgnoringAsciiCase(line, "PUT ")) {
        request_.method = HttpMethod::Put;
        // The web client's uploads say where in the query; every other PUT keeps it in the path.
        request_.path = extractBetween(line, "PUT /", " ");
        if (app_ == HttpAppLines::On && request_.path.rfind("app/", 0) == 0) readTarget(line, "PUT /", request_);
    } else if (startsWithIgnoringAsciiCase(line, "Content-Length:")) {
        scanContentLength(line, request_.contentLength);
    } else if (startsWithIgnoringAsciiCase(line, "Host:")) {
        request_.host = std::string(trimHttpLine(line.substr(5)));
    } else if (startsWithIgnoringAsciiCase(line, "Origin:")) {
        request_.origin = std::string(trimHttpLine(line.substr(7)));
    } else if (startsWithIgnoringAsciiCase(line, "Referer:")) {
        request_.referer = std::string(trimHttpLine(line.substr(8)));
    } else if (startsWithIgnoringAsciiCase(line, "Authorization:")) {
        request_.sentCredentials = true;
        std::string decoded = decodeBase64(extractBetween(line, "Authorization: Basic ", ""));
        request_.user = extractBetween(decoded, "", ":");
        request_.password = decoded.find(':') == std::string::npos ? std::string() : extractBetween(decoded, ":", "");
    } else if (extended && startsWithIgnoringAsciiCase(line, "Range:")) {
        // Kept as text: the handler judges it against the size of the file it opens.
        request_.range = std::string(trimHttpLine(line.substr(6)));
    } else if (extended && startsWithIgnoringAsciiCase(line, "If-Range:")) {
        request_.sentIfRange = true;
    } else if (app_ == HttpAppLines::On && startsWithIgnoringAsciiCase(line, "Cookie:")) {
        request_.cookie = std::string(trimHttpLine(line.substr(7)));
    } else if (app_ == HttpAppLines::On && startsWithIgnoringAsciiCase(line, "X-CSRF-Token:")) {
        request_.csrfToken = std::string(trimHttpLine(line.substr(13)));
    } else if (app_ == HttpAppLines::On && startsWithIgnoringAsciiCase(line, "Content-Type:")) {
        request_.contentType = std::string(trimHttpLine(line.substr(13)));
    } else if (app_ == HttpAppLines::On && startsWithIgnoringAsciiCase(line, "Transfer-Encoding:")) {
        request_.sentTransferEncoding = true;
    } else if (app_ == HttpAppLines::On && startsWithIgnoringAsciiCase(line, "Expect:")) {
        request_.expectsContinue = asciiLower(trimHttpLine(line.substr(7))) == "100-continue";
    }
    // Without the extensions "Range: bytes=" is ignored like every other line, and
    // downloads are always whole.
}

bool HttpRequestParser::isRequestLine(std::string_view line) const {
    line = trimHttpLine(line);
    return startsWithIgnoringAsciiCase(line, "GET ") || startsWithIgnoringAsciiCase(line, "POST ") ||
           startsWithIgnoringAsciiCase(line, "PUT ") ||
           (extensions_ == HttpExtensions::On && startsWithIgnoringAsciiCase(line, "HEAD "));
}

bool isStreamedFormPath(std::string_view path) {
    return path == kStreamedFormPath ||
           (path.starts_with(kStreamedSharePrefix) && path.ends_with(kStreamedShareSuffix) &&
            path.size() > kStreamedSharePrefix.size() + kStreamedShareSuffix.size());
}

bool HttpRequestParser::streamsBody() const {
    return app_ == HttpAppLines::On &&
           (request_.method == HttpMethod::Put ||
            (request_.method == HttpMethod::Post && isStreamedFormPath(request_.path)));
}

void HttpRequestParser::finishHead() {
    if (request_.method != HttpMethod::Post || request_.contentLength <= 0 || streamsBody()) {
        state_ = HttpParse::Complete;
        return;
    }
    // SECURITY: a body too large to hold is never read; the connection ends without
    // an answer.
    if (request_.contentLength > kMaxHttpBodyBytes) {
        state_ = HttpParse::BodyTooLarge;
        return;
    }
    readingBody_ = true;
    bodyWanted_ = static_cast<std::size_t>(request_.contentLength);
    body_.reserve(bodyWanted_);
}

}  // namespace corvel
