// The transfer log of <xferlog>: one xferlog line per finished or broken-off FTP, SFTP and
// web transfer, appended by the sessions' threads, and opened again on request (a
// reload after logrotate moved the file away).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "files/XferlogLine.h"
#include "platform/AppendFile.h"
#include "platform/Status.h"
#include "common/ThreadSafety.h"

namespace corvel {

class LogSink;

// Thread-safe: record may run on any number of threads while reopen runs on another.
class TransferLog {
public:
    // Off (records nothing) until open succeeds. Problems writing are told to log.
    explicit TransferLog(LogSink* log = nullptr) : log_(log) {}

    // Opens path for appending (a new file is 0640). Off again, with the reason, when
    // it cannot be opened.
    Status open(const std::string& path);
    // Opens the same path again. When that fails the file open until now stays in use
    // and the reason is returned. Nothing happens while off.
    Status reopen();

    bool enabled() const;
    const std::string& path() const { return path_; }

    // Appends the record's line. A failed write is told to the log once, until a
    // write succeeds again, so a full disk does not flood the log.
    void record(const TransferRecord& record);

private:
    std::shared_ptr<const AppendFile> current() const;

    LogSink* log_;
    std::string path_;          // set by open, before any session records
    mutable Mutex mutex_;
    std::shared_ptr<const AppendFile> file_ GUARDED_BY(mutex_);  // the pointer, not the file
    std::atomic<bool> failing_{false};
};

}  // namespace corvel
