#include "ctl/SettingKeys.h"

#include <cstdio>

#include "config/ExtensionSettings.h"
#include "ctl/TextTable.h"
#include "platform/Socket.h"

namespace corvel {
namespace {

// Longest decimal text read as a number: more digits than 2^64 holds are refused
// before they could wrap.
constexpr std::size_t kMaxDecimalDigits = 19;

SettingValue refused(std::string_view typed, const char* valueHelp) {
    SettingValue value;
    value.error = "'" + displayText(typed) + "' is refused: " + valueHelp;
    return value;
}

SettingValue accepted(std::string text) {
    SettingValue value;
    value.fileText = std::move(text);
    return value;
}

constexpr char kAddressHelp[] = "empty (all interfaces) or a dotted IPv4 address such as 192.168.1.7";
constexpr char kPortHelp[] = "a port number from 1 to 65535, digits only";
constexpr char kLimitHelp[] = "a number of connections from 0 to 4294967295, digits only";
constexpr char kYesNoHelp[] = "yes or no";
constexpr char kTextHelp[] = "any text; \\n or a line end in it starts a new line";

SettingValue checkAddress(std::string_view typed) {
    const std::string text(typed);
    if (text.empty() || isValidIpv4(text)) return accepted(text);
    return refused(typed, kAddressHelp);
}

SettingValue checkPort(std::string_view typed) {
    // SECURITY: refused rather than wrapped: the server keeps the low 16 bits, so
    // 65557 would quietly become port 21.
    if (std::optional<std::uint64_t> port = decimalInRange(typed, 1, 65535)) return accepted(std::to_string(*port));
    return refused(typed, kPortHelp);
}

SettingValue checkLimit(std::string_view typed) {
    if (std::optional<std::uint64_t> limit = decimalInRange(typed, 0, 4294967295u))
        return accepted(std::to_string(*limit));
    return refused(typed, kLimitHelp);
}

SettingValue checkYesNo(std::string_view typed) {
    if (typed == "yes" || typed == "no") return accepted(std::string(typed));
    return refused(typed, kYesNoHelp);
}

SettingValue checkText(std::string_view typed) { return accepted(welcomeFileText(typed)); }

SettingValue checkExtension(const ExtensionElement& element, std::string_view typed) {
    std::optional<std::string> why = extensionValueProblem(element, typed);
    if (!why) return accepted(std::string(typed));
    if (typed.empty()) *why += " (settings unset " + std::string(element.name) + " takes the element away)";
    return refused(typed, why->c_str());
}

std::vector<SettingKey> buildKeys() {
    std::vector<SettingKey> keys = {
        {"listenip", kAddressHelp, "", checkAddress},
        {"ftpport", kPortHelp, "21", checkPort},
        {"httpport", kPortHelp, "8080", checkPort},
        {"maxconn", kLimitHelp, "256", checkLimit},
        {"pasvmode", kYesNoHelp, "yes", checkYesNo},
        {"welcomemsg", kTextHelp, "", checkText},
    };
    for (const ExtensionElement& element : extensionElements())
        keys.push_back({element.name, element.help, element.serverDefault,
                        [&element](std::string_view typed) { return checkExtension(element, typed); }, true});
    return keys;
}

}  // namespace

const std::vector<SettingKey>& settingKeys() {
    static const std::vector<SettingKey> keys = buildKeys();
    return keys;
}

const SettingKey* findSettingKey(std::string_view name) {
    for (const SettingKey& key : settingKeys())
        if (name == key.name) return &key;
    return nullptr;
}

std::optional<std::uint64_t> decimalInRange(std::string_view text, std::uint64_t low, std::uint64_t high) {
    if (text.empty() || text.size() > kMaxDecimalDigits) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + std::uint64_t(c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::string welcomeFileText(std::string_view typed) {
    std::string text;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        const char c = typed[i];
        if (c == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') continue;  // the '\n' follows
        if (c == '\n' || (c == '\\' && i + 1 < typed.size() && typed[i + 1] == 'n')) {
            text += "\r\n";
            if (c == '\\') ++i;
            continue;
        }
        text.push_back(c);
    }
    return text;
}

}  // namespace corvel
