// POSIX implementation of the host-name lookup.
#include "platform/HostName.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace corvel
