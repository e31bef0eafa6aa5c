// Fuzzes the access file: arbitrary ftpaccess.xml contents are loaded by
// AccessPolicy, and isAllowed is checked against the loaded mode and patterns.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "accounts/AccessPolicy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    ScratchDirectory& dir = fileTargetDirectory();
    placeInput(dir, "ftpaccess.xml", std::string_view(reinterpret_cast<const char*>(data), size));

    AccessPolicy policy(dir.directory());
    policy.load();
    const bool permit = policy.permitMode();
    const std::vector<std::string> patterns = policy.patterns();
    static const char* const kAddresses[] = {"127.0.0.1", "192.168.1.7", "10.0.0.5", "0.0.0.0", ""};
    for (const char* address : kAddresses) {
        bool matched = false;
        for (const std::string& pattern : patterns) matched = matched || matchPattern(pattern, address);
        check(policy.isAllowed(address) == (permit ? matched : !matched), "isAllowed follows mode and list");
    }
    // Whatever was on disk, a second load reads a well-formed file (the input, or the
    // default that replaced it) and gives the same policy.
    policy.reload();
    check(policy.permitMode() == permit && policy.patterns() == patterns, "reload gives the same policy");
    return 0;
}
