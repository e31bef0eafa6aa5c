#include <gtest/gtest.h>

#include "config/SettingsFile.h"
#include "accounts/StoredPassword.h"
#include "common/PasswordDigest.h"

namespace corvel {
namespace {

// Made by this library with the parameters of the first release that wrote Argon2id;
// a stored string must keep matching whatever the parameters of new ones become.
constexpr char kStoredPw[] =
    "$argon2id$v=19$m=19456,t=2,p=1$AQAAAAAAAAAAAAAAAAAAAA$6e/k/huvhQaQE9DKTZmgav7k+wPmN8NzvnBP1slnrRc";

TEST(StoredPassword, Argon2idFormIsSaltedEncodedAndVerifies) {
    const std::optional<std::string> first = storedPasswordFor("correct horse", PasswordScheme::Argon2id);
    const std::optional<std::string> second = storedPasswordFor("correct horse", PasswordScheme::Argon2id);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u) << *first;
    EXPECT_EQ(first->find('\0'), std::string::npos);
    EXPECT_NE(*first, *second);  // a salt of its own each time
    EXPECT_TRUE(isArgon2idForm(*first));
    EXPECT_TRUE(storedPasswordMatches(*first, "correct horse"));
    EXPECT_TRUE(storedPasswordMatches(*second, "correct horse"));
    EXPECT_FALSE(storedPasswordMatches(*first, "correct horse "));
    EXPECT_FALSE(storedPasswordMatches(*first, ""));
    EXPECT_FALSE(storedPasswordMatches(*first, passwordDigest("correct horse")));

    // Empty and long passwords, and bytes beyond ASCII, hash as they are.
    const std::string longPassword(300, 'x');
    for (const std::string& password : {std::string(), longPassword, std::string("p\xE4ss\x01w\0rd", 9)}) {
        const std::optional<std::string> stored = storedPasswordFor(password, PasswordScheme::Argon2id);
        ASSERT_TRUE(stored);
        EXPECT_TRUE(storedPasswordMatches(*stored, password));
        EXPECT_FALSE(storedPasswordMatches(*stored, password + "x"));
    }
    EXPECT_TRUE(storedPasswordMatches(kStoredPw, "pw"));
    EXPECT_FALSE(storedPasswordMatches(kStoredPw, "pW"));
}

TEST(StoredPassword, DesignedFormStaysTheDigest) {
    EXPECT_EQ(storedPasswordFor("secret", PasswordScheme::Designed), passwordDigest("secret"));
    EXPECT_FALSE(isArgon2idForm(passwordDigest("secret")));
    EXPECT_TRUE(storedPasswordMatches(passwordDigest("secret"), "secret"));
    EXPECT_FALSE(storedPasswordMatches(passwordDigest("secret"), "Secret"));
    EXPECT_FALSE(storedPasswordMatches("", "secret"));
}

TEST(StoredPassword, DamagedOrCostlyStringsNeverMatch) {
    const std::string good = kStoredPw;
    std::string flipped = good;
    flipped[flipped.size() - 3] = flipped[flipped.size() - 3] == 'A' ? 'B' : 'A';
    for (const std::string& stored : {
             flipped,
             std::string("$argon2id$"),
             std::string("$argon2id$v=19$m=19456,t=2,p=1$"),
             std::string("$argon2id$v=19$m=19456,t=2$AQAAAAAAAAAAAAAAAAAAAA$6e/k"),
             std::string(
                 "$argon2id$v=19$m=abc,t=2,p=1$AQAAAAAAAAAAAAAAAAAAAA$6e/k/huvhQaQE9DKTZmgav7k+wPmN8NzvnBP1slnrRc"),
             // Past the limits: refused before the library would allocate 4 GiB or loop.
             std::string(
                 "$argon2id$v=19$m=4194304,t=2,p=1$AQAAAAAAAAAAAAAAAAAAAA$6e/k/huvhQaQE9DKTZmgav7k+wPmN8NzvnBP1slnrRc"),
             std::string("$argon2id$v=19$m=19456,t=100000,p=1$AQAAAAAAAAAAAAAAAAAAAA$6e/k/"
                         "huvhQaQE9DKTZmgav7k+wPmN8NzvnBP1slnrRc"),
             std::string("$argon2id$v=19$m=19456,t=2,p=99999999999$AQAAAAAAAAAAAAAAAAAAAA$6e/k"),
             // Another variant is not taken for Argon2id (and is no designed digest either).
             std::string(
                 "$argon2i$v=19$m=19456,t=2,p=1$AQAAAAAAAAAAAAAAAAAAAA$6e/k/huvhQaQE9DKTZmgav7k+wPmN8NzvnBP1slnrRc"),
         })
        EXPECT_FALSE(storedPasswordMatches(stored, "pw")) << stored;
}

TEST(StoredPassword, SchemeComesFromThePasswordHashElement) {
    EXPECT_EQ(passwordSchemeValue("argon2id"), PasswordScheme::Argon2id);
    for (const char* other : {"", "Argon2id", "argon2", "bcrypt", " argon2id"})
        EXPECT_FALSE(passwordSchemeValue(other)) << other;
    EXPECT_EQ(passwordSchemeOf(SettingsFile::parse("<config><ftpport>21</ftpport></config>")),
              PasswordScheme::Designed);
    EXPECT_EQ(passwordSchemeOf(SettingsFile::parse("<config><passwordhash>argon2id</passwordhash></config>")),
              PasswordScheme::Argon2id);
    // A value the server refuses still makes the tools write the strong form.
    EXPECT_EQ(passwordSchemeOf(SettingsFile::parse("<config><passwordhash>md5</passwordhash></config>")),
              PasswordScheme::Argon2id);
}

}  // namespace
}  // namespace corvel
