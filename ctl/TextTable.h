// Plain-text output of corvelctl: texts made safe for a terminal, and tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// A file's text for one line of a terminal: a line end (CR LF or LF) shown as the
// two characters \n, which settings set reads back as one, and every other control
// byte as \xHH.
std::string displayText(std::string_view text);

// The rows, one line each, every column but the last padded to its widest cell
// (counted in bytes) and two blanks apart. Cells are printed as they are: the
// caller makes them safe for a terminal (displayText).
std::string formatTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace corvel
