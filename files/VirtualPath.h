// A client path text made into a normalised list of names below the virtual root,
// remembering whether a ".." tried to climb above it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// A path text longer than this many bytes is not valid.
constexpr std::size_t kMaxPathTextBytes = 4095;

// A value type; thread-safe as any value (no shared state).
class VirtualPath {
public:
    // Parses text: "/" and "\" both separate names on input, in any mix; empty names
    // and "." are skipped; ".." removes the last name, or sets escaped when there is
    // none (parsing goes on); anything else ("...", "a.", "C:") is a name. joined
    // uses separator. A text over kMaxPathTextBytes bytes is not valid, and
    // (SECURITY) so is a text holding a NUL byte, which a system call would cut
    // short; nothing else is filled then.
    static VirtualPath parse(std::string_view text, char separator);

    bool valid() const { return valid_; }
    bool escaped() const { return escaped_; }
    const std::vector<std::string>& components() const { return components_; }
    // The names joined by the separator, none in front or at the end; "" for the root.
    const std::string& joined() const { return joined_; }
    char separator() const { return separator_; }

    // Removes the last name and rebuilds joined. At the root: sets escaped and
    // returns false.
    bool popLast();

private:
    void rebuildJoined();

    bool valid_ = false;
    bool escaped_ = false;
    std::vector<std::string> components_;
    std::string joined_;
    char separator_ = '/';
};

}  // namespace corvel
