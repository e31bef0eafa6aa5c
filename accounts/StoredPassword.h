// How ftpusers.xml stores a password: the designed digest (common/PasswordDigest.h)
// or, with <passwordhash>argon2id</passwordhash>, an Argon2id string in the standard
// encoding ($argon2id$v=19$m=..,t=..,p=..$salt$hash) with a random salt per account.
// Both forms are always understood, so turning the element off locks nobody out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

class SettingsFile;

enum class PasswordScheme {
    Designed,  // the designed digest: no element
    Argon2id,  // <passwordhash>argon2id</passwordhash>
};

// The parameters new Argon2id strings get (OWASP's advice for Argon2id: 19 MiB, two
// passes, one lane). Older strings keep theirs, read from the string itself, so these
// can be raised later without a reset of any password.
constexpr std::uint32_t kArgon2MemoryKiB = 19456;
constexpr std::uint32_t kArgon2Passes = 2;
constexpr std::uint32_t kArgon2Lanes = 1;
constexpr std::size_t kArgon2SaltBytes = 16;
constexpr std::size_t kArgon2HashBytes = 32;

// The largest parameters a stored string may ask for; one asking more never matches,
// so an edited file cannot make each login allocate gigabytes or run for minutes.
constexpr std::uint32_t kArgon2MaxMemoryKiB = 262144;
constexpr std::uint32_t kArgon2MaxPasses = 32;
constexpr std::uint32_t kArgon2MaxLanes = 16;

// The value <passwordhash> takes; nullopt for any other text.
std::optional<PasswordScheme> passwordSchemeValue(std::string_view text);
// The scheme the tools write with for this ftpconfig.xml: Designed without the
// element, else Argon2id (also for a value the server refuses, so a typo never
// weakens what is written).
PasswordScheme passwordSchemeOf(const SettingsFile& file);
// passwordSchemeOf for programDirectory + "ftpconfig.xml"; Designed when it cannot be read.
PasswordScheme configuredPasswordScheme(const std::string& programDirectory);

// Whether stored is in the Argon2id form (else it is taken as a designed digest).
bool isArgon2idForm(std::string_view stored);

// The stored form of password under scheme. nullopt when no salt could be had from
// the system's generator or the library failed (nothing must then be written).
std::optional<std::string> storedPasswordFor(std::string_view password, PasswordScheme scheme);

// Whether password is the one stored holds, in either form. An Argon2id check costs
// its parameters' time and memory; callers keep it off threads that must not wait.
bool storedPasswordMatches(const std::string& stored, std::string_view password);

}  // namespace corvel
