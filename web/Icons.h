// The three 16x16 GIF89a icons of the folder listing, built into the program
// (generated into Icons.cpp by scripts/make_icons.py).
#pragma once

#include <cstddef>
#include <string_view>

namespace corvel {

struct WebIcon {
    std::string_view routeName;  // "cdup.gif", "forder.gif" or "file.gif"
    const unsigned char* bytes;  // constant data with static lifetime
    std::size_t size;
};

// The icon served under routeName, or nullptr. Thread-safe (constant data).
const WebIcon* findWebIcon(std::string_view routeName);

}  // namespace corvel
