#include "config/ExtensionSettings.h"

#include "config/AddressPattern.h"
#include "config/SettingsFile.h"
#include "common/FileList.h"
#include "platform/Socket.h"

namespace corvel {
namespace {

// Longest count text the server reads: ten digits hold every value it takes, and
// more could not be turned into a number without wrapping.
constexpr std::size_t kMaxCountDigits = 10;
// Longest host name and longest label of one (RFC 1035).
constexpr std::size_t kMaxHostNameLength = 253;
constexpr std::size_t kMaxHostLabelLength = 63;
// Longest character set name taken: the registered names are at most 40 long.
constexpr std::size_t kMaxCharsetLength = 40;

constexpr char kYesNo[] = "yes or no";

bool isListSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; }

bool hasControlCharacter(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

// Why text is no host name the resolver could look up (letters, digits and '-' in
// dot-separated labels); nullopt when it is one.
std::optional<std::string> hostNameProblem(std::string_view text) {
    if (text.size() > kMaxHostNameLength)
        return "a host name is at most " + std::to_string(kMaxHostNameLength) + " characters long";
    if (text.find_first_not_of("0123456789.") == std::string_view::npos)
        return std::string("it is no dotted IPv4 address such as 203.0.113.7");
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view label = text.substr(start, end - start);
        if (label.empty() || label.size() > kMaxHostLabelLength || label.front() == '-' || label.back() == '-')
            return std::string("a host name is dot-separated parts of 1 to 63 letters, digits and '-'");
        for (char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
                return "a host name holds only letters, digits, '-' and '.', not '" + std::string(1, c) + "'";
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

const std::vector<ExtensionElement>& extensionElements() {
    static const std::vector<ExtensionElement> elements = {
        {"tls", "TLS on the FTP port", ExtensionKind::TlsMode, "off, explicit or required",
         "off, explicit (AUTH TLS offered) or required (no login without it)", "off"},
        {"tlscert", "the certificate (PEM)", ExtensionKind::File, "a file name",
         "a PEM file, relative to the program directory unless absolute", "corveld-cert.pem, made on first start"},
        {"tlskey", "the certificate's key (PEM)", ExtensionKind::File, "a file name",
         "a PEM file, relative to the program directory unless absolute", "corveld-key.pem, made on first start"},
        {"webtls", "HTTPS on the web port", ExtensionKind::YesNo, kYesNo, kYesNo, "no"},
        {"tlsreuse", "protected data connections must resume the control session", ExtensionKind::YesNo, kYesNo,
         kYesNo, "yes"},
        {"pasvports", "the ports of passive data connections", ExtensionKind::PortRange,
         "a range of ports such as 50000-50099", "a range of ports A-B, 1 <= A <= B <= 65535, such as 50000-50099",
         "any free port"},
        {"pasvaddress", "the address passive replies give clients outside the local network", ExtensionKind::Host,
         "an address or host name", "a dotted IPv4 address or a host name", "the address the client connected to"},
        {"ftpext", "standard FTP replies and the FTP extensions (FEAT, EPSV, EPRT, MLSD, MLST, MDTM, ...)", ExtensionKind::YesNo, kYesNo, kYesNo,
         "no"},
        {"banfailures", "failed logins that ban an address", ExtensionKind::Count, "a number of failed logins",
         "a number of failed logins from 0 (no bans) to 1000000, digits only", "0 (no bans)", 0, 1000000},
        {"banwindow", "minutes in which the failed logins count", ExtensionKind::Count,
         "a number of minutes (1 or more)", "a number of minutes from 1 to 525600, digits only", "10", 1, 525600},
        {"banminutes", "minutes a ban lasts", ExtensionKind::Count, "a number of minutes (1 or more)",
         "a number of minutes from 1 to 525600, digits only", "15", 1, 525600},
        {"maxperip", "FTP connections from one address", ExtensionKind::Count, "a number of connections",
         "a number of connections from 0 (no limit) to 1000000, digits only", "0 (no limit)", 0, 1000000},
        {"maxprelogin", "FTP connections from one address not logged in yet", ExtensionKind::Count,
         "a number of connections", "a number of connections from 0 (no limit) to 1000000, digits only", "8", 0,
         1000000},
        {"webpolicy", "the access policy and the rights apply on the web", ExtensionKind::YesNo, kYesNo, kYesNo, "no"},
        {"webext", "byte ranges and HEAD on the web", ExtensionKind::YesNo, kYesNo, kYesNo, "no"},
        {"webapp", "the web client: sign-in page, uploads, folders, rename and delete under /app/",
         ExtensionKind::YesNo, kYesNo, kYesNo, "no"},
        {"webcharset", "the character set web pages declare", ExtensionKind::Charset,
         "a character set name such as utf-8",
         "a character set name such as utf-8 or iso-8859-1: letters, digits, '-', '_', '.' and '+', at most 40",
         "none declared"},
        {"maxwebconn", "web connections served at once", ExtensionKind::Count, "a number of connections",
         "a number of web connections from 1 to 1000000, digits only", "256", 1, 1000000},
        {"webmaxperip", "web connections from one address at once", ExtensionKind::Count, "a number of connections",
         "a number of web connections from 0 (no limit) to 1000000, digits only", "16", 0, 1000000},
        {"proxyfrom", "balancers whose connections start with a PROXY header", ExtensionKind::AddressList,
         "a list of address patterns",
         "address patterns such as 10.0.0.5 or 10.0.0.*, separated by blanks or commas", "none"},
        {"sftpport", "the SFTP port", ExtensionKind::Count, "a port number", "a port number from 1 to 65535",
         "no SFTP", 1, 65535},
        {"sftplistenip", "the address the SFTP port listens on", ExtensionKind::Address, "an IP address",
         "a dotted IPv4 address such as 192.0.2.10 or an IPv6 address", "the FTP listen address"},
        {"sftphostkey", "the SSH host key files (private keys) the SFTP port uses", ExtensionKind::FileList,
         "a list of key files",
         "private key files (OpenSSH or PEM, no passphrase) separated by commas, each relative to the program "
         "directory unless absolute, such as /etc/ssh/ssh_host_ed25519_key",
         "corveld-sftp-ed25519.key and corveld-sftp-rsa.key, made on first start"},
    };
    return elements;
}

const ExtensionElement* findExtensionElement(std::string_view name) {
    for (const ExtensionElement& element : extensionElements())
        if (name == element.name) return &element;
    return nullptr;
}

std::optional<std::string> extensionValueProblem(const ExtensionElement& element, std::string_view text) {
    const std::string help = element.help;
    switch (element.kind) {
        case ExtensionKind::Count:
            if (!countValue(text, element.low, element.high)) return help;
            return std::nullopt;
        case ExtensionKind::YesNo:
            if (!yesNoValue(text)) return help;
            return std::nullopt;
        case ExtensionKind::TlsMode:
            if (!tlsModeValue(text)) return help;
            return std::nullopt;
        case ExtensionKind::PortRange:
            if (!portSpanValue(text)) return help;
            return std::nullopt;
        case ExtensionKind::File:
            if (text.empty() || hasControlCharacter(text)) return help;
            return std::nullopt;
        case ExtensionKind::Host: {
            if (isValidIpv4(std::string(text))) return std::nullopt;
            if (std::optional<std::string> why = hostNameProblem(text)) return help + "; " + *why;
            return std::nullopt;
        }
        case ExtensionKind::FileList: {
            const std::vector<std::string> names = fileListValue(text);
            if (names.empty() || hasControlCharacter(text)) return help;
            return std::nullopt;
        }
        case ExtensionKind::Charset:
            if (!charsetValue(text)) return help;
            return std::nullopt;
        case ExtensionKind::Address:
            if (!isValidIpv4(std::string(text)) && !isValidIpv6(std::string(text))) return help;
            return std::nullopt;
        case ExtensionKind::AddressList: {
            const std::vector<std::string> patterns = addressListValue(text);
            if (patterns.empty()) return help;
            for (const std::string& pattern : patterns)
                if (std::optional<std::string> why = whyPatternNeverMatches(pattern))
                    return "'" + pattern + "' can never match an address: " + *why;
            return std::nullopt;
        }
    }
    return help;
}

std::string extensionRefusalText(std::string_view name, const std::string& text) {
    const ExtensionElement* element = findExtensionElement(name);
    const std::string tag(name);
    return "<" + tag + ">" + text + "</" + tag + "> is not " + (element ? element->expected : "valid");
}

std::optional<std::uint32_t> countValue(std::string_view text, std::uint32_t low, std::uint32_t high) {
    if (text.empty() || text.size() > kMaxCountDigits || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) value = value * 10 + std::uint64_t(c - '0');
    if (value < low || value > high) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<bool> yesNoValue(std::string_view text) {
    if (text == "yes") return true;
    if (text == "no") return false;
    return std::nullopt;
}

std::optional<TlsMode> tlsModeValue(std::string_view text) {
    if (text == "off") return TlsMode::Off;
    if (text == "explicit") return TlsMode::Explicit;
    if (text == "required") return TlsMode::Required;
    return std::nullopt;
}

std::optional<PortSpan> portSpanValue(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::optional<std::uint32_t> first = countValue(text.substr(0, dash), 1, 65535);
    const std::optional<std::uint32_t> last = countValue(text.substr(dash + 1), 1, 65535);
    if (!first || !last || *first > *last) return std::nullopt;
    return PortSpan{static_cast<std::uint16_t>(*first), static_cast<std::uint16_t>(*last)};
}

std::vector<std::string> addressListValue(std::string_view text) {
    std::vector<std::string> patterns;
    std::string pattern;
    for (char c : text) {
        if (isListSeparator(c)) {
            if (!pattern.empty()) patterns.push_back(pattern);
            pattern.clear();
        } else {
            pattern += c;
        }
    }
    if (!pattern.empty()) patterns.push_back(pattern);
    return patterns;
}

std::optional<std::string> charsetValue(std::string_view text) {
    if (text.empty() || text.size() > kMaxCharsetLength) return std::nullopt;
    for (char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.' || c == '+'))
            return std::nullopt;
    return std::string(text);
}

std::optional<std::string> listenAddressProblem(const SettingsFile& file) {
    const std::string listen = file.text("listenip").value_or("");
    if (listen.find(':') == std::string::npos || file.text("ftpext") == "yes") return std::nullopt;
    return "the IPv6 listen address " + listen + " needs the FTP extensions (ftpext yes), since IPv6 clients use "
           "EPSV and EPRT";
}

bool tlsIsOn(const SettingsFile& file) {
    const std::optional<std::string> tls = file.text("tls");
    return (tls && *tls != "off") || file.text("webtls") == "yes";
}

}  // namespace corvel
