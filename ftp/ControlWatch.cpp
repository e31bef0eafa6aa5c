#include "ftp/ControlWatch.h"

#include "common/AsciiText.h"

namespace corvel {
namespace {
constexpr unsigned char kTelnetIac = 0xFF;
constexpr unsigned char kTelnetFirstCommand = 0xF0;  // SE; IP is 0xF4, DM 0xF2
constexpr unsigned char kTelnetDataMark = 0xF2;
}  // namespace

std::string_view withoutTelnetCommands(std::string_view line) {
    for (;;) {
        const auto first = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
        const auto second = line.size() < 2 ? 0 : static_cast<unsigned char>(line[1]);
        // IAC IAC is an escaped data byte, not a command, and stays.
        if (first == kTelnetIac && second >= kTelnetFirstCommand && second != kTelnetIac)
            line.remove_prefix(2);
        else if (first == kTelnetDataMark || (first == kTelnetIac && line.size() == 1))
            line.remove_prefix(1);
        else
            return line;
    }
}

bool isAbortLine(std::string_view line) {
    line = withoutTelnetCommands(line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return equalsIgnoringAsciiCase(line, "ABOR");
}

ControlWatch::ControlWatch(Socket& control, Socket& data, CommandLineAssembler& commands,
                           std::deque<CommandLineEvent>& waiting)
    : control_(control), data_(data), commands_(commands), waiting_(waiting) {
    data_.watchInterrupt(this);
}

ControlWatch::~ControlWatch() { data_.watchInterrupt(nullptr); }

int ControlWatch::descriptor() const {
    if (aborted_ || controlEnded_ || waiting_.size() >= kMaxWaitingCommands) return -1;
    return control_.descriptor();
}

bool ControlWatch::stopRequested() {
    if (descriptor() < 0) return aborted_;
    // Lines that arrived with an earlier read come first.
    if (takeCompleteLines()) return true;
    char chunk[4096];
    while (waiting_.size() < kMaxWaitingCommands) {
        const IoResult r = control_.receive(chunk, sizeof chunk);
        if (r.state == IoState::WouldBlock) return false;
        if (!r.ok()) {
            // The client went away: the transfer runs on as before, and the session
            // ends when it next reads the control connection.
            controlEnded_ = true;
            return false;
        }
        commands_.append(std::string_view(chunk, r.bytes));
        if (takeCompleteLines()) return true;
    }
    return false;
}

bool ControlWatch::takeCompleteLines() {
    while (waiting_.size() < kMaxWaitingCommands) {
        std::optional<CommandLineEvent> event = commands_.next();
        if (!event) return false;
        if (event->kind == CommandLineEvent::Kind::Line && isAbortLine(event->text)) {
            aborted_ = true;
            return true;
        }
        waiting_.push_back(std::move(*event));
    }
    return false;
}

}  // namespace corvel
