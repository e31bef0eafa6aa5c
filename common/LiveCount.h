// One place in a count of live connections, given back when its owner ends;
// remembers how many were counted when it joined, which a connection limit compares.
// Joining and reading are one atomic step, so the count never lags behind a greeting
// already sent.
#pragma once

#include <atomic>

namespace corvel {

class LiveCount {
public:
    explicit LiveCount(std::atomic<int>& count) : count_(count), before_(count.fetch_add(1)) {}
    ~LiveCount() { count_.fetch_sub(1); }
    LiveCount(const LiveCount&) = delete;
    LiveCount& operator=(const LiveCount&) = delete;
    int before() const { return before_; }

private:
    std::atomic<int>& count_;
    int before_;
};

}  // namespace corvel
