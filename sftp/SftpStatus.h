// What an SFTP client is told of a file service outcome: the status code of
// version 3 and its text.
#pragma once

#include <string_view>

#include "files/FileService.h"
#include "sftp/SftpWire.h"

namespace corvel::sftp {

// Version 3 has no code for "exists" or "wrong kind": those are failures, as
// OpenSSH's server answers them. SECURITY: a path above the home is denied like a
// missing right, so neither tells what lies outside.
StatusCode statusOf(FileStatus status);
// The human text sent beside a code.
std::string_view textOf(StatusCode code);

}  // namespace corvel::sftp
