// A zip archive written to a socket as it is made: entries stored as they are,
// without compression, with ZIP64 fields so a file or an archive past 4 GiB needs
// nothing else, and names flagged UTF-8. Each file's CRC travels in a data
// descriptor after its bytes, so every byte is read once and sent as it is read.
// Memory is one read buffer and the central directory's entries (a name and a few
// numbers each), whatever the files' sizes. Owned by one thread; not copyable.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

class Socket;
class TransferFile;

// Bytes of a file read at once for its entry: they go from this buffer to the
// socket after their CRC, so each byte is copied once in and once out.
constexpr std::size_t kZipReadBytes = 256u << 10;

class ZipStream {
public:
    explicit ZipStream(Socket& socket);
    ~ZipStream() = default;
    ZipStream(const ZipStream&) = delete;
    ZipStream& operator=(const ZipStream&) = delete;

    // Whether every write so far reached the socket.
    bool good() const { return good_; }
    bool addFolder(const std::string& name, std::time_t lastWrite);
    // The file's bytes from its start, exactly size() of them: a file that shrank
    // meanwhile is filled with zeros, one that grew is cut, so the entry's header,
    // written first, stays true.
    bool addFile(const std::string& name, std::time_t lastWrite, TransferFile& file);
    // Writes the central directory; good() after it says whether the whole archive went out.
    bool finish();

private:
    // What the central directory keeps of each entry.
    struct Entry {
        std::string name;
        std::time_t lastWrite = 0;
        std::uint32_t dosTime = 0;  // lastWrite as the headers carry it, worked out once
        std::uint64_t size = 0;
        std::uint64_t offset = 0;  // of its local header, from the archive's start
        std::uint32_t crc = 0;
        bool folder = false;
    };

    bool beginEntry(const std::string& name, std::time_t lastWrite, bool folder, std::uint64_t size);
    // Headers wait in pending_ and go out with the next send, so a small entry
    // costs one send rather than three.
    bool sendPending();
    bool sendBytes(const char* data, std::size_t length);
    // Where the next byte stands in the archive: what went out and what waits.
    std::uint64_t offset() const { return flushed_ + pending_.size(); }

    Socket& socket_;
    std::vector<Entry> entries_;
    std::string pending_;
    std::unique_ptr<char[]> buffer_;  // kZipReadBytes, made at the first file
    std::uint64_t flushed_ = 0;       // bytes of the archive sent
    bool good_ = true;
    bool finished_ = false;
};

}  // namespace corvel
