#include "accounts/LiveSessions.h"

#include "platform/SocketShutdown.h"
#include "platform/SocketTraffic.h"

namespace corvel {

LiveSessions::Entry::Entry(Key, LiveSessions& table, std::uint64_t id, SessionProtocol protocol, std::string address,
                           UniqueFd connection)
    : table_(table),
      id_(id),
      protocol_(protocol),
      address_(std::move(address)),
      since_(std::time(nullptr)),
      connection_(std::move(connection)) {}

LiveSessions::Entry::~Entry() { table_.remove(this); }

void LiveSessions::Entry::setUser(const std::string& user) {
    MutexLock lock(table_.mutex_);
    user_ = user;
}

void LiveSessions::Entry::transferStarted(const Socket& data) {
    UniqueFd handle = duplicateSocketHandle(data);
    MutexLock lock(table_.mutex_);
    transfer_ = std::move(handle);
}

void LiveSessions::Entry::transferEnded(std::uint64_t bytes) {
    UniqueFd done;
    MutexLock lock(table_.mutex_);
    done = std::move(transfer_);  // closed after the lock is let go
    finishedBytes_ += bytes;
}

std::unique_ptr<LiveSessions::Entry> LiveSessions::join(SessionProtocol protocol, std::string address,
                                                        const Socket& connection) {
    UniqueFd handle = duplicateSocketHandle(connection);
    MutexLock lock(mutex_);
    auto entry =
        std::make_unique<Entry>(Entry::Key{}, *this, ++lastId_, protocol, std::move(address), std::move(handle));
    entries_.emplace(entry->id_, entry.get());
    return entry;
}

void LiveSessions::remove(const Entry* entry) {
    MutexLock lock(mutex_);
    entries_.erase(entry->id_);
}

std::vector<LiveSessionRow> LiveSessions::rows() const {
    MutexLock lock(mutex_);
    std::vector<LiveSessionRow> rows;
    rows.reserve(entries_.size());
    for (const auto& [id, entry] : entries_) {
        LiveSessionRow row{id, entry->protocol_, entry->user_, entry->address_, entry->since_, entry->finishedBytes_};
        const int live = entry->protocol_ == SessionProtocol::Ftp ? entry->transfer_.get() : entry->connection_.get();
        if (live >= 0) {
            const SocketTraffic traffic = trafficOfDescriptor(live);
            row.bytes += traffic.sentAcknowledged + traffic.received;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void LiveSessions::shutDown(Entry& entry) {
    (void)shutdownBothWays(entry.connection_);
    if (entry.transfer_.isOpen()) (void)shutdownBothWays(entry.transfer_);
}

std::size_t LiveSessions::kick(std::uint64_t id) {
    MutexLock lock(mutex_);
    const auto found = entries_.find(id);
    if (found == entries_.end()) return 0;
    shutDown(*found->second);
    return 1;
}

std::size_t LiveSessions::kickUser(const std::string& user) {
    MutexLock lock(mutex_);
    std::size_t count = 0;
    for (const auto& [id, entry] : entries_) {
        if (entry->user_ != user) continue;
        shutDown(*entry);
        ++count;
    }
    return count;
}

}  // namespace corvel
