// Permission bits of an account's privilege value.
#pragma once

#include <cstdint>

namespace corvel {

constexpr std::uint32_t PERM_CREATE_FILE = 0x1;
constexpr std::uint32_t PERM_READ_FILE = 0x2;
constexpr std::uint32_t PERM_WRITE_FILE = 0x4;
constexpr std::uint32_t PERM_REMOVE_FILE = 0x8;
constexpr std::uint32_t PERM_EXECUTE = 0x10;  // stored and shown only
constexpr std::uint32_t PERM_CREATE_DIR = 0x10000;
constexpr std::uint32_t PERM_LIST = 0x20000;
constexpr std::uint32_t PERM_REMOVE_DIR = 0x40000;

// List and Read File: the anonymous account's and a new console account's bits.
constexpr std::uint32_t kDefaultPrivileges = PERM_LIST | PERM_READ_FILE;

}  // namespace corvel
