#include "sftp/SftpStatus.h"

namespace corvel::sftp {

StatusCode statusOf(FileStatus status) {
    switch (status) {
        case FileStatus::Ok:
            return StatusCode::Ok;
        case FileStatus::NoRight:
        case FileStatus::Escaped:
            return StatusCode::PermissionDenied;
        case FileStatus::InvalidPath:
        case FileStatus::NotFound:
            return StatusCode::NoSuchFile;
        case FileStatus::WrongKind:
        case FileStatus::Exists:
        case FileStatus::Refused:
        case FileStatus::BeyondEnd:
            return StatusCode::Failure;
    }
    return StatusCode::Failure;
}

std::string_view textOf(StatusCode code) {
    switch (code) {
        case StatusCode::Ok:
            return "Success";
        case StatusCode::Eof:
            return "End of file";
        case StatusCode::NoSuchFile:
            return "No such file or directory";
        case StatusCode::PermissionDenied:
            return "Permission denied";
        case StatusCode::Failure:
            return "Failure";
        case StatusCode::BadMessage:
            return "Bad message";
        case StatusCode::NoConnection:
            return "No connection";
        case StatusCode::ConnectionLost:
            return "Connection lost";
        case StatusCode::OpUnsupported:
            return "Operation unsupported";
    }
    return "Failure";
}

}  // namespace corvel::sftp
