// The IP access policy of ftpaccess.xml: a reject or permit list of address
// patterns with '*' and '?', asked once per FTP connection.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/ThreadSafety.h"

namespace corvel {

class LogSink;

// Thread-safe: isAllowed reads an immutable snapshot that load/reload replace whole.
class AccessPolicy {
public:
    // Problems with the file are written to log when one is given.
    explicit AccessPolicy(std::string programDirectory, LogSink* log = nullptr);

    // The start-up load: a file that cannot be loaded is kept as ftpaccess.xml.broken
    // (said so in the log) and the default document (reject nothing) replaces it.
    void load();
    // A reload on request: a file that is missing or cannot be read keeps the policy
    // already loaded and is left as it is (said so in the log), so a damaged permit
    // list never opens the server to everybody.
    void reload();

    bool isAllowed(const std::string& dottedAddress) const;
    bool permitMode() const;
    std::vector<std::string> patterns() const;

private:
    struct Snapshot {
        bool permitMode = false;
        std::vector<std::string> patterns;
    };
    enum class LoadMode { Start, Reload };
    void loadFile(LoadMode mode);
    std::shared_ptr<const Snapshot> snapshot() const;

    std::string programDirectory_;
    LogSink* log_;
    mutable Mutex snapshotMutex_;
    std::shared_ptr<const Snapshot> snapshot_ GUARDED_BY(snapshotMutex_);
};

// '*' matches any run of characters (also empty), '?' exactly one; linear-time
// backtracking to the last '*' only.
bool matchPattern(const std::string& pattern, const std::string& text);

}  // namespace corvel
