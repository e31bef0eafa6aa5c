// The local host's official name and IPv4 addresses, as the status panel lists them.
#pragma once

#include <string>
#include <vector>

namespace corvel {

struct LocalHost {
    std::string officialName;            // never empty
    std::vector<std::string> addresses;  // dotted decimal, in the resolver's order
};

// Resolves the host name through the system's host database. When it cannot be
// resolved: the plain host name and no addresses; when even that is unknown, the
// name "localhost". May wait on name resolution.
LocalHost lookUpLocalHost();

}  // namespace corvel
