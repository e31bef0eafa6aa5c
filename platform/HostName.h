// The local host's official name, as the web pages' heading shows it, and its
// addresses, as the console lists them.
#pragma once

#include <string>
#include <vector>

namespace corvel {

// The host name resolved to its canonical (official) name. When it cannot be
// resolved, the plain host name; empty when even that is unknown. Thread-safe; may
// wait on the system's name resolution.
std::string officialHostName();

struct LocalHost {
    std::string officialName;            // never empty
    std::vector<std::string> addresses;  // dotted decimal, in the resolver's order
};

// Resolves the host name through the system's host database. When it cannot be
// resolved: the plain host name and no addresses; when even that is unknown, the
// name "localhost". May wait on name resolution.
LocalHost lookUpLocalHost();

// The first IPv4 address of a host name (or the literal itself), dotted; empty when it
// cannot be resolved. Thread-safe; waits on the system's name resolution.
std::string resolveIpv4(const std::string& hostName);

}  // namespace corvel
