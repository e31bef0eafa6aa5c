#include "server/ThreadPark.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/Thread.h"

namespace corvel {

struct ThreadPark::State {
    State(std::size_t max, std::chrono::milliseconds wait) : maxParked(max), parkedFor(wait) {}

    const std::size_t maxParked;
    const std::chrono::milliseconds parkedFor;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable lastOneLeft;  // a parked thread left a closed park
    // Bodies handed to parked threads and not taken yet; never more than are parked.
    std::deque<std::function<void()>> handed;
    std::size_t parked = 0;
    bool closed = false;
};

void ThreadPark::runThenPark(const std::shared_ptr<State>& state, std::function<void()> body) {
    for (;;) {
        body();
        body = nullptr;  // the connection's socket and contexts end here, not when a later one does
        std::unique_lock lock(state->mutex);
        if (state->closed || state->parked >= state->maxParked) return;
        ++state->parked;
        (void)state->wake.wait_for(lock, state->parkedFor,
                                   [&] { return state->closed || !state->handed.empty(); });
        --state->parked;
        if (state->closed) state->lastOneLeft.notify_all();
        // A body handed over is always run, even when the park closed meanwhile.
        if (state->handed.empty()) return;
        body = std::move(state->handed.front());
        state->handed.pop_front();
    }
}

ThreadPark::ThreadPark(std::size_t maxParked, std::chrono::milliseconds parkedFor)
    : state_(std::make_shared<State>(maxParked, parkedFor)) {}

ThreadPark::~ThreadPark() {
    std::unique_lock lock(state_->mutex);
    state_->closed = true;
    state_->wake.notify_all();
    // The parked threads are gone before the park is, so a process that stops is
    // left with the threads still serving connections and nothing else (a thread
    // alive at exit makes ThreadSanitizer's exit sleep a second, for one).
    (void)state_->lastOneLeft.wait_for(lock, kParkClosingWait, [&] { return state_->parked == 0; });
}

bool ThreadPark::start(std::function<void()> body) {
    {
        std::lock_guard lock(state_->mutex);
        // Each handed body is owed a parked thread that has not taken one yet.
        if (!state_->closed && state_->parked > state_->handed.size()) {
            state_->handed.push_back(std::move(body));
            state_->wake.notify_one();
            return true;
        }
    }
    return startDetachedThread(
        [state = state_, body = std::move(body)]() mutable { runThenPark(state, std::move(body)); });
}

std::size_t ThreadPark::parkedCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->parked - state_->handed.size();
}

}  // namespace corvel
