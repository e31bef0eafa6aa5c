// One line of the transfer log in the xferlog format of wu-ftpd, which vsftpd,
// ProFTPD and Pure-FTPd write too and log analysers read:
//   current-time transfer-time remote-host file-size filename transfer-type
//   special-action-flag direction access-mode username service-name
//   authentication-method authenticated-user-id completion-status
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace corvel {

// The service-name field: ftp, http (the web browser) or sftp.
enum class TransferService { Ftp, Web, Sftp };

struct TransferRecord {
    std::time_t finished = 0;  // when the transfer ended
    std::int64_t seconds = 0;  // how long it took (whole seconds, at least 1 is written)
    std::string remoteHost;    // the client's address
    std::uint64_t bytes = 0;   // bytes of the file moved
    std::string fileName;      // the file's local path
    bool binary = true;        // transfer type: b (image) or a (ASCII)
    bool outgoing = true;      // direction: o (to the client) or i (from it)
    bool anonymous = false;    // access mode: a (anonymous) or r (real account)
    std::string user;          // the account name
    TransferService service = TransferService::Ftp;
    bool complete = true;      // completion status: c, or i when it broke off
};

// The fields' own text, escaped so that it is one field of one line: every byte at
// or below the blank, DEL and '\' are written as \xHH; empty text is "-".
std::string xferlogField(std::string_view text);

// The record's line (with its '\n'), the time in the local time zone as ctime
// writes it ("Wed Dec  9 18:37:27 2026").
std::string xferlogLine(const TransferRecord& record);

}  // namespace corvel
