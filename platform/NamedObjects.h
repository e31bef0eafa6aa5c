// Named process-shared objects (mutex, auto-reset event, shared memory block) that
// the server and the console meet through, with Windows lifetime semantics on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Status.h"

namespace corvel {

// Directory that holds one file per named object, the first of:
//  - $CORVELFTP_RUNTIME_DIR when set;
//  - /run/corvelftp when it exists (the service's runtime directory, open to the
//    server's account and the administrators' group corvelftp);
//  - $XDG_RUNTIME_DIR/corvelftp (a desktop session: console and the server it starts);
//  - /tmp/corvelftp-UID.
// The last two are created on first use with mode 0700, and refused when they are
// not this account's own private directory. Files are created with mode 0660.
std::string namedObjectDirectory();

// Creates directory (mode 0700) when missing; false when it cannot be used safely.
bool ensureObjectDirectory(const std::string& directory);

// How a timed wait on a named mutex ended.
enum class LockResult {
    Acquired,   // the mutex is now held by the caller
    Abandoned,  // held by the caller; its previous owner died while holding it
    TimedOut,   // not acquired within the time-out
    Failed,     // not acquired; the object is unusable
};

// A named mutex. An object exists while some process holds it open; a process that
// dies, even by SIGKILL, releases both its ownership and its hold on the object.
// Not recursive. One instance is owned by one thread at a time.
class NamedMutex {
public:
    NamedMutex();
    ~NamedMutex();
    NamedMutex(NamedMutex&&) noexcept;
    NamedMutex& operator=(NamedMutex&&) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Creates the mutex, or opens it when a live process already holds it open; in
    // that case *alreadyExisted is set true. Created not owned. nullopt on failure.
    static std::optional<NamedMutex> createOrOpen(const std::string& name, bool* alreadyExisted = nullptr,
                                                  Status* failure = nullptr);
    // Opens only a mutex that some live process holds open.
    static std::optional<NamedMutex> openExisting(const std::string& name);

    // Waits up to timeoutMs milliseconds (negative: without limit).
    [[nodiscard]] LockResult lock(int timeoutMs);
    void unlock();
    bool isValid() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a NamedMutex for a scope when the wait succeeded (Acquired or Abandoned).
class NamedMutexLock {
public:
    NamedMutexLock(NamedMutex& mutex, int timeoutMs) : mutex_(mutex), result_(mutex.lock(timeoutMs)) {}
    ~NamedMutexLock() { if (ownsLock()) mutex_.unlock(); }
    NamedMutexLock(const NamedMutexLock&) = delete;
    NamedMutexLock& operator=(const NamedMutexLock&) = delete;
    bool ownsLock() const { return result_ == LockResult::Acquired || result_ == LockResult::Abandoned; }
    LockResult result() const { return result_; }

private:
    NamedMutex& mutex_;
    LockResult result_;
};

// A named auto-reset event, initially not signalled. A signal with no waiter stays
// pending until one wait consumes it; one signal releases exactly one wait.
class NamedEvent {
public:
    NamedEvent();
    ~NamedEvent();
    NamedEvent(NamedEvent&&) noexcept;
    NamedEvent& operator=(NamedEvent&&) noexcept;
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // nullopt on failure, with *failure (when given) saying why.
    static std::optional<NamedEvent> createOrOpen(const std::string& name, bool* alreadyExisted = nullptr,
                                                  Status* failure = nullptr);
    static std::optional<NamedEvent> openExisting(const std::string& name);

    bool signal();
    // true when a signal was consumed within timeoutMs (0 = just test; negative = no limit).
    [[nodiscard]] bool wait(int timeoutMs);
    bool isValid() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A named block of shared memory whose file holds exactly its bytes. It exists while
// some process holds it open; a block created when no live process holds it starts zeroed.
class SharedBlock {
public:
    SharedBlock();
    ~SharedBlock();
    SharedBlock(SharedBlock&&) noexcept;
    SharedBlock& operator=(SharedBlock&&) noexcept;
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    static std::optional<SharedBlock> createZeroed(const std::string& name, std::size_t size,
                                                   bool* alreadyExisted = nullptr, Status* failure = nullptr);
    static std::optional<SharedBlock> openExisting(const std::string& name, std::size_t size);

    std::uint8_t* data();
    const std::uint8_t* data() const;
    std::size_t size() const;
    bool isValid() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvel
