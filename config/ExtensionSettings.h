// The optional elements of ftpconfig.xml that turn on the server's extensions: what
// each one is and the one set of rules for its value, shared by the server (which
// refuses to start on a value it cannot take), the console and corvelctl.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/TlsMode.h"

namespace corvel {

class SettingsFile;

// What kind of text an element holds.
enum class ExtensionKind {
    Count,        // digits only, within low..high
    YesNo,        // "yes" or "no"
    TlsMode,      // "off", "explicit" or "required"
    PortRange,    // "A-B" with 1 <= A <= B <= 65535
    File,         // a file name, relative to the program directory unless absolute
    Host,         // a dotted IPv4 address or a host name
    AddressList,  // address patterns separated by blanks or commas
    Charset,      // a character set name such as utf-8
    Address,      // a dotted IPv4 address or an IPv6 address
    FileList,     // file names separated by commas, each as File
};

struct ExtensionElement {
    const char* name;   // the element of ftpconfig.xml, also corvelctl's key
    const char* about;  // what it is, for people: "TLS on the FTP port"
    ExtensionKind kind;
    // What the value must be, in the words of the server's refusal
    // ("<tls>yes</tls> is not off, explicit or required").
    const char* expected;
    // What the value may be, with its limits, for the tools' help and refusals.
    const char* help;
    // What the server does while the element is absent.
    const char* serverDefault;
    std::uint32_t low = 0;   // Count only: the smallest value
    std::uint32_t high = 0;  // Count only: the largest value
};

// Every element, in the order the tools list them.
const std::vector<ExtensionElement>& extensionElements();
// nullptr when name is no extension element.
const ExtensionElement* findExtensionElement(std::string_view name);

// Why the tools refuse text for element (the help, or a more precise reason); nullopt
// when they take it. Whatever this takes, the server takes too; for a file name, a
// host name and the address patterns it is stricter than the server, which reads
// those only when it uses them.
std::optional<std::string> extensionValueProblem(const ExtensionElement& element, std::string_view text);

// The server's refusal of text for the element named: "<name>text</name> is not ...".
std::string extensionRefusalText(std::string_view name, const std::string& text);

// The readers of the values, as the server applies them; nullopt when text is none.
// A count: digits only (at most 10), within low..high.
std::optional<std::uint32_t> countValue(std::string_view text, std::uint32_t low, std::uint32_t high);
std::optional<bool> yesNoValue(std::string_view text);
std::optional<TlsMode> tlsModeValue(std::string_view text);
struct PortSpan {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
};
std::optional<PortSpan> portSpanValue(std::string_view text);
// The patterns of a list; empty when it holds none.
std::vector<std::string> addressListValue(std::string_view text);
// A character set name as pages declare it (RFC 2978's names: letters, digits, '-',
// '_', '.', '+'; at most kMaxCharsetLength), as given; nullopt for anything else.
std::optional<std::string> charsetValue(std::string_view text);

// Why the server would refuse the listen address of file: an IPv6 one (a ':' in
// <listenip>) needs <ftpext>yes</ftpext>, since IPv6 clients use EPSV and EPRT;
// nullopt when it is fine.
std::optional<std::string> listenAddressProblem(const SettingsFile& file);

// Whether a run with file turns TLS on: <tls> other than off (also a value the server
// refuses), or <webtls>yes.
bool tlsIsOn(const SettingsFile& file);

}  // namespace corvel
