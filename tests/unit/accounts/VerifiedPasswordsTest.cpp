// What the table of recently verified passwords gives back: only the very password
// for the very stored string, and the oldest forgotten past its capacity.
#include <gtest/gtest.h>

#include "accounts/VerifiedPasswords.h"

namespace corvel {
namespace {

TEST(VerifiedPasswords, RecallsOnlyThePasswordThatMatchedThatString) {
    VerifiedPasswords verified;
    EXPECT_FALSE(verified.recall("$argon2id$one", "pw"));
    verified.remember("$argon2id$one", "pw");
    EXPECT_TRUE(verified.recall("$argon2id$one", "pw"));
    EXPECT_FALSE(verified.recall("$argon2id$one", "pW"));
    EXPECT_FALSE(verified.recall("$argon2id$one", ""));
    EXPECT_FALSE(verified.recall("$argon2id$two", "pw"));  // a changed password is another string
    verified.remember("$argon2id$empty", "");
    EXPECT_TRUE(verified.recall("$argon2id$empty", ""));
    EXPECT_FALSE(verified.recall("$argon2id$empty", std::string(1, '\0')));
}

TEST(VerifiedPasswords, TheOldestGivesWayPastTheCapacity) {
    VerifiedPasswords verified;
    for (std::size_t i = 0; i <= VerifiedPasswords::kCapacity; ++i)
        verified.remember("$argon2id$" + std::to_string(i), "pw");
    EXPECT_FALSE(verified.recall("$argon2id$0", "pw"));
    EXPECT_TRUE(verified.recall("$argon2id$1", "pw"));
    EXPECT_TRUE(verified.recall("$argon2id$" + std::to_string(VerifiedPasswords::kCapacity), "pw"));
}

}  // namespace
}  // namespace corvel
