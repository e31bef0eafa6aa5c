#include "ftp/CommandLineAssembler.h"

#include <cstring>

namespace corvel {
namespace {

// A line ends at its first NUL, as a C string would.
std::string cutAtNul(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

}  // namespace

void CommandLineAssembler::append(std::string_view bytes) { buffered_.append(bytes.data(), bytes.size()); }

void CommandLineAssembler::clear() {
    buffered_.clear();
    draining_ = false;
    tooLongText_.clear();
}

std::optional<CommandLineEvent> CommandLineAssembler::next() {
    if (draining_) {
        const std::size_t lineFeed = buffered_.find('\n');
        if (lineFeed == std::string::npos) {
            buffered_.clear();  // dropped: nothing of a too-long line is kept
            return std::nullopt;
        }
        buffered_.erase(0, lineFeed + 1);
        draining_ = false;
        return CommandLineEvent{CommandLineEvent::Kind::TooLong, std::move(tooLongText_)};
    }
    const std::size_t window = std::min(buffered_.size(), kMaxCommandLineBytes);
    const std::size_t lineFeed = std::string_view(buffered_).substr(0, window).find('\n');
    if (lineFeed != std::string::npos) {
        CommandLineEvent line{CommandLineEvent::Kind::Line, cutAtNul(std::string_view(buffered_).substr(0, lineFeed + 1))};
        buffered_.erase(0, lineFeed + 1);
        return line;
    }
    if (buffered_.size() < kMaxCommandLineBytes) return std::nullopt;
    tooLongText_ = cutAtNul(std::string_view(buffered_).substr(0, kMaxCommandLineBytes));
    buffered_.erase(0, kMaxCommandLineBytes);
    draining_ = true;
    return next();
}

}  // namespace corvel
