#include "server/ThreadPark.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Thread.h"

namespace corvel {

// One parked thread's place: the body handed to it arrives here, under the place's
// own lock, so a hand-over never makes the listener and the woken thread fight over
// the park's lock.
struct ThreadPark::Place {
    std::mutex mutex;
    std::condition_variable wake;
    std::function<void()> body;
    bool arrived = false;
    bool leave = false;   // the park closed
};

struct ThreadPark::State {
    State(std::size_t max, std::chrono::milliseconds wait) : maxParked(max), parkedFor(wait) {}

    const std::size_t maxParked;
    const std::chrono::milliseconds parkedFor;
    std::mutex mutex;
    std::condition_variable lastOneLeft;  // a parked thread left a closed park
    // The parked threads' places, the last one parked at the back: it is taken first,
    // its stack and caches are the warmest.
    std::vector<Place*> idle;
    std::size_t leaving = 0;  // woken by the closing and not gone yet
    bool closed = false;
};

void ThreadPark::runThenPark(const std::shared_ptr<State>& state, std::function<void()> body) {
    for (;;) {
        body();
        body = nullptr;  // the connection's socket and contexts end here, not when a later one does
        Place place;
        {
            std::lock_guard lock(state->mutex);
            if (state->closed || state->idle.size() >= state->maxParked) return;
            state->idle.push_back(&place);
        }
        std::unique_lock mine(place.mutex);
        if (!place.wake.wait_for(mine, state->parkedFor, [&] { return place.arrived; })) {
            mine.unlock();
            std::unique_lock lock(state->mutex);
            const auto it = std::find(state->idle.begin(), state->idle.end(), &place);
            if (it != state->idle.end()) {
                state->idle.erase(it);
                return;  // waited long enough, and nobody took this place
            }
            // Taken just as the wait ran out: what was handed over is on its way.
            lock.unlock();
            mine.lock();
            place.wake.wait(mine, [&] { return place.arrived; });
        }
        if (place.leave) {
            mine.unlock();
            std::lock_guard lock(state->mutex);
            if (--state->leaving == 0) state->lastOneLeft.notify_all();
            return;
        }
        body = std::move(place.body);
    }
}

ThreadPark::ThreadPark(std::size_t maxParked, std::chrono::milliseconds parkedFor)
    : state_(std::make_shared<State>(maxParked, parkedFor)) {}

ThreadPark::~ThreadPark() {
    std::unique_lock lock(state_->mutex);
    state_->closed = true;
    state_->leaving += state_->idle.size();
    for (Place* place : state_->idle) {
        std::lock_guard its(place->mutex);
        place->leave = true;
        place->arrived = true;
        place->wake.notify_one();
    }
    state_->idle.clear();
    // The parked threads are gone before the park is, so a process that stops is
    // left with the threads still serving connections and nothing else (a thread
    // alive at exit makes ThreadSanitizer's exit sleep a second, for one).
    (void)state_->lastOneLeft.wait_for(lock, kParkClosingWait, [&] { return state_->leaving == 0; });
}

bool ThreadPark::start(std::function<void()> body) {
    Place* place = nullptr;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->closed && !state_->idle.empty()) {
            place = state_->idle.back();
            state_->idle.pop_back();
        }
    }
    if (place) {
        // The thread cannot go while its place is off the list and nothing arrived,
        // so the place outlives this hand-over.
        std::lock_guard its(place->mutex);
        place->body = std::move(body);
        place->arrived = true;
        place->wake.notify_one();
        return true;
    }
    return startDetachedThread(
        [state = state_, body = std::move(body)]() mutable { runThenPark(state, std::move(body)); });
}

std::size_t ThreadPark::parkedCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->idle.size();
}

}  // namespace corvel
