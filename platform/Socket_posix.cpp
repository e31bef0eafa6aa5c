// POSIX implementation of the socket layer.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvel {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
        layer_ = std::move(other.layer_);
    }
    return *this;
}

void Socket::close() {
    if (fd_ >= 0) {
        if (layer_) layer_->shutdown(fd_);
        ::close(fd_);
        fd_ = -1;
    }
    layer_.reset();
}

bool Socket::setNonBlocking() {
    if (fd_ < 0) return false;
    int flags = ::fcntl(fd_, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
}

static WaitResult pollFor(int fd, short events, int timeoutMs) {
    if (fd < 0) return WaitResult::Failed;
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeoutMs);
        if (r > 0) return WaitResult::Ready;  // errors and hang-ups show up on the next call
        if (r == 0) return WaitResult::TimedOut;
        // A signal (the stop request) interrupting the wait counts as a short idle step.
        if (errno == EINTR) return WaitResult::TimedOut;
        return WaitResult::Failed;
    }
}

WaitResult Socket::waitFor(short events, int timeoutMs) const {
    if (layer_) {
        if (events == POLLIN && layer_->hasPendingInput()) return WaitResult::Ready;
        // A layer that must write (or read) before it can go on decides what to wait for.
        if (layer_->wantsWrite())
            events = POLLOUT;
        else if (layer_->wantsRead())
            events = POLLIN;
    }
    return pollFor(fd_, events, timeoutMs);
}

WaitResult Socket::waitReadable(int timeoutMs) const { return waitFor(POLLIN, timeoutMs); }
WaitResult Socket::waitWritable(int timeoutMs) const { return waitFor(POLLOUT, timeoutMs); }

long Socket::receive(void* buffer, std::size_t length) {
    if (fd_ < 0) return -1;
    if (layer_) return layer_->receive(fd_, buffer, length);
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, length, 0);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        return -1;
    }
}

long Socket::send(const void* buffer, std::size_t length) {
    if (fd_ < 0) return -1;
    if (layer_) return layer_->send(fd_, buffer, length);
    for (;;) {
        ssize_t n = ::send(fd_, buffer, length, MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        return -1;
    }
}

static std::string dotted(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
    return text;
}

std::string Socket::peerAddress() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return dotted(address);
}

std::string Socket::localAddress() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return dotted(address);
}

std::uint16_t Socket::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Socket Socket::createTcp() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

bool isValidIpv4(const std::string& text) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

static bool fillAddress(const std::string& text, std::uint16_t port, sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (text.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

bool Socket::startConnect(const std::string& address, std::uint16_t port) {
    sockaddr_in target{};
    if (fd_ < 0 || !fillAddress(address, port, target) || !setNonBlocking()) return false;
    int r = ::connect(fd_, reinterpret_cast<sockaddr*>(&target), sizeof target);
    return r == 0 || errno == EINPROGRESS;
}

bool Socket::connectSucceeded() const {
    int error = 0;
    socklen_t length = sizeof error;
    return fd_ >= 0 && ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

long sendAll(Socket& socket, const char* data, std::size_t length) {
    if (length == 0) return 0;
    std::size_t sent = 0;
    int idleSeconds = 0;
    while (sent < length) {
        long n = socket.send(data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            idleSeconds = 0;
            continue;
        }
        if (n != -2) break;  // 0 or a failure
        WaitResult w = socket.waitWritable(kWaitStepMs);
        if (w == WaitResult::Failed) break;
        if (w == WaitResult::TimedOut && ++idleSeconds > kIdleLimitSeconds) break;
    }
    if (sent == length) return static_cast<long>(length);
    socket.close();
    return -1;
}

std::optional<TcpListener> TcpListener::open(const std::string& address, std::uint16_t port, int backlog,
                                             std::string* error) {
    auto fail = [error](const std::string& text) -> std::optional<TcpListener> {
        if (error) *error = text;
        return std::nullopt;
    };
    sockaddr_in bound{};
    if (!fillAddress(address, port, bound)) return fail("\"" + address + "\" is not an IPv4 address");
    Socket socket = Socket::createTcp();
    if (!socket.isOpen()) return fail(std::strerror(errno));
    int yes = 1;
    // Lets a restarted server take its port back while old connections linger in TIME_WAIT.
    ::setsockopt(socket.descriptor(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(socket.descriptor(), reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0)
        return fail(std::strerror(errno));
    if (!socket.setNonBlocking()) return fail(std::strerror(errno));
    if (::listen(socket.descriptor(), backlog > 0 ? backlog : SOMAXCONN) != 0) return fail(std::strerror(errno));
    TcpListener listener(std::move(socket));
    listener.spareDescriptor_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    return listener;
}

Socket TcpListener::accept() {
    for (;;) {
        int fd = ::accept4(socket_.descriptor(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            int yes = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            return Socket(fd);
        }
        if (errno == EINTR) continue;
        if ((errno == EMFILE || errno == ENFILE) && spareDescriptor_.isOpen()) {
            // Out of descriptors: free the spare to accept and drop the waiting peer,
            // so it is refused instead of spinning the listener on a ready socket.
            spareDescriptor_.reset();
            int dropped = ::accept4(socket_.descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
            if (dropped >= 0) ::close(dropped);
            spareDescriptor_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        }
        return Socket();
    }
}

int waitAnyReadable(Socket* const* sockets, int count, int timeoutMs) {
    pollfd fds[8];
    if (count > 8) return -2;
    for (int i = 0; i < count; ++i) fds[i] = pollfd{sockets[i]->descriptor(), POLLIN, 0};
    int r = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (r < 0) return errno == EINTR ? -1 : -2;
    if (r == 0) return -1;
    for (int i = 0; i < count; ++i)
        if (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) return i;
    return -1;
}

}  // namespace corvel
