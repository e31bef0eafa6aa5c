// Test support: a scratch directory per test and a connected pair of sockets.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/socket.h>
#include <unistd.h>

#include "platform/Socket.h"

namespace corvel::testing {

// A fixture whose test gets a fresh directory under /tmp, removed afterwards.
class ScratchDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvel-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const std::string& content) const {
        std::ofstream(path(name), std::ios::binary) << content;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    std::string dir_;
};

// Two connected stream sockets; the test owns both ends.
struct SocketPair {
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            near = Socket(fds[0]);
            far = Socket(fds[1]);
        }
    }
    Socket near;
    Socket far;
};

// Everything the socket receives until the peer closes it.
inline std::string readAll(Socket& socket) {
    std::string all;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::recv(socket.descriptor(), buffer, sizeof buffer, 0);
        if (n <= 0) return all;
        all.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace corvel::testing
