#include "accounts/StoredPassword.h"

#include <argon2.h>

#include <array>

#include "config/SettingsFile.h"
#include "common/DecimalText.h"
#include "common/PasswordDigest.h"
#include "common/XmlFiles.h"
#include "platform/RandomBytes.h"

namespace corvel {
namespace {

constexpr std::string_view kArgon2idPrefix = "$argon2id$";

// The value of one "name=digits" parameter of the "m=..,t=..,p=.." part; nullopt when
// it is missing or no plain number.
std::optional<std::uint32_t> parameterOf(std::string_view parameters, char name) {
    std::size_t start = 0;
    while (start < parameters.size()) {
        std::size_t end = parameters.find(',', start);
        if (end == std::string_view::npos) end = parameters.size();
        const std::string_view part = parameters.substr(start, end - start);
        if (part.size() > 2 && part[0] == name && part[1] == '=') {
            const std::string_view digits = part.substr(2);
            if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string_view::npos)
                return std::nullopt;
            bool found = false;
            const std::int64_t value = scanDecimal(std::string(digits), &found);
            if (!found || value < 0 || value > 0xFFFFFFFFll) return std::nullopt;
            return static_cast<std::uint32_t>(value);
        }
        start = end + 1;
    }
    return std::nullopt;
}

// Whether the cost stored asks for stays within the limits (the library checks the
// rest of the encoding when it verifies).
bool costWithinLimits(std::string_view stored) {
    // $argon2id$v=19$m=..,t=..,p=..$salt$hash: the parameters are the fourth field.
    std::size_t start = kArgon2idPrefix.size();
    if (stored.substr(start, 2) == "v=") start = stored.find('$', start) + 1;
    if (start == 0 || start >= stored.size()) return false;
    const std::size_t end = stored.find('$', start);
    if (end == std::string_view::npos) return false;
    const std::string_view parameters = stored.substr(start, end - start);
    const std::optional<std::uint32_t> memory = parameterOf(parameters, 'm');
    const std::optional<std::uint32_t> passes = parameterOf(parameters, 't');
    const std::optional<std::uint32_t> lanes = parameterOf(parameters, 'p');
    return memory && passes && lanes && *memory <= kArgon2MaxMemoryKiB && *passes <= kArgon2MaxPasses &&
           *lanes <= kArgon2MaxLanes;
}

std::optional<std::string> argon2idStringFor(std::string_view password) {
    std::array<unsigned char, kArgon2SaltBytes> salt{};
    if (!fillRandomBytes(salt.data(), salt.size()).ok()) return std::nullopt;
    std::string encoded(
        argon2_encodedlen(kArgon2Passes, kArgon2MemoryKiB, kArgon2Lanes, kArgon2SaltBytes, kArgon2HashBytes, Argon2_id),
        '\0');
    if (argon2id_hash_encoded(kArgon2Passes, kArgon2MemoryKiB, kArgon2Lanes, password.data(), password.size(),
                              salt.data(), salt.size(), kArgon2HashBytes, encoded.data(), encoded.size()) != ARGON2_OK)
        return std::nullopt;
    encoded.resize(encoded.find('\0'));  // the length given counts the terminating zero
    return encoded;
}

}  // namespace

std::optional<PasswordScheme> passwordSchemeValue(std::string_view text) {
    if (text == "argon2id") return PasswordScheme::Argon2id;
    return std::nullopt;
}

PasswordScheme passwordSchemeOf(const SettingsFile& file) {
    return file.text("passwordhash") ? PasswordScheme::Argon2id : PasswordScheme::Designed;
}

PasswordScheme configuredPasswordScheme(const std::string& programDirectory) {
    const SettingsFile file = SettingsFile::read(programDirectory + kSettingsFileName);
    return file.loaded() ? passwordSchemeOf(file) : PasswordScheme::Designed;
}

bool isArgon2idForm(std::string_view stored) { return stored.substr(0, kArgon2idPrefix.size()) == kArgon2idPrefix; }

std::optional<std::string> storedPasswordFor(std::string_view password, PasswordScheme scheme) {
    if (scheme == PasswordScheme::Designed) return passwordDigest(password);
    return argon2idStringFor(password);
}

bool storedPasswordMatches(const std::string& stored, std::string_view password) {
    if (!isArgon2idForm(stored)) return passwordDigest(password) == stored;
    if (!costWithinLimits(stored)) return false;
    // The library compares in constant time.
    return argon2id_verify(stored.c_str(), password.data(), password.size()) == ARGON2_OK;
}

}  // namespace corvel
