// The socket-pair part of the fuzz support, kept out of the header for its OS header.
#include "FuzzSupport.h"

#include <sys/socket.h>

namespace corvel::fuzzing {

FedSocketPair::FedSocketPair(std::string input) {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) invariantFailed("socketpair failed");
    server_ = Socket(fds[0]);
    client_ = Socket(fds[1]);
    feeder_ = std::thread([this, text = std::move(input)] { feed(text); });
}

}  // namespace corvel::fuzzing
