#include "ctl/TextTable.h"

#include <algorithm>
#include <cstdio>

namespace corvel {

std::string displayText(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            shown += "\\n";
            ++i;
        } else if (byte == '\n') {
            shown += "\\n";
        } else if (byte < 0x20 || byte == 0x7f) {
            // SECURITY: a file's text never reaches the terminal as a control sequence.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
        } else {
            shown.push_back(static_cast<char>(byte));
        }
    }
    return shown;
}

std::string formatTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace corvel
