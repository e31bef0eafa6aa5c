// The encoding of SFTP version 3 packets: big-endian integers and length-prefixed
// strings, read from one packet's bytes and written into a reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel::sftp {

// Packet types and status codes of version 3, as OpenSSH speaks it.
enum PacketType : std::uint8_t {
    kInit = 1,
    kVersion = 2,
    kOpen = 3,
    kClose = 4,
    kRead = 5,
    kWrite = 6,
    kLstat = 7,
    kFstat = 8,
    kSetstat = 9,
    kFsetstat = 10,
    kOpendir = 11,
    kReaddir = 12,
    kRemove = 13,
    kMkdir = 14,
    kRmdir = 15,
    kRealpath = 16,
    kStat = 17,
    kRename = 18,
    kReadlink = 19,
    kSymlink = 20,
    kStatus = 101,
    kHandle = 102,
    kData = 103,
    kName = 104,
    kAttrs = 105,
    kExtended = 200,
    kExtendedReply = 201,
};

enum class StatusCode : std::uint32_t {
    Ok = 0,
    Eof = 1,
    NoSuchFile = 2,
    PermissionDenied = 3,
    Failure = 4,
    BadMessage = 5,
    NoConnection = 6,
    ConnectionLost = 7,
    OpUnsupported = 8,
};

// Attribute flags and open flags.
constexpr std::uint32_t kAttrSize = 0x1;
constexpr std::uint32_t kAttrUidGid = 0x2;
constexpr std::uint32_t kAttrPermissions = 0x4;
constexpr std::uint32_t kAttrTimes = 0x8;
constexpr std::uint32_t kAttrExtended = 0x80000000u;
constexpr std::uint32_t kOpenRead = 0x1;
constexpr std::uint32_t kOpenWrite = 0x2;
constexpr std::uint32_t kOpenAppend = 0x4;
constexpr std::uint32_t kOpenCreate = 0x8;
constexpr std::uint32_t kOpenTruncate = 0x10;
constexpr std::uint32_t kOpenExclusive = 0x20;

// The attributes a packet carries; each field counts only when its flag is set.
struct Attributes {
    std::uint32_t flags = 0;
    std::uint64_t size = 0;
    std::uint32_t permissions = 0;  // with the file type bits (0100000 file, 0040000 folder)
    std::uint32_t accessTime = 0;
    std::uint32_t modificationTime = 0;
};

// Writes value big-endian into the four bytes of text from at (which must be there).
void putU32(std::string& text, std::size_t at, std::uint32_t value);

// Reads one packet's fields in order. Any read past the end fails, and so does
// every read after it, so a handler checks ok() once after taking its fields.
class WireReader {
public:
    explicit WireReader(std::string_view bytes) : bytes_(bytes) {}
    std::uint8_t byte();
    std::uint32_t u32();
    std::uint64_t u64();
    std::string_view string();
    Attributes attributes();
    bool ok() const { return ok_; }

private:
    bool take(std::size_t count);
    std::string_view bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// Builds one reply packet, its length in front once finish() is called.
class WireWriter {
public:
    explicit WireWriter(std::uint8_t type);
    WireWriter& byte(std::uint8_t value);
    WireWriter& u32(std::uint32_t value);
    WireWriter& u64(std::uint64_t value);
    WireWriter& string(std::string_view value);
    WireWriter& attributes(const Attributes& value);
    // The packet with its length; the writer is empty afterwards.
    std::string finish();

private:
    std::string bytes_;
};

// Cuts a channel's byte stream into packets (without their length field). A packet
// longer than kMaxPacketBytes, or an empty one, makes the stream unusable: broken().
class PacketFramer {
public:
    static constexpr std::size_t kMaxPacketBytes = 256 * 1024 + 1024;
    void append(std::string_view bytes) { buffer_.append(bytes); }
    // The next whole packet, or nullopt until more bytes came (or when broken).
    std::optional<std::string> next();
    bool broken() const { return broken_; }

private:
    std::string buffer_;
    std::size_t consumed_ = 0;
    bool broken_ = false;
};

}  // namespace corvel::sftp
