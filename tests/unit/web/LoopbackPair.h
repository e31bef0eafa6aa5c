// A connected pair of loopback sockets for the web tests, and a bounded reader of
// everything the server side sends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/Socket.h"

namespace corvel::testing {

struct LoopbackPair {
    Socket client;  // non-blocking
    Socket server;  // non-blocking, as the listener hands it over
};

inline LoopbackPair makeLoopbackPair() {
    LoopbackPair pair;
    std::optional<TcpListener> listener = TcpListener::open("127.0.0.1", 0, 4);
    if (!listener) {
        ADD_FAILURE() << "cannot listen on loopback";
        return pair;
    }
    pair.client = Socket::createTcp();
    EXPECT_TRUE(pair.client.startConnect("127.0.0.1", listener->port()));
    for (int i = 0; i < 200 && !pair.server.isOpen(); ++i) {
        pair.server = listener->accept();
        if (!pair.server.isOpen()) (void)listener->socket().waitReadable(10);
    }
    EXPECT_TRUE(pair.server.isOpen());
    EXPECT_EQ(pair.client.waitWritable(1000), WaitResult::Ready);
    return pair;
}

// Everything the peer sends until it closes, or until timeoutMs pass in silence.
inline std::string receiveUntilClosed(Socket& socket, int timeoutMs = 2000) {
    std::string out;
    char buffer[8192];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const IoResult r = socket.receive(buffer, sizeof buffer);
        if (r.ok()) {
            out.append(buffer, r.bytes);
            continue;
        }
        if (r.state != IoState::WouldBlock) break;
        (void)socket.waitReadable(20);
    }
    return out;
}

}  // namespace corvel::testing
