// RAII TCP sockets (IPv4 and IPv6) with the bounded readiness waits and the whole-buffer
// writer that the FTP session and the web browser share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/IoResult.h"
#include "platform/Status.h"
#include "platform/StreamLayer.h"
#include "platform/TransferInterrupt.h"
#include "platform/UniqueFd.h"

namespace corvel {

// One readiness wait is one second; a connection idle this many waits in a row ends.
constexpr int kWaitStepMs = 1000;
constexpr int kIdleLimitSeconds = 120;

enum class WaitResult { Ready, TimedOut, Failed };

// A socket's limit of unsent bytes that means "the system's default" (which is none
// unless net.ipv4.tcp_notsent_lowat says otherwise).
constexpr int kKernelUnsentLimit = 0;

// What a TCP connection carried, as the kernel counts it: bytes the peer acknowledged
// and bytes received (a TLS layer's own bytes included).
struct SocketTraffic {
    std::uint64_t sentAcknowledged = 0;
    std::uint64_t received = 0;
};

// Owns one socket descriptor. Movable, not copyable; moving or closing leaves the
// source marked closed, and a closed socket is never used again. Owned by one thread.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : fd_(other.fd_), layer_(std::move(other.layer_)) { other.fd_ = -1; }
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Closes the descriptor (after the layer's goodbye, when one is attached).
    void close();
    // What the connection last closed through this object carried (zero before any
    // close, and for descriptors that are no TCP connection): a transfer that broke
    // off tells from it how far it came.
    SocketTraffic trafficAtClose() const { return trafficAtClose_; }

    // From now on every byte passes through layer (TLS once its handshake is done).
    void attachLayer(std::unique_ptr<StreamLayer> layer) { layer_ = std::move(layer); }
    StreamLayer* layer() const { return layer_.get(); }
    // For the platform layer only (poll sets, sendfile).
    int descriptor() const { return fd_; }
    // Hands the descriptor to a new owner that closes it itself (a library that
    // takes connections by descriptor); this socket is closed afterwards.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        layer_.reset();
        return fd;
    }

    bool setNonBlocking();
    // Keeps urgent (out-of-band) bytes in the ordinary stream: an FTP client sends
    // the end of its ABOR line, or the Telnet Synch before it, as urgent data.
    bool keepUrgentDataInline();
    // Lets TCP hold at most bytes that it has not sent yet (TCP_NOTSENT_LOWAT); what
    // is in flight still grows with the window. Sends wait for the rest to go.
    // kKernelUnsentLimit gives the socket the system's default again.
    bool limitUnsentBytes(int bytes);

    // While set, every wait also watches interrupt, and sends, receives and the file
    // transfers check it every few steps: a stop it asks for fails them as a broken
    // connection would. It belongs to this object, not to the connection it holds:
    // a socket moved in keeps it, a socket moved out does not take it. nullptr clears.
    void watchInterrupt(TransferInterrupt* interrupt) { interrupt_ = interrupt; }
    // Whether the interrupt asks for a stop now; looks only every few calls, so a
    // transfer may call it after every step.
    bool interrupted();

    WaitResult waitReadable(int timeoutMs) const;
    WaitResult waitWritable(int timeoutMs) const;

    // Ok with the bytes read (at least 1), Closed when the peer ended the stream,
    // WouldBlock when nothing is there now, Failed.
    IoResult receive(void* buffer, std::size_t length);
    // Ok with the bytes written, WouldBlock, Failed.
    IoResult send(const void* buffer, std::size_t length);

    // Text of the peer's / this end's address: dotted IPv4, or IPv6 in lower case (an
    // IPv4 client of a dual-stack listener as plain IPv4); empty when unknown.
    std::string peerAddress() const;
    std::string localAddress() const;
    std::uint16_t localPort() const;

    // Starts a non-blocking connect to address:port (IPv4 or IPv6 text; the socket is
    // remade for an IPv6 address). false when it failed at once.
    bool startConnect(const std::string& address, std::uint16_t port);
    // After waitWritable reported Ready: true when the connection was established.
    bool connectSucceeded() const;

    static Socket createTcp();

private:
    WaitResult waitFor(short events, int timeoutMs) const;

    WaitResult waitWithInterrupt(short events, int timeoutMs) const;
    bool interruptAsksToStop() const;

    int fd_ = -1;
    std::unique_ptr<StreamLayer> layer_;
    TransferInterrupt* interrupt_ = nullptr;
    unsigned stepsSinceInterruptLook_ = 0;
    SocketTraffic trafficAtClose_;
};

// Writes the whole buffer, waiting for writability in one-second steps. After
// kIdleLimitSeconds idle waits in a row, a failed wait or a failed send the socket
// is closed and -1 returned; otherwise the length. An empty buffer returns 0.
long sendAll(Socket& socket, const char* data, std::size_t length);
inline long sendAll(Socket& socket, const std::string& text) { return sendAll(socket, text.data(), text.size()); }

// An inclusive range of TCP ports.
struct PortRange {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    bool operator==(const PortRange&) const = default;
};

// A listening TCP socket.
class TcpListener {
public:
    // As open, on the first port of the range that is free, trying them in order
    // from first + startIndex (modulo the range's size) round to the one before it.
    // nullopt when every port is taken.
    static std::optional<TcpListener> openInRange(const std::string& address, PortRange range, int backlog,
                                                  std::uint32_t startIndex);

    // Binds to address (empty = all IPv4 interfaces; an IPv6 literal, "::" for all
    // interfaces of both families) and port, non-blocking, listening with
    // the given backlog (<= 0: the system's maximum). nullopt on any failure, with
    // *failure (when given) saying why.
    static std::optional<TcpListener> open(const std::string& address, std::uint16_t port, int backlog,
                                           Status* failure = nullptr);

    // Accepts one pending connection (made non-blocking); a closed Socket when none.
    Socket accept();
    Socket& socket() { return socket_; }
    std::uint16_t port() const { return socket_.localPort(); }

private:
    explicit TcpListener(Socket socket) : socket_(std::move(socket)) {}
    Socket socket_;
    UniqueFd spareDescriptor_;  // given up when accept runs out of descriptors
};

// Waits until one of the sockets is readable. Returns the index of the first ready
// one, -1 on time-out, -2 on failure.
int waitAnyReadable(Socket* const* sockets, int count, int timeoutMs);
// The same, and returns count when wakeDescriptor (a WakePipe's) is readable first.
int waitAnyReadable(Socket* const* sockets, int count, int timeoutMs, int wakeDescriptor);

bool isValidIpv4(const std::string& dotted);
bool isValidIpv6(const std::string& text);
// An IPv6 address in the form peer addresses are written in (lower case, shortest);
// an IPv4-mapped one as plain IPv4. The text itself when it is no IPv6 address.
std::string canonicalIpv6(const std::string& text);
// The /64 network of an IPv6 address, written as "2001:db8:1:2::/64"; empty for
// anything else (IPv4, an IPv4-mapped address, no address).
std::string ipv6Prefix64(const std::string& text);

}  // namespace corvel
