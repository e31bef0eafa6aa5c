#include "accounts/AccessPolicy.h"

#include "config/AccessFile.h"
#include "common/XmlFiles.h"
#include "platform/SystemLog.h"

namespace corvel {

AccessPolicy::AccessPolicy(std::string programDirectory, LogSink* log)
    : programDirectory_(std::move(programDirectory)), log_(log), snapshot_(std::make_shared<Snapshot>()) {}

std::shared_ptr<const AccessPolicy::Snapshot> AccessPolicy::snapshot() const {
    MutexLock guard(snapshotMutex_);
    return snapshot_;
}

void AccessPolicy::load() { loadFile(LoadMode::Start); }
void AccessPolicy::reload() { loadFile(LoadMode::Reload); }

void AccessPolicy::loadFile(LoadMode mode) {
    const std::string path = programDirectory_ + kAccessFileName;
    AccessFile file = AccessFile::read(path);
    if (!file.loaded()) {
        if (mode == LoadMode::Reload) {
            // SECURITY: a permit list that cannot be read must not become "reject nothing".
            if (log_)
                log_->write(LogSeverity::Error, path + " could not be read (" + file.errorText() +
                                                    "): the access policy already loaded stays in force and the "
                                                    "file was left as it is");
            return;
        }
        std::string reason;
        XmlLoad outcome = XmlLoad::Loaded;
        file = AccessFile::readOrCreateDefault(path, &outcome, &reason);
        if (outcome == XmlLoad::ReplacedBroken && log_)
            log_->write(LogSeverity::Error, path + " could not be read (" + reason + "): kept it as " + path +
                                                ".broken and wrote the default file, which admits every address");
    }
    auto next = std::make_shared<Snapshot>();
    const AccessMode fileMode = file.mode();
    // Without a table the mode stays as it was; the list a reload emptied stays empty.
    next->permitMode = fileMode == AccessMode::NoTable ? permitMode() : fileMode == AccessMode::Permit;
    next->patterns = file.patterns();
    MutexLock guard(snapshotMutex_);
    snapshot_ = std::move(next);
}

bool AccessPolicy::isAllowed(const std::string& dottedAddress) const {
    auto policy = snapshot();
    bool matched = false;
    for (const std::string& pattern : policy->patterns) {
        if (matchPattern(pattern, dottedAddress)) {
            matched = true;
            break;
        }
    }
    return policy->permitMode ? matched : !matched;
}

bool AccessPolicy::permitMode() const { return snapshot()->permitMode; }
std::vector<std::string> AccessPolicy::patterns() const { return snapshot()->patterns; }

bool matchPattern(const std::string& pattern, const std::string& text) {
    // Two-state matcher that backtracks only to the last '*': each retry advances the
    // resume point, so the work stays linear in pattern x text at worst.
    std::size_t p = 0, t = 0;
    std::size_t starPattern = std::string::npos, resumeText = std::string::npos;
    bool starState = false;
    const std::size_t pn = pattern.size(), tn = text.size();
    for (;;) {
        if (!starState) {
            if (p == pn) {
                if (t == tn) return true;
                if (starPattern == std::string::npos || resumeText == std::string::npos) return false;
                p = starPattern;
                t = resumeText;
                starState = true;
                continue;
            }
            char c = pattern[p];
            if (c == '*') {
                starPattern = ++p;
                starState = true;
            } else if (c == '?') {
                if (t == tn) return false;
                ++p;
                ++t;
            } else {
                if (t == tn) return false;
                if (text[t] == c) {
                    ++p;
                    ++t;
                } else {
                    if (starPattern == std::string::npos || resumeText == std::string::npos) return false;
                    p = starPattern;
                    t = resumeText;
                    starState = true;
                }
            }
        } else {
            if (p == pn) return true;
            char c = pattern[p];
            if (c == '*') {
                starPattern = ++p;
            } else if (c == '?') {
                if (t == tn) return false;
                ++p;
                ++t;
            } else {
                std::size_t found = text.find(c, t);
                if (found == std::string::npos) return false;
                t = found + 1;
                ++p;
                resumeText = t;
                starState = false;
            }
        }
    }
}

}  // namespace corvel
