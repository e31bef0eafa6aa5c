// Plain-text tables for corvelctl's listings.
#pragma once

#include <string>
#include <vector>

namespace corvel {

// The rows, one line each, every column but the last padded to its widest cell
// (counted in bytes) and two blanks apart. Cells are printed as they are: the
// caller makes them safe for a terminal (displayText).
std::string formatTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace corvel
