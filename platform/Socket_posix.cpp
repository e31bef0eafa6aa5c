// POSIX implementation of the socket layer.
#include "platform/Socket.h"
#include "platform/SocketTraffic.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
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
        trafficAtClose_ = trafficOfDescriptor(fd_);
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

bool Socket::keepUrgentDataInline() {
    int on = 1;
    return fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) == 0;
}

bool Socket::limitUnsentBytes(int bytes) {
    return fd_ >= 0 && ::setsockopt(fd_, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes) == 0;
}

bool Socket::interruptAsksToStop() const {
    const int watched = interrupt_->descriptor();
    if (watched < 0) return false;
    pollfd p{watched, POLLIN | POLLPRI, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    return interrupt_->stopRequested();
}

bool Socket::interrupted() {
    // One look per this many steps: a step moves up to a socket buffer's worth, so a
    // stop is seen within a few MiB without a system call on every step.
    constexpr unsigned kStepsPerLook = 16;
    if (interrupt_ == nullptr || ++stepsSinceInterruptLook_ < kStepsPerLook) return false;
    stepsSinceInterruptLook_ = 0;
    return interruptAsksToStop();
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
    if (interrupt_ != nullptr) return waitWithInterrupt(events, timeoutMs);
    return pollFor(fd_, events, timeoutMs);
}

// A wait on this socket and the interrupt's descriptor together: a stop it asks for
// fails the wait at once; anything else that arrived there waits on for the rest.
WaitResult Socket::waitWithInterrupt(short events, int timeoutMs) const {
    if (fd_ < 0) return WaitResult::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int watched = interrupt_->descriptor();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int leftMs = static_cast<int>(std::max<long long>(0, left.count()));
        if (watched < 0) return pollFor(fd_, events, leftMs);
        pollfd p[2] = {{fd_, events, 0}, {watched, POLLIN | POLLPRI, 0}};
        const int r = ::poll(p, 2, leftMs);
        if (r == 0) return WaitResult::TimedOut;
        if (r < 0) return errno == EINTR ? WaitResult::TimedOut : WaitResult::Failed;
        if (p[1].revents != 0 && interrupt_->stopRequested()) return WaitResult::Failed;
        if (p[0].revents != 0) return WaitResult::Ready;
        if (leftMs == 0) return WaitResult::TimedOut;
    }
}

WaitResult Socket::waitReadable(int timeoutMs) const { return waitFor(POLLIN, timeoutMs); }
WaitResult Socket::waitWritable(int timeoutMs) const { return waitFor(POLLOUT, timeoutMs); }

IoResult Socket::receive(void* buffer, std::size_t length) {
    if (fd_ < 0 || interrupted()) return IoResult::failed();
    if (layer_) return layer_->receive(fd_, buffer, length);
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, length, 0);
        if (n > 0) return IoResult::moved(static_cast<std::size_t>(n));
        if (n == 0) return length == 0 ? IoResult::moved(0) : IoResult::closed();
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::wouldBlock();
        return IoResult::failed();
    }
}

IoResult Socket::send(const void* buffer, std::size_t length) {
    if (fd_ < 0 || interrupted()) return IoResult::failed();
    if (layer_) return layer_->send(fd_, buffer, length);
    for (;;) {
        ssize_t n = ::send(fd_, buffer, length, MSG_NOSIGNAL);
        if (n >= 0) return IoResult::moved(static_cast<std::size_t>(n));
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::wouldBlock();
        return IoResult::failed();
    }
}

// The text of an address: dotted IPv4, or IPv6 in lower case; an IPv4 peer of a
// dual-stack socket (::ffff:a.b.c.d) is written as its plain IPv4 address, so every
// check and every log sees one form per client.
static std::string addressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        if (!::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text)) return {};
        return text;
    }
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            in_addr v4{};
            std::memcpy(&v4, v6.sin6_addr.s6_addr + 12, sizeof v4);
            if (!::inet_ntop(AF_INET, &v4, text, sizeof text)) return {};
            return text;
        }
        if (!::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text)) return {};
        return text;
    }
    return {};
}

static std::uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

std::string Socket::peerAddress() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return addressText(address);
}

std::string Socket::localAddress() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return addressText(address);
}

std::uint16_t Socket::localPort() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return portOf(address);
}

Socket Socket::createTcp() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

// SECURITY: inet_pton reads up to the first NUL, so "192.0.2.7\0\r..." would pass
// as an address and carry its tail into the logs and the tables.
bool isValidIpv4(const std::string& text) {
    in_addr parsed{};
    return text.find('\0') == std::string::npos && ::inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

bool isValidIpv6(const std::string& text) {
    in6_addr parsed{};
    return text.find('\0') == std::string::npos && ::inet_pton(AF_INET6, text.c_str(), &parsed) == 1;
}

std::string canonicalIpv6(const std::string& text) {
    sockaddr_storage address{};
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    if (::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) != 1) return text;
    return addressText(address);
}

