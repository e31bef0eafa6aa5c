#include "common/FileList.h"

namespace corvel {

std::vector<std::string> fileListValue(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view name = text.substr(start, end - start);
        const std::size_t first = name.find_first_not_of(kBlanks);
        if (first != std::string_view::npos) {
            name = name.substr(first, name.find_last_not_of(kBlanks) - first + 1);
            names.emplace_back(name);
        }
        start = end + 1;
    }
    return names;
}

}  // namespace corvel
