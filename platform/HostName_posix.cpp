// POSIX implementation of the host-name lookup.
#include "platform/HostName.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace corvel {

// Room for a host name; longer names are cut by gethostname and ended below.
constexpr std::size_t kHostNameBytes = 256;

std::string officialHostName() {
    char name[kHostNameBytes] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    name[sizeof name - 1] = '\0';
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    // getaddrinfo is thread-safe, unlike the gethostbyname it replaces.
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return name;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
    return owned->ai_canonname ? owned->ai_canonname : name;
}

LocalHost lookUpLocalHost() {
    LocalHost host;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        host.officialName = "localhost";
        return host;
    }
    host.officialName = name;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return host;
    if (found->ai_canonname != nullptr && found->ai_canonname[0] != '\0') host.officialName = found->ai_canonname;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
        if (std::find(host.addresses.begin(), host.addresses.end(), text) == host.addresses.end())
            host.addresses.emplace_back(text);
    }
    ::freeaddrinfo(found);
    return host;
}

std::string resolveIpv4(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (hostName.empty() || ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(owned->ai_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) return {};
    return text;
}

}  // namespace corvel
