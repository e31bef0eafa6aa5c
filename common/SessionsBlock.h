// Byte layout of the sessions block, where the server lists its live sessions for
// corvelctl and corvelctl names the sessions to close. The server fills it when a
// control word bit asks for it; all numbers little-endian.
//   0  u32  records that follow
//   4  u32  1 when there were more sessions than records
//   8  u64  kick: the session id, or 0 for every session of the account below
//  16  96   kick: the account, NUL-terminated
// 112  u32  kick answer: how many sessions were closed
// 128       records of kSessionRecordBytes:
//      u64 id, u8 protocol (1 ftp, 2 web, 3 sftp), 7 zero bytes, i64 since (seconds since
//      1970 UTC), u64 bytes, 64 address, 96 account (both NUL-terminated, cut to fit)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvel {

constexpr std::size_t kSessionRecordBytes = 192;
constexpr std::size_t kSessionRecords = 1024;
constexpr std::size_t kSessionsHeaderBytes = 128;
constexpr std::size_t kSessionsBlockSize = kSessionsHeaderBytes + kSessionRecords * kSessionRecordBytes;
// Longest account name the block holds whole (one byte stays for the terminator).
constexpr std::size_t kSessionUserBytes = 95;
constexpr std::size_t kSessionAddressBytes = 63;

struct SessionRecord {
    std::uint64_t id = 0;
    std::uint8_t protocol = 0;
    std::int64_t since = 0;
    std::uint64_t bytes = 0;
    std::string address;
    std::string user;
};

struct SessionList {
    std::vector<SessionRecord> records;
    bool truncated = false;
};

// Writes the list (the first kSessionRecords of it) into a block of kSessionsBlockSize.
void encodeSessionList(const std::vector<SessionRecord>& records, std::uint8_t* block);
SessionList decodeSessionList(const std::uint8_t* block);

struct KickRequest {
    std::uint64_t id = 0;  // 0: every session of user
    std::string user;      // at most kSessionUserBytes
};
void encodeKickRequest(const KickRequest& request, std::uint8_t* block);
KickRequest decodeKickRequest(const std::uint8_t* block);
void encodeKickAnswer(std::uint32_t closed, std::uint8_t* block);
std::uint32_t decodeKickAnswer(const std::uint8_t* block);

}  // namespace corvel
