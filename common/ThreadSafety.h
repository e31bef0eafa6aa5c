// Lets the compiler check what the comments on shared state promise: which mutex
// guards a field, and which functions must (or must not) hold it. Clang checks them
// with -Wthread-safety (the clang builds turn it on); other compilers ignore them.
// Mutex and MutexLock are std::mutex and std::lock_guard, marked up for the check.
#pragma once

#include <mutex>

#if defined(__clang__)
#define CORVEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CORVEL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) CORVEL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY CORVEL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) CORVEL_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) CORVEL_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) CORVEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) CORVEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) CORVEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) CORVEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

namespace corvel {

class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for its scope; unlock and lock let a long call run without it.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() {
        if (held_) mutex_.unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() RELEASE() {
        mutex_.unlock();
        held_ = false;
    }
    void lock() ACQUIRE() {
        mutex_.lock();
        held_ = true;
    }

private:
    Mutex& mutex_;
    bool held_ = true;
};

}  // namespace corvel
