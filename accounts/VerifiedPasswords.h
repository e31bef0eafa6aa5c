// Remembers for a few minutes that a password matched an Argon2id string, so the web
// browser, whose every request carries the password again, pays the costly check once
// per account and not for each page and icon. Only a keyed tag of the password is
// kept (a fast Argon2id with a key drawn at start), never the password itself.
#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <string>
#include <string_view>
#include "common/ThreadSafety.h"

namespace corvel {

// Thread-safe.
class VerifiedPasswords {
public:
    // Draws the key; without one from the system's generator nothing is remembered.
    VerifiedPasswords();

    // Whether password matched stored within the last kLifetime.
    bool recall(const std::string& stored, std::string_view password);
    // password matched stored now.
    void remember(const std::string& stored, std::string_view password);

    static constexpr std::size_t kCapacity = 64;  // the oldest gives way past it
    static constexpr std::chrono::seconds kLifetime{300};

private:
    using Tag = std::array<unsigned char, 32>;
    bool tagOf(std::string_view password, Tag& tag) const;

    struct Entry {
        std::string stored;
        Tag tag;
        std::chrono::steady_clock::time_point expires;
    };

    std::array<unsigned char, 16> key_{};
    bool keyed_ = false;
    Mutex mutex_;
    std::deque<Entry> entries_ GUARDED_BY(mutex_);  // oldest first
};

}  // namespace corvel
