// Content types of web downloads by file extension, and the extension and file
// name that a download's path value gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// The fixed table of 187 lower-case extensions (without the dot). Immutable, so one
// instance may be shared by any number of threads; copies are free.
class MimeTypeTable {
public:
    // Exact, case-sensitive match; the empty extension has no entry.
    std::optional<std::string_view> lookup(std::string_view extension) const;
    // The entry, or "application/*" when there is none.
    std::string_view contentTypeFor(std::string_view extension) const;
    std::size_t size() const;
    // Entry by position, ordered by extension; for tests and tools.
    std::string_view extensionAt(std::size_t index) const;
    std::string_view contentTypeAt(std::size_t index) const;
};

// The text after the last '.' of the whole text (not only of its last path
// component); empty when there is no '.'.
std::string fileExtensionOf(std::string_view text);

// The text after the last '/' (the whole text when there is none; empty when it ends
// in '/'). An empty text gives "UNKNOWN-%08X" of nowSeconds since 1970 UTC.
std::string downloadNameOf(std::string_view text, std::int64_t nowSeconds);
// The same with the current time.
std::string downloadNameOf(std::string_view text);

}  // namespace corvel