std::string ipv6Prefix64(const std::string& text) {
    if (text.find(':') == std::string::npos) return {};
    in6_addr parsed{};
    if (::inet_pton(AF_INET6, text.c_str(), &parsed) != 1 || IN6_IS_ADDR_V4MAPPED(&parsed)) return {};
    std::memset(parsed.s6_addr + 8, 0, 8);
    char network[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, &parsed, network, sizeof network)) return {};
    return std::string(network) + "/64";
}

// Fills address for text (empty: every IPv4 address; an IPv6 literal or "::": IPv6)
// and port; its length goes to *length. false when text is neither form.
static bool fillAddress(const std::string& text, std::uint16_t port, sockaddr_storage& address, socklen_t* length) {
    address = {};
    if (text.find(':') != std::string::npos) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        *length = sizeof v6;
        return ::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1;
    }
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    *length = sizeof v4;
    if (text.empty()) {
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1;
}

bool Socket::startConnect(const std::string& address, std::uint16_t port) {
    sockaddr_storage target{};
    socklen_t length = 0;
    if (!fillAddress(address, port, target, &length)) return false;
    // The socket is made for the address's family (a plain one is IPv4 until then).
    if (target.ss_family == AF_INET6) *this = Socket(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd_ < 0 || !setNonBlocking()) return false;
    int r = ::connect(fd_, reinterpret_cast<sockaddr*>(&target), length);
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
        const IoResult r = socket.send(data + sent, length - sent);
        if (r.ok() && r.bytes > 0) {
            sent += r.bytes;
            idleSeconds = 0;
            continue;
        }
        if (r.state != IoState::WouldBlock) break;  // nothing taken, or a failure
        WaitResult w = socket.waitWritable(kWaitStepMs);
        if (w == WaitResult::Failed) break;
        if (w == WaitResult::TimedOut && ++idleSeconds > kIdleLimitSeconds) break;
    }
    if (sent == length) return static_cast<long>(length);
    socket.close();
    return -1;
}

std::optional<TcpListener> TcpListener::open(const std::string& address, std::uint16_t port, int backlog,
                                             Status* failure) {
    auto fail = [failure](Status why) -> std::optional<TcpListener> {
        if (failure) *failure = std::move(why);
        return std::nullopt;
    };
    sockaddr_storage bound{};
    socklen_t length = 0;
    if (!fillAddress(address, port, bound, &length))
        return fail(Status::failure(EINVAL, "\"" + address + "\" is not an IP address"));
    Socket socket(::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.isOpen()) return fail(Status::lastSystemError());
    int yes = 1;
    // Lets a restarted server take its port back while old connections linger in TIME_WAIT.
    ::setsockopt(socket.descriptor(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bound.ss_family == AF_INET6) {
        // "::" takes IPv4 clients too (they show as their plain IPv4 address); a
        // specific IPv6 address is that address only.
        int only = address == "::" ? 0 : 1;
        ::setsockopt(socket.descriptor(), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    if (::bind(socket.descriptor(), reinterpret_cast<sockaddr*>(&bound), length) != 0)
        return fail(Status::lastSystemError());
    if (!socket.setNonBlocking()) return fail(Status::lastSystemError());
    if (::listen(socket.descriptor(), backlog > 0 ? backlog : SOMAXCONN) != 0) return fail(Status::lastSystemError());
    TcpListener listener(std::move(socket));
    listener.spareDescriptor_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    return listener;
}

std::optional<TcpListener> TcpListener::openInRange(const std::string& address, PortRange range, int backlog,
                                                    std::uint32_t startIndex) {
    if (range.first == 0 || range.first > range.last) return std::nullopt;
    const std::uint32_t size = std::uint32_t{range.last} - range.first + 1;
    for (std::uint32_t i = 0; i < size; ++i) {
        const auto port = static_cast<std::uint16_t>(range.first + (startIndex + i) % size);
        if (auto listener = open(address, port, backlog)) return listener;
        if (errno != EADDRINUSE) return std::nullopt;  // not a matter of this port
    }
    return std::nullopt;
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
    return waitAnyReadable(sockets, count, timeoutMs, -1);
}

int waitAnyReadable(Socket* const* sockets, int count, int timeoutMs, int wakeDescriptor) {
    pollfd fds[9];
    if (count > 8) return -2;
    for (int i = 0; i < count; ++i) fds[i] = pollfd{sockets[i]->descriptor(), POLLIN, 0};
    // A negative descriptor is passed over by poll.
    fds[count] = pollfd{wakeDescriptor, POLLIN, 0};
    int r = ::poll(fds, static_cast<nfds_t>(count + 1), timeoutMs);
    if (r < 0) return errno == EINTR ? -1 : -2;
    if (r == 0) return -1;
    if (fds[count].revents & POLLIN) return count;
    for (int i = 0; i < count; ++i)
        if (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) return i;
    return -1;
}

}  // namespace corvel
