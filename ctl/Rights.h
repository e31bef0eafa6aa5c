// The rights words of corvelctl (read, write, create, delete, list, mkdir, rmdir,
// exec, all) and the permission bits of an account's privilege value they stand for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Permissions.h"

namespace corvel {

struct RightsWord {
    const char* word;
    std::uint32_t bit;
};

// The eight words in the order they are listed and shown.
inline constexpr std::array<RightsWord, 8> kRightsWords{{
    {"read", PERM_READ_FILE},
    {"write", PERM_WRITE_FILE},
    {"create", PERM_CREATE_FILE},
    {"delete", PERM_REMOVE_FILE},
    {"list", PERM_LIST},
    {"mkdir", PERM_CREATE_DIR},
    {"rmdir", PERM_REMOVE_DIR},
    {"exec", PERM_EXECUTE},
}};
// All eight bits: what "all" stands for.
std::uint32_t allRightsBits();

struct ParsedRights {
    std::optional<std::uint32_t> bits;  // nullopt when the list is refused
    std::string error;                  // why, naming the word
};

// Reads a comma-separated list of rights words; "all" gives all eight bits and
// "none" no bit; a hexadecimal number such as 0x100 (as rightsWords shows bits
// without a word) adds those bits. Blanks around a word are ignored. An empty list,
// an empty word or an unknown word is refused.
ParsedRights parseRights(std::string_view list);

// The words of bits in kRightsWords order, "all" in place of all eight, "none" for
// 0, and the bits without a word as one hexadecimal number ("0x100") at the end.
std::vector<std::string> rightsWords(std::uint32_t bits);
// rightsWords joined with ','.
std::string rightsText(std::uint32_t bits);

}  // namespace corvel
