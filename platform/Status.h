// What a platform call that failed for a reason a person reads reports: the
// system's error number, taken where the failing call set it, and the words for
// it. Callers above platform/ read these instead of errno, which any call in
// between (a destructor's close, an allocation) may have changed.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace corvel {

class [[nodiscard]] Status {
public:
    Status() = default;  // success

    static Status failure(int systemError, std::string text) { return Status(systemError, std::move(text)); }
    // The failure the last system call of this thread reported, in the system's
    // words. Read it right after that call.
    static Status lastSystemError() {
        const int code = errno;
        return Status(code, std::strerror(code));
    }

    bool ok() const { return systemError_ == 0 && text_.empty(); }
    int systemError() const { return systemError_; }
    const std::string& text() const { return text_; }

private:
    Status(int systemError, std::string text) : systemError_(systemError), text_(std::move(text)) {}

    int systemError_ = 0;
    std::string text_;
};

}  // namespace corvel
