// What the whole corveld process shares between its listener and its connection
// threads: the log, the account tables, the live counts and the login guard.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "accounts/AccessPolicy.h"
#include "accounts/BanList.h"
#include "accounts/LiveSessions.h"
#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "files/TransferLog.h"
#include "server/SessionRegistry.h"
#include "platform/SystemLog.h"
#include "server/AddressSlots.h"
#include "server/ThreadPark.h"
#include "common/XmlFiles.h"
#include "web/ShareStore.h"
#include "web/WebSessions.h"

namespace corvel {

// Built once by the entry function and held in a std::shared_ptr that every
// connection thread keeps a copy of: threads are never joined, so whatever they read
// must outlive them, even after run() and the entry function have returned.
// Thread-safe: the tables and the log are, the counts are atomic.
struct ProcessContext {
    // programDirectory ends with '/'. Nothing is loaded yet.
    explicit ProcessContext(std::string directory)
        : programDirectory(std::move(directory)),
          users(programDirectory, &log),
          policy(programDirectory, &log),
          bans(&log),
          logins(&log, kFailedLoginDelay, &bans),
          shares(programDirectory + kSharesFileName),
          transferLog(&log) {}
    ProcessContext(const ProcessContext&) = delete;
    ProcessContext& operator=(const ProcessContext&) = delete;

    const std::string programDirectory;
    SystemLogSink log;
    UserTable users;
    AccessPolicy policy;
    // Live FTP sessions, as the status block publishes them; web connections apart.
    std::atomic<int> activeFtpConnections{0};
    std::atomic<int> activeWebConnections{0};
    std::atomic<int> activeSends{0};  // FTP and web downloads sending right now (CrowdedSend)
    BanList bans;              // configured by each run from its settings
    SessionRegistry sessions;  // the live FTP sessions by address
    // The live web connections by client address (<webmaxperip>).
    const std::shared_ptr<AddressSlots> webSlots = std::make_shared<AddressSlots>();
    LoginGuard logins;
    // The web client's signed-in browsers (<webapp>yes); kept across reloads.
    WebSessions webSessions;
    // The web client's share links, read anew at each use, and the visitors who
    // gave a link's password.
    ShareStore shares;
    WebSessions shareVisits;
    TransferLog transferLog;  // <xferlog>; off without it
    LiveSessions liveSessions;  // every FTP session and web connection, for corvelctl sessions and kick
    ThreadPark threads;         // every connection's thread: FTP, SFTP and web
};

}  // namespace corvel
