// splitText.
#include "ftp/SplitText.h"

namespace corvel {

void splitText(std::string_view text, std::string_view delimiters, bool skipEmpty, int maxCuts,
               std::vector<std::string>& pieces) {
    if (text.empty()) return;
    pieces.clear();
    std::size_t start = 0;
    int cutsLeft = maxCuts;
    while (cutsLeft > 0) {
        std::size_t cut = text.find_first_of(delimiters, start);
        if (cut == std::string_view::npos) break;
        if (!(skipEmpty && cut == start)) pieces.emplace_back(text.substr(start, cut - start));
        --cutsLeft;
        start = cut + 1;
    }
    if (!(skipEmpty && start == text.size())) pieces.emplace_back(text.substr(start));
}

}  // namespace corvel
