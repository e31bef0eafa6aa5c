// Fuzzes VirtualPath::parse, popLast and resolvePath: the result never leaves the
// home directory, as text, whatever the argument and current directory are.
//
// Input: one flag byte (separator, which home), then the current directory and the
// argument as FuzzedDataProvider strings. The homes are normalised absolute paths,
// plus one fuzzed home whose normalised form is computed the way localPathOf does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "files/PathResolution.h"
#include "files/VirtualPath.h"

namespace corvel::fuzzing {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The names of text split at both separators, skipping empty names and ".", with
// ".." taking one name back (or marking escaped): what parse must produce.
std::vector<std::string> expectedNames(std::string_view text, bool& escaped) {
    std::vector<std::string> names;
    escaped = false;
    std::string name;
    auto finish = [&] {
        if (name == "..") {
            if (names.empty())
                escaped = true;
            else
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        name.clear();
    };
    for (char c : text) {
        if (isSeparator(c))
            finish();
        else
            name += c;
    }
    finish();
    return names;
}

std::string joinNames(const std::vector<std::string>& names, char separator) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += separator;
        out += names[i];
    }
    return out;
}

void checkParse(std::string_view text, char separator) {
    VirtualPath path = VirtualPath::parse(text, separator);
    const bool shouldBeValid = text.size() <= kMaxPathTextBytes && text.find('\0') == std::string_view::npos;
    check(path.valid() == shouldBeValid, "valid exactly when short enough and free of NUL");
    check(path.separator() == separator, "separator kept");
    if (!path.valid()) {
        check(path.components().empty() && path.joined().empty() && !path.escaped(), "invalid path is empty");
        return;
    }
    bool escaped = false;
    std::vector<std::string> names = expectedNames(text, escaped);
    check(path.components() == names, "names as split and normalised");
    check(path.escaped() == escaped, "escaped exactly when a .. climbs above the root");
    for (const std::string& name : path.components())
        check(!name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos,
              "names are plain");
    check(path.joined() == joinNames(names, separator), "joined by the separator");

    // Parsing the joined text again gives the same names and no escape.
    VirtualPath again = VirtualPath::parse(path.joined(), separator);
    check(again.valid() && !again.escaped() && again.components() == names, "parse of joined is stable");

    // popLast walks back to the root, then reports escaped.
    VirtualPath walker = path;
    std::size_t count = names.size();
    while (count > 0) {
        check(walker.popLast(), "popLast succeeds while names remain");
        --count;
        std::vector<std::string> prefix(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(count));
        check(walker.components() == prefix, "popLast removes the last name");
        check(walker.joined() == joinNames(prefix, separator), "popLast rebuilds joined");
    }
    check(!walker.popLast() && walker.escaped() && walker.joined().empty(), "popLast at the root escapes");
}

void checkResolve(const std::string& home, const std::string& normalisedHome, const std::string& current,
                  const std::string& argument, char separator) {
    ResolvedPath result = resolvePath(home, current, argument, separator);
    if (result.status != PathStatus::Resolved) {
        check(result.localPath.empty(), "no local path unless resolved");
        return;
    }
    const std::string& local = result.localPath;
    // SECURITY: the property the whole file layer relies on.
    if (normalisedHome == "/") {
        check(!local.empty() && local[0] == '/', "local path absolute");
    } else {
        check(local == normalisedHome || local.starts_with(normalisedHome + "/"), "local path inside the home");
    }
    std::string_view rest(local);
    rest.remove_prefix(normalisedHome == "/" ? 1 : normalisedHome.size());
    if (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
    std::size_t start = 0;
    while (!rest.empty() && start <= rest.size()) {
        std::size_t cut = rest.find('/', start);
        std::string_view name = rest.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start);
        check(!name.empty() && name != "." && name != ".." && name.find('\\') == std::string_view::npos &&
                  name.find('\0') == std::string_view::npos,
              "local names are plain");
        if (cut == std::string_view::npos) break;
        start = cut + 1;
    }
    // The local names are the normalised virtual names.
    VirtualPath parsed = VirtualPath::parse(virtualTextOf(current, argument), separator);
    check(result.normalised == parsed.joined(), "normalised is the joined virtual path");
    check(std::string(rest) == joinNames(parsed.components(), '/'), "local names follow the virtual names");
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    FuzzedDataProvider provider(data, size);
    const std::uint8_t flags = provider.ConsumeIntegral<std::uint8_t>();
    const char separator = (flags & 1) ? '\\' : '/';
    std::string current = provider.ConsumeRandomLengthString(8192);
    std::string argument = provider.ConsumeRemainingBytesAsString();

    checkParse(argument, separator);
    checkParse(current, separator);

    static const char* const kHomes[] = {"/srv/ftp/home", "/", "/a"};
    std::string home = kHomes[(flags >> 1) % 3];
    checkResolve(home, home, current, argument, separator);
    if (flags & 0x80) {
        // A fuzzed home: the current directory text serves as one when absolute.
        VirtualPath parsedHome = VirtualPath::parse(current, '/');
        if (!current.empty() && current[0] == '/' && parsedHome.valid())
            checkResolve(current, "/" + parsedHome.joined(), "/", argument, separator);
    }
    return 0;
}
