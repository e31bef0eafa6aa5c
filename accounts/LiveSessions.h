// Every live FTP and SFTP session and web connection of a run, as `corvelctl sessions` lists
// them (protocol, account, address, since when, bytes), and closing them from the
// listener's thread for `corvelctl kick`.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "common/ThreadSafety.h"

namespace corvel {

class Socket;

enum class SessionProtocol : std::uint8_t { Ftp = 1, Web = 2, Sftp = 3 };

struct LiveSessionRow {
    std::uint64_t id = 0;
    SessionProtocol protocol = SessionProtocol::Ftp;
    std::string user;     // empty until it logged in
    std::string address;  // the client's
    std::time_t since = 0;
    std::uint64_t bytes = 0;
};

// Thread-safe.
class LiveSessions {
public:
    // One session's row, given back when it is destroyed. It holds second descriptors
    // of its connections, so closing them from another thread never hits a number
    // the system has given away since. Used by its session's thread.
    class Entry {
        struct Key {
            explicit Key() = default;
        };

    public:
        Entry(Key, LiveSessions& table, std::uint64_t id, SessionProtocol protocol, std::string address,
              UniqueFd connection);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        std::uint64_t id() const { return id_; }
        // The account it logged in as.
        void setUser(const std::string& user);
        // An FTP transfer on data runs: its bytes count while it runs, and a kick
        // closes it too.
        void transferStarted(const Socket& data);
        // It ended, having moved bytes (which count from now on).
        void transferEnded(std::uint64_t bytes);

    private:
        friend class LiveSessions;
        LiveSessions& table_;
        const std::uint64_t id_;
        const SessionProtocol protocol_;
        const std::string address_;
        const std::time_t since_;
        // Guarded by table_.mutex_:
        std::string user_;
        UniqueFd connection_;
        UniqueFd transfer_;
        std::uint64_t finishedBytes_ = 0;
    };

    // Ids count from 1 and are never given twice in a run.
    std::unique_ptr<Entry> join(SessionProtocol protocol, std::string address, const Socket& connection);

    // The live sessions by id. Bytes: of the finished FTP transfers and the one that
    // runs, as its connection counts them; of a web connection or an SFTP session,
    // what its connection carried.
    std::vector<LiveSessionRow> rows() const;

    // Shuts the connections of the session with that id (or of every session of that
    // account) down: each sees its connections end at once and ends. How many.
    std::size_t kick(std::uint64_t id);
    std::size_t kickUser(const std::string& user);

private:
    void remove(const Entry* entry);
    static void shutDown(Entry& entry);

    mutable Mutex mutex_;
    std::map<std::uint64_t, Entry*> entries_ GUARDED_BY(mutex_);
    std::uint64_t lastId_ GUARDED_BY(mutex_) = 0;
};

}  // namespace corvel
