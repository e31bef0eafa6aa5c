#include "web/MultipartStream.h"

#include "common/AsciiText.h"
#include "web/HttpText.h"

namespace corvel {

namespace {

bool isBoundaryCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

// The value of parameter name (name="value" or name=value) in a header's value.
std::optional<std::string> parameterOf(std::string_view value, std::string_view name) {
    std::size_t start = 0;
    while (start < value.size()) {
        std::size_t end = start;
        bool quoted = false;
        // Semicolons inside quotes belong to the value.
        while (end < value.size() && (quoted || value[end] != ';')) {
            if (value[end] == '"') quoted = !quoted;
            ++end;
        }
        std::string_view item = trimHttpLine(value.substr(start, end - start));
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && asciiLower(trimHttpLine(item.substr(0, equals))) == name) {
            std::string_view text = trimHttpLine(item.substr(equals + 1));
            if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
                std::string unquoted;
                for (std::size_t i = 1; i + 1 < text.size(); ++i) {
                    if (text[i] == '\\' && i + 2 < text.size()) ++i;
                    unquoted.push_back(text[i]);
                }
                return unquoted;
            }
            return std::string(text);
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType) {
    const std::size_t semicolon = contentType.find(';');
    if (asciiLower(trimHttpLine(contentType.substr(0, semicolon))) != "multipart/form-data") return std::nullopt;
    if (semicolon == std::string_view::npos) return std::nullopt;
    std::optional<std::string> boundary = parameterOf(contentType.substr(semicolon + 1), "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 70 || boundary->back() == ' ') return std::nullopt;
    for (char c : *boundary)
        if (!isBoundaryCharacter(c)) return std::nullopt;
    return boundary;
}

MultipartStream::MultipartStream(std::string boundary, MultipartHandler handler)
    : delimiter_("\r\n--" + boundary), handler_(std::move(handler)) {
    // The body starts with the delimiter without its line break; a virtual one in
    // front makes the first delimiter look like every other.
    pending_ = "\r\n";
}

MultipartStream::State MultipartStream::feed(std::string_view bytes) {
    if (state_ != State::Reading) return state_;
    pending_.append(bytes);
    while (state_ == State::Reading && process()) {
    }
    return state_;
}

bool MultipartStream::parseHeaders(std::string_view block) {
    PartHeader header;
    bool disposition = false;
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find("\r\n", start);
        if (end == std::string_view::npos) end = block.size();
        std::string_view line = block.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            asciiLower(trimHttpLine(line.substr(0, colon))) == "content-disposition") {
            std::string_view value = line.substr(colon + 1);
            disposition = true;
            header.name = parameterOf(value, "name").value_or("");
            header.fileName = parameterOf(value, "filename");
        }
        start = end + 2;
    }
    if (!disposition) {
        state_ = State::Malformed;
        return false;
    }
    if (!handler_.partStart(header)) {
        state_ = State::Stopped;
        return false;
    }
    return true;
}

// One step on what is pending; false when more bytes are needed or the state changed.
bool MultipartStream::process() {
    switch (step_) {
        case Step::Preamble: {
            const std::size_t found = pending_.find(delimiter_);
            if (found == std::string::npos) {
                // Keep only what could still begin a delimiter.
                if (pending_.size() >= delimiter_.size()) pending_.erase(0, pending_.size() - delimiter_.size() + 1);
                return false;
            }
            pending_.erase(0, found + delimiter_.size());
            step_ = Step::AfterDelimiter;
            return true;
        }
        case Step::AfterDelimiter: {
            if (pending_.size() < 2) return false;
            if (pending_.compare(0, 2, "--") == 0) {
                state_ = State::Finished;
                pending_.clear();
                return false;
            }
            // Transport padding (blanks) may follow a delimiter before its line break.
            const std::size_t lineEnd = pending_.find("\r\n");
            if (lineEnd == std::string::npos) {
                if (pending_.size() > 128) state_ = State::Malformed;
                return false;
            }
            if (trimHttpLine(std::string_view(pending_).substr(0, lineEnd)).size() != 0) {
                state_ = State::Malformed;
                return false;
            }
            pending_.erase(0, lineEnd + 2);
            step_ = Step::Headers;
            return true;
        }
        case Step::Headers: {
            const std::size_t end = pending_.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (pending_.size() > kMaxPartHeaderBytes) state_ = State::Malformed;
                return false;
            }
            if (end > kMaxPartHeaderBytes) {
                state_ = State::Malformed;
                return false;
            }
            const std::string block = pending_.substr(0, end);
            pending_.erase(0, end + 4);
            if (!parseHeaders(block)) return false;
            step_ = Step::Data;
            return true;
        }
        case Step::Data: {
            const std::size_t found = pending_.find(delimiter_);
            if (found == std::string::npos) {
                // Everything but a tail that may start the delimiter is the part's.
                if (pending_.size() < delimiter_.size()) return false;
                const std::size_t safe = pending_.size() - delimiter_.size() + 1;
                if (!handler_.partBytes(std::string_view(pending_).substr(0, safe))) {
                    state_ = State::Stopped;
                    return false;
                }
                pending_.erase(0, safe);
                return false;
            }
            if ((found > 0 && !handler_.partBytes(std::string_view(pending_).substr(0, found))) ||
                !handler_.partEnd()) {
                state_ = State::Stopped;
                return false;
            }
            pending_.erase(0, found + delimiter_.size());
            step_ = Step::AfterDelimiter;
            return true;
        }
    }
    return false;
}

}  // namespace corvel
