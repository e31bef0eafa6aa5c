// A zip archive written to a socket as it is made (libarchive's zip writer): entries
// stored as they are, without compression, with ZIP64 fields so a file or an
// archive past 4 GiB needs nothing else, and names in UTF-8. Memory stays that of
// libarchive's state and one block, whatever the archive's size. Owned by one
// thread; not copyable.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

struct archive;

namespace corvel {

class Socket;
class TransferFile;

// Bytes of a file read at once for its entry: the data goes from this buffer to the
// socket as it is (libarchive, told not to gather blocks, passes it straight on
// after its CRC), so each byte is copied once in and once out.
constexpr std::size_t kZipReadBytes = 256u << 10;

class ZipStream {
public:
    explicit ZipStream(Socket& socket);
    ~ZipStream();
    ZipStream(const ZipStream&) = delete;
    ZipStream& operator=(const ZipStream&) = delete;

    // Whether the archive could be begun and every write so far reached the socket.
    bool good() const { return good_; }
    bool addFolder(const std::string& name, std::time_t lastWrite);
    // The file's bytes from its start, exactly size() of them: a file that shrank
    // meanwhile is filled with zeros, one that grew is cut, so the entry's header,
    // written first, stays true.
    bool addFile(const std::string& name, std::time_t lastWrite, TransferFile& file);
    // Writes the central directory; good() after it says whether the whole archive went out.
    bool finish();

private:
    struct ArchiveFree {
        void operator()(archive* a) const;
    };
    Socket& socket_;
    std::unique_ptr<archive, ArchiveFree> archive_;
    std::unique_ptr<char[]> buffer_;  // kZipReadBytes, made at the first file
    bool good_ = false;
    bool finished_ = false;
};

}  // namespace corvel
