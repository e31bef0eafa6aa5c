// A layer a socket's bytes pass through once it is attached (TLS): the socket's
// receive, send and waits go through it, so everything written for plain sockets
// (replies, sendAll, transfers, the web reader) works on protected connections too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/IoResult.h"

namespace corvel {

// Owned by the socket it is attached to; used by that socket's thread only.
class StreamLayer {
public:
    virtual ~StreamLayer() = default;

    // As Socket::receive and Socket::send; WouldBlock says to wait (see wantsWrite).
    virtual IoResult receive(int fd, void* buffer, std::size_t length) = 0;
    virtual IoResult send(int fd, const void* buffer, std::size_t length) = 0;
    // Bytes received and decoded already, so a wait for readability must not sleep.
    virtual bool hasPendingInput() const = 0;
    // What the last WouldBlock waits for before the layer can go on: the socket writable, or
    // readable (a write may have to read first, and a read to write); neither when
    // the last call did not stop for want of either.
    virtual bool wantsWrite() const = 0;
    virtual bool wantsRead() const = 0;
    // Sends count bytes of the file from offset without copying them through the
    // program when the kernel can (kernel TLS): Ok with the bytes sent (0 at the end
    // of the file), WouldBlock, Failed; nullopt when it is not possible here (the
    // caller then sends through send()).
    virtual std::optional<IoResult> sendFile(int fd, int fileFd, std::int64_t offset, std::size_t count) = 0;
    // Says goodbye to the peer, best effort and without waiting, before the close.
    virtual void shutdown(int fd) = 0;
};

}  // namespace corvel
