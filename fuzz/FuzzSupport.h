// Shared pieces of the fuzz targets: a scratch program directory, small file
// helpers, and a socket pair whose far end is fed and drained by a helper thread.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/Socket.h"
#include "platform/SocketShutdown.h"

namespace corvel::fuzzing {

// Aborts with a message: an invariant the target checks did not hold. libFuzzer
// reports the abort as a crash and keeps the input.
[[noreturn]] inline void invariantFailed(const char* what) {
    std::fprintf(stderr, "fuzz invariant failed: %s\n", what);
    std::abort();
}

inline void check(bool condition, const char* what) {
    if (!condition) invariantFailed(what);
}

// A temporary program directory (ending in '/') with its own runtime directory for
// the named objects; removed again when the process exits normally. One per target,
// created on first use; the fuzz target's thread is the only user. Below $TMPDIR,
// else /dev/shm, else /tmp.
class ScratchDirectory {
public:
    ScratchDirectory() {
        // A memory file system when there is one: the targets create and remove a
        // small tree per input, which costs several times more on a disk.
        const char* base = std::getenv("TMPDIR");
        std::error_code ignored;
        std::string root = base && *base ? base : std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : "/tmp";
        std::string pattern = root + "/corvel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) invariantFailed("cannot create a scratch directory");
        path_ = pattern;
        std::filesystem::create_directory(path_ + "/run", ignored);
        setenv("CORVELFTP_RUNTIME_DIR", (path_ + "/run").c_str(), 1);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    // The directory with a trailing '/', as the tables expect it.
    std::string directory() const { return path_ + "/"; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The scratch program directory of the XML-file targets, one per fuzzing process.
inline ScratchDirectory& fileTargetDirectory() {
    static ScratchDirectory instance;
    return instance;
}

// Writes the input as the program directory's file name and removes the ".broken"
// copy an earlier input may have left, so every input starts alike.
inline void placeInput(const ScratchDirectory& dir, std::string_view name, std::string_view input) {
    std::error_code ignored;
    std::filesystem::remove(dir.file(std::string(name) + ".broken"), ignored);
    writeFile(dir.file(name), input);
}

// Empties path (a directory) and fills it again with a fixed small tree: two files,
// a nested file, an empty folder, a folder whose name needs escaping, and a symlink
// to a sibling folder outside the tree (recreated too), so every run starts alike.
inline void resetTree(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::remove_all(path, ignored);
    fs::remove_all(path + ".outside", ignored);
    fs::create_directories(path + "/sub/deeper", ignored);
    fs::create_directory(path + "/empty", ignored);
    fs::create_directory(path + "/odd & <name> \"q\" 'a' %41+", ignored);
    fs::create_directory(path + ".outside", ignored);
    writeFile(path + "/a.txt", "hello\r\nworld\n");
    writeFile(path + "/sub/b.bin", std::string_view("\0\1\2\3\xff", 5));
    writeFile(path + "/sub/deeper/page.html", "<html>x</html>");
    writeFile(path + ".outside/secret.txt", "outside");
    fs::create_directory_symlink(path + ".outside", path + "/link", ignored);
}

// Replaces every "port" (any case) by "p0rt": a PORT command would connect to the
// peer's address, which a socket pair reports as 0.0.0.0, that is to this host.
inline std::string neutralisePort(std::string text) {
    for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
        if ((text[i] | 0x20) == 'p' && (text[i + 1] | 0x20) == 'o' && (text[i + 2] | 0x20) == 'r' &&
            (text[i + 3] | 0x20) == 't')
            text[i + 1] = '0';
    }
    return text;
}

// A connected AF_UNIX stream pair. The server end is handed to the code under test;
// a helper thread writes the input into the client end, half-closes it, and reads
// (and drops) everything the server sends until the server end is closed, so the
// server never blocks on a full buffer. The input must fit in the socket buffer
// (kMaxInputBytes) so the writer never waits for the reader.
class FedSocketPair {
public:
    // Inputs above this are skipped by the targets: the feeder writes before it reads.
    static constexpr std::size_t kMaxInputBytes = 64 * 1024;

    explicit FedSocketPair(std::string input);
    // The server end must be closed (or moved out and closed) before this runs, or
    // the feeder waits for the end of the stream forever.
    ~FedSocketPair() {
        server_.close();
        if (feeder_.joinable()) feeder_.join();
    }
    FedSocketPair(const FedSocketPair&) = delete;
    FedSocketPair& operator=(const FedSocketPair&) = delete;

    Socket takeServer() { return std::move(server_); }
    Socket& server() { return server_; }
    // Bytes the server sent; valid after the destructor's join, so read it via finish().
    std::size_t finish() {
        server_.close();
        if (feeder_.joinable()) feeder_.join();
        return received_;
    }

private:
    void feed(const std::string& text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const IoResult r = client_.send(text.data() + sent, text.size() - sent);
            if (!r.ok() || r.bytes == 0) break;  // the server closed early
            sent += r.bytes;
        }
        (void)shutdownSending(client_);
        char sink[16384];
        for (;;) {
            const IoResult r = client_.receive(sink, sizeof sink);
            if (!r.ok()) break;
            received_ += r.bytes;
        }
        client_.close();
    }

    Socket server_;
    Socket client_;
    std::size_t received_ = 0;
    std::thread feeder_;
};

}  // namespace corvel::fuzzing
