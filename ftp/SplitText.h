// Cuts a text into pieces at delimiter characters, with a limit on the cuts; the
// dispatcher uses it to pick the path words of LIST and NLST.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// The rules:
// 1. An empty text gives no pieces and leaves pieces as it was; any other text
//    first empties pieces.
// 2. From the left, while a delimiter (any character of delimiters) remains and
//    cuts are left: the piece before it is appended (unless it is empty and
//    skipEmpty is set); one cut is used up either way; scanning goes on after it.
// 3. The rest of the text after the last cut, delimiters and all, is appended
//    (unless it is empty and skipEmpty is set).
// So "LIST -la pub" with delimiter " ", skipEmpty and 3 cuts gives LIST, -la, pub,
// and "LIST  a b c" gives LIST, a, "b c" (the empty piece still used a cut).
// A negative maxCuts counts as 0. Pure function of its arguments; thread-safe.
void splitText(std::string_view text, std::string_view delimiters, bool skipEmpty, int maxCuts,
               std::vector<std::string>& pieces);

}  // namespace corvel
