#include "files/TransferLog.h"

#include "platform/SystemLog.h"

namespace corvel {

Status TransferLog::open(const std::string& path) {
    Status failure;
    std::optional<AppendFile> file = AppendFile::open(path, &failure);
    MutexLock guard(mutex_);
    path_ = path;
    file_ = file ? std::make_shared<const AppendFile>(std::move(*file)) : nullptr;
    return failure;
}

Status TransferLog::reopen() {
    if (!enabled()) return Status();
    Status failure;
    std::optional<AppendFile> file = AppendFile::open(path_, &failure);
    if (!file) return failure;
    auto fresh = std::make_shared<const AppendFile>(std::move(*file));
    MutexLock guard(mutex_);
    // Sessions writing to the old file finish their line there; the old descriptor
    // closes with the last of them.
    file_ = std::move(fresh);
    return Status();
}

bool TransferLog::enabled() const { return current() != nullptr; }

std::shared_ptr<const AppendFile> TransferLog::current() const {
    MutexLock guard(mutex_);
    return file_;
}

void TransferLog::record(const TransferRecord& record) {
    const std::shared_ptr<const AppendFile> file = current();
    if (!file) return;
    const Status written = file->append(xferlogLine(record));
    if (written.ok()) {
        failing_ = false;
        return;
    }
    if (!failing_.exchange(true) && log_)
        log_->write(LogSeverity::Error, "cannot write the transfer log " + path_ + ": " + written.text());
}

}  // namespace corvel
