// VirtualPath parsing and pop-last.
#include "files/VirtualPath.h"

namespace corvel {

VirtualPath VirtualPath::parse(std::string_view text, char separator) {
    VirtualPath path;
    path.separator_ = separator;
    if (text.size() > kMaxPathTextBytes) return path;
    // SECURITY: a name with a NUL byte would reach the system cut short.
    if (text.find('\0') != std::string_view::npos) return path;
    path.valid_ = true;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t cut = text.find_first_of("/\\", start);
        std::size_t end = cut == std::string_view::npos ? text.size() : cut;
        std::string_view piece = text.substr(start, end - start);
        if (piece.empty() || piece == ".") {
            // skipped
        } else if (piece == "..") {
            if (path.components_.empty())
                path.escaped_ = true;
            else
                path.components_.pop_back();
        } else {
            path.components_.emplace_back(piece);
        }
        start = end + 1;
    }
    path.rebuildJoined();
    return path;
}

bool VirtualPath::popLast() {
    if (components_.empty()) {
        escaped_ = true;
        return false;
    }
    components_.pop_back();
    rebuildJoined();
    return true;
}

void VirtualPath::rebuildJoined() {
    joined_.clear();
    for (std::size_t i = 0; i < components_.size(); ++i) {
        if (i > 0) joined_ += separator_;
        joined_ += components_[i];
    }
}

}  // namespace corvel
