// A log file that many threads append whole lines to: opened with O_APPEND, each
// line one write, so lines of different sessions never mix.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Status.h"
#include "platform/UniqueFd.h"

namespace corvel {

// Mode of a new log file: the owner writes, its group reads (log readers such as adm).
constexpr unsigned kLogFileMode = 0640;

// Movable, not copyable. Thread-safe once opened: append may be called from any
// number of threads at once.
class AppendFile {
public:
    // Opens path for appending, creating it with kLogFileMode; never follows a
    // symbolic link at the last component. nullopt with *failure when it cannot.
    static std::optional<AppendFile> open(const std::string& path, Status* failure = nullptr);

    // Adds line (its line end included) with one write at the end of the file.
    Status append(std::string_view line) const;

private:
    explicit AppendFile(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

}  // namespace corvel
