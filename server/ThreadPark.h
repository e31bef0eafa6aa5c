// Connection threads that wait for the next connection when theirs ends. Starting a
// thread per connection cost more than the whole rest of a short FTP session on 2
// CPUs (clone, a fresh stack faulted in, a wake-up on the other CPU): taking a parked
// thread instead doubled the sessions per second. The park stays bounded: at most
// maxParked threads wait, each for at most parkedFor, so an idle server is back to
// its listener alone. Threads only ever park after a connection of their own, so the
// process never holds more threads than at its busiest moment.
//
// Each parked thread waits on a place of its own, and the one parked last is taken
// first: a hand-over wakes exactly that thread, which then needs no lock the listener
// holds. With one shared wait and lock, a bound that covered a burst of 200
// connections measured slower than starting threads for it; with places, such a
// burst starts no threads and costs the server about a quarter less CPU.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace corvel {

constexpr std::size_t kMaxParkedThreads = 256;
constexpr std::chrono::milliseconds kThreadParkedFor{10'000};
// How long closing the park waits for its parked threads to wake and go.
constexpr std::chrono::milliseconds kParkClosingWait{1'000};

class ThreadPark {
public:
    explicit ThreadPark(std::size_t maxParked = kMaxParkedThreads,
                        std::chrono::milliseconds parkedFor = kThreadParkedFor);
    // Parked threads end at once, and are gone when this returns; running ones end
    // after their body.
    ~ThreadPark();
    ThreadPark(const ThreadPark&) = delete;
    ThreadPark& operator=(const ThreadPark&) = delete;

    // Runs body on a parked thread, or on a new detached one as startDetachedThread
    // does (same stack, stop signals blocked). False when the system refused a new
    // thread; body is then dropped with whatever it owns. A body's captures are gone
    // before its thread parks, so a connection's socket closes when its body ends.
    bool start(std::function<void()> body);

    // Threads waiting right now.
    std::size_t parkedCount() const;

private:
    struct Place;
    struct State;
    static void runThenPark(const std::shared_ptr<State>& state, std::function<void()> body);

    std::shared_ptr<State> state_;  // shared with every thread it started
};

}  // namespace corvel
