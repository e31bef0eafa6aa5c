// The values of ftpconfig.xml that corvelctl shows and sets, in one table: each key
// names its element, says what the server does without it, and checks a typed value.
// The six of every file come first, then the optional elements of the extensions,
// checked by the rules the server reads them with (config/ExtensionSettings).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// What a check made of a typed value.
struct SettingValue {
    std::optional<std::string> fileText;  // the element's new text; nullopt when refused
    std::string error;                    // why it was refused
};

struct SettingKey {
    const char* name;           // the key and the element of ftpconfig.xml
    const char* valueHelp;      // what the value may be, for the help and the errors
    const char* serverDefault;  // what the server uses when the element is missing
    std::function<SettingValue(std::string_view typed)> check;
    // An element of the extensions: settings unset takes it away, and settings show
    // lists it apart from the six of every file.
    bool optional = false;
};

// Every key, in the order settings show lists them.
const std::vector<SettingKey>& settingKeys();
const SettingKey* findSettingKey(std::string_view name);

// text as a decimal number of digits only (no sign, no blanks) within low..high;
// nullopt for anything else, also for a number too long to hold.
std::optional<std::uint64_t> decimalInRange(std::string_view text, std::uint64_t low, std::uint64_t high);

// The welcome text as the file holds it: every line end ("\n", "\r\n", or the two
// characters backslash and n, as typed in a shell) becomes CR LF, as the console writes.
std::string welcomeFileText(std::string_view typed);

}  // namespace corvel
