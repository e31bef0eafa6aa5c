// The IP access policy of ftpaccess.xml: a reject or permit list of address
// patterns with '*' and '?', asked once per FTP connection.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvel {

// Thread-safe: isAllowed reads an immutable snapshot that load/reload replace whole.
class AccessPolicy {
public:
    explicit AccessPolicy(std::string programDirectory);

    void load();
    void reload() { load(); }

    bool isAllowed(const std::string& dottedAddress) const;
    bool permitMode() const;
    std::vector<std::string> patterns() const;

private:
    struct Snapshot {
        bool permitMode = false;
        std::vector<std::string> patterns;
    };
    std::shared_ptr<const Snapshot> snapshot() const;

    std::string programDirectory_;
    mutable std::mutex snapshotMutex_;
    std::shared_ptr<const Snapshot> snapshot_;
};

// '*' matches any run of characters (also empty), '?' exactly one; linear-time
// backtracking to the last '*' only.
bool matchPattern(const std::string& pattern, const std::string& text);

}  // namespace corvel
