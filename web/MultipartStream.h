// A multipart/form-data body (RFC 7578) read as it arrives, in pieces of any size:
// each part's name and file name, then its bytes handed on as they come, so a file
// of any size passes with the memory of one piece and a delimiter. No I/O of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// Longest header block of one part; a longer one makes the body malformed.
constexpr std::size_t kMaxPartHeaderBytes = 8192;

// The boundary of a Content-Type value ("multipart/form-data; boundary=x", the
// boundary quoted or not); nullopt when it is no multipart/form-data or the boundary
// is not 1 to 70 characters of RFC 2046.
std::optional<std::string> multipartBoundary(std::string_view contentType);

struct PartHeader {
    std::string name;                     // the form field's name
    std::optional<std::string> fileName;  // set for a file field (maybe empty: none chosen)
};

// Callbacks of a body's parts, in order. Each returns false to stop the reading
// (the body then counts as refused).
struct MultipartHandler {
    std::function<bool(const PartHeader&)> partStart;
    std::function<bool(std::string_view)> partBytes;
    std::function<bool()> partEnd;
};

class MultipartStream {
public:
    enum class State { Reading, Finished, Malformed, Stopped };

    MultipartStream(std::string boundary, MultipartHandler handler);

    // Takes the next bytes of the body; returns the state after them. Bytes after
    // the closing delimiter are ignored.
    State feed(std::string_view bytes);
    State state() const { return state_; }

private:
    enum class Step { Preamble, AfterDelimiter, Headers, Data };
    bool process();
    bool parseHeaders(std::string_view block);

    std::string delimiter_;  // "\r\n--" + boundary
    MultipartHandler handler_;
    State state_ = State::Reading;
    Step step_ = Step::Preamble;
    std::string pending_;
};

}  // namespace corvel
