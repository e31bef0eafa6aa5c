// The signed-in browsers of the web client: one entry per session cookie, with the
// account it belongs to, the token its changing requests must carry, and when it
// was last used. Shared by every web connection of a server run; thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include "common/ThreadSafety.h"

namespace corvel {

// A session unused this long is gone; the next request signs in again.
constexpr std::chrono::minutes kWebSessionIdleLimit{30};
// Sessions held at once. Past it the least recently used goes, so signing in again
// and again can neither exhaust memory nor push out more than the oldest.
constexpr std::size_t kMaxWebSessions = 4096;
// Random bytes of a session's cookie and of its token (256 bits each, hex-written).
constexpr std::size_t kWebSecretBytes = 32;

struct WebSession {
    std::string user;
    std::string csrfToken;  // what every changing request of this session must send
    // What the account's stored password was at the sign-in; a session whose
    // account has another one now (its password was changed) is over.
    std::string passwordStamp;
};

// A clock passed in by the callers, so tests move time without waiting.
using WebClock = std::chrono::steady_clock;

class WebSessions {
public:
    explicit WebSessions(std::chrono::seconds idleLimit = kWebSessionIdleLimit, std::size_t capacity = kMaxWebSessions)
        : idleLimit_(idleLimit), capacity_(capacity) {}
    WebSessions(const WebSessions&) = delete;
    WebSessions& operator=(const WebSessions&) = delete;

    // A new session for user; its cookie value, or nullopt when the system gave no
    // random bytes (then nobody signs in: a guessable cookie is worse).
    std::optional<std::string> open(const std::string& user, WebClock::time_point now,
                                    std::string passwordStamp = {});
    // The session of a cookie value, its idle time restarted; nullopt when the
    // cookie is unknown or the session was idle past the limit (it is dropped then).
    std::optional<WebSession> use(std::string_view cookie, WebClock::time_point now);
    // Ends the session of a cookie value (a sign-out); unknown cookies are ignored.
    void close(std::string_view cookie);
    // Ends every session of user (a changed password, a removed account).
    void closeAllOf(std::string_view user);
    std::size_t size() const;

private:
    struct Entry {
        WebSession session;
        WebClock::time_point lastUse;
    };
    void dropIdle(WebClock::time_point now) REQUIRES(mutex_);

    const std::chrono::seconds idleLimit_;
    const std::size_t capacity_;
    mutable Mutex mutex_;
    std::map<std::string, Entry, std::less<>> sessions_ GUARDED_BY(mutex_);
};

// kWebSecretBytes from the system's generator, hex-written; nullopt without them.
std::optional<std::string> newWebSecret();

// a == b in a time that does not depend on where they differ, for secrets the
// client sends.
bool equalSecrets(std::string_view a, std::string_view b);

}  // namespace corvel
