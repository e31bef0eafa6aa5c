#include "accounts/VerifiedPasswords.h"

#include <argon2.h>

#include "platform/RandomBytes.h"

namespace corvel {
namespace {

// The smallest cost the library takes: the tag only has to be keyed and one-way,
// the key being secret; the stored string is what resists guessing.
constexpr std::uint32_t kTagPasses = 1;
constexpr std::uint32_t kTagMemoryKiB = 8;

bool sameTag(const std::array<unsigned char, 32>& a, const std::array<unsigned char, 32>& b) {
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

VerifiedPasswords::VerifiedPasswords() : keyed_(fillRandomBytes(key_.data(), key_.size()).ok()) {}

bool VerifiedPasswords::tagOf(std::string_view password, Tag& tag) const {
    return keyed_ && argon2id_hash_raw(kTagPasses, kTagMemoryKiB, 1, password.data(), password.size(), key_.data(),
                                       key_.size(), tag.data(), tag.size()) == ARGON2_OK;
}

bool VerifiedPasswords::recall(const std::string& stored, std::string_view password) {
    Tag tag{};
    if (!tagOf(password, tag)) return false;
    const auto now = std::chrono::steady_clock::now();
    MutexLock lock(mutex_);
    while (!entries_.empty() && entries_.front().expires <= now) entries_.pop_front();
    for (const Entry& entry : entries_)
        if (entry.stored == stored && sameTag(entry.tag, tag)) return true;
    return false;
}

void VerifiedPasswords::remember(const std::string& stored, std::string_view password) {
    Tag tag{};
    if (!tagOf(password, tag)) return;
    MutexLock lock(mutex_);
    if (entries_.size() >= kCapacity) entries_.pop_front();
    entries_.push_back({stored, tag, std::chrono::steady_clock::now() + kLifetime});
}

}  // namespace corvel
