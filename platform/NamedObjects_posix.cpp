// Named mutex, auto-reset event and shared block as files in the runtime directory.
//
// Every object is one regular file named exactly as the object. Lifetime follows
// the holders, not the file:
//  - each holder keeps a shared flock() on its own descriptor of the file, so the
//    kernel drops the hold when the holder closes it or dies, even by SIGKILL;
//  - creating, opening and closing are serialised by the "guard": an OFD write
//    lock on one byte far past the end of the file (it never grows the file);
//  - under the guard, a non-blocking exclusive flock() succeeds exactly when no
//    live holder is left, in which case the file is stale or new and is
//    initialised again (blocks zeroed, events not signalled, mutexes free);
//  - the last holder to close removes the file; a holder killed leaves it behind,
//    and the next opener treats it as not existing.
// Block files hold only the block's bytes. Mutex and event files hold a few
// words of their own state (see MutexState and EventState).

#include "platform/NamedObjects.h"

#include "platform/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvel {

namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, the clock FUTEX_WAIT times out on

// SECURITY: the owner and the directory's group only; the directory itself is open
// to the server's account and the administrators' group alone, so no other local
// account can signal, hold or read an object.
constexpr mode_t kFileMode = 0660;
// The service's runtime directory (systemd's RuntimeDirectory=, group corvelftp).
constexpr char kServiceDirectory[] = "/run/corvelftp";
// Per-account directory below XDG_RUNTIME_DIR, or /tmp, when there is no service directory.
constexpr char kPrivateDirectoryName[] = "corvelftp";
constexpr mode_t kPrivateDirectoryMode = 0700;
// Longest wait for the guard of an object's file; a holder keeps it only for a few
// system calls, so a longer hold is a stuck or hostile process and the open fails.
constexpr auto kGuardWait = std::chrono::milliseconds(5000);
// Longest object name; it is used as a file name as it is.
constexpr std::size_t kMaxNameLength = NAME_MAX;
// Byte whose OFD write lock serialises create/open/close; far past any object's
// bytes, so taking it never touches the contents or the size of the file.
constexpr off_t kGuardByte = off_t{1} << 40;
// Byte of a mutex file whose OFD write lock is the ownership of the mutex.
constexpr off_t kOwnerByte = 0;
// How often a sleeping waiter looks again without a wake-up: covers a mutex owner
// that died (the kernel frees its lock but wakes nobody) and a woken event waiter
// that died before taking the signal.
constexpr auto kRecheckInterval = std::chrono::milliseconds(100);
// Attempts to open a file that the last holder keeps removing under us.
constexpr int kOpenAttempts = 100;

constexpr std::uint32_t kMutexMagic = 0x584d5643;  // "CVMX"
constexpr std::uint32_t kEventMagic = 0x56455643;  // "CVEV"

// Contents of a mutex file.
struct MutexState {
    std::uint32_t magic;
    std::uint32_t owned;    // 1 while some process owns it; still 1 after an owner died
    std::uint32_t wakeSeq;  // bumped on every unlock; waiters sleep on it
};

// Contents of an event file.
struct EventState {
    std::uint32_t magic;
    std::uint32_t signalled;  // 0 or 1; waiters sleep on it
};

// Two instances of one object in this process see its shared words at different
// addresses, so neither the C++ memory model nor ThreadSanitizer can pair an unlock
// with the next lock (or a signal with the wait that consumes it). Each of those
// also passes through this one process-wide atomic to give them an order both see.
std::atomic<std::uint32_t> gCrossMappingSync{0};

void syncWithOtherInstances() { gCrossMappingSync.fetch_add(1, std::memory_order_acq_rel); }

// Owns a shared mapping of the first bytes of a file.
class Mapping {
public:
    Mapping() = default;
    ~Mapping() { reset(); }
    Mapping(Mapping&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Mapping& operator=(Mapping&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    static std::optional<Mapping> map(int fd, std::size_t size) {
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) return std::nullopt;
        Mapping m;
        m.data_ = static_cast<std::uint8_t*>(p);
        m.size_ = size;
        return m;
    }

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    void reset() {
        if (data_ != nullptr) ::munmap(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

enum class ByteLock { Taken, Busy, Failed };

ByteLock setOfdLock(int fd, short type, off_t byte, bool wait) {
    struct flock request {};
    request.l_type = type;
    request.l_whence = SEEK_SET;
    request.l_start = byte;
    request.l_len = 1;
    request.l_pid = 0;  // required for OFD locks
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &request) == 0) return ByteLock::Taken;
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EACCES) ? ByteLock::Busy : ByteLock::Failed;
    }
}

// Holds the guard of one file for a scope. Released explicitly rather than by
// closing: a forked child may share the descriptor and would keep the lock alive.
class GuardLock {
public:
    explicit GuardLock(int fd) : fd_(fd), held_(takeBounded(fd)) {}
    ~GuardLock() {
        if (held_) setOfdLock(fd_, F_UNLCK, kGuardByte, false);
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool held() const { return held_; }

private:
    // SECURITY: never waits without bound, whoever holds the guard.
    static bool takeBounded(int fd) {
        const auto end = Clock::now() + kGuardWait;
        auto pause = std::chrono::microseconds(200);
        for (;;) {
            switch (setOfdLock(fd, F_WRLCK, kGuardByte, false)) {
                case ByteLock::Taken: return true;
                case ByteLock::Failed: return false;
                case ByteLock::Busy: break;
            }
            if (Clock::now() >= end) return false;
            const timespec ts{0, static_cast<long>(std::chrono::nanoseconds(pause).count())};
            ::nanosleep(&ts, nullptr);
            pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
        }
    }

    int fd_;
    bool held_;
};

int flockRetrying(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// true while the file behind fd is still the one the path names (the last holder
// unlinks it under the guard; an opener that got it just before must start over).
bool refersToPath(int fd, const std::string& path) {
    struct stat byFd {};
    struct stat byPath {};
    if (::fstat(fd, &byFd) != 0 || byFd.st_nlink == 0) return false;
    if (::lstat(path.c_str(), &byPath) != 0) return false;
    return byFd.st_dev == byPath.st_dev && byFd.st_ino == byPath.st_ino;
}

bool sameFile(int a, int b) {
    struct stat sa {};
    struct stat sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// SECURITY: a name is one path component; it never reaches outside the directory.
bool isValidObjectName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameLength && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

void futexWait(std::uint32_t* word, std::uint32_t expected, const timespec& relative) {
    // Not FUTEX_PRIVATE: the word lives in a mapping shared with other processes.
    // EAGAIN (word changed), ETIMEDOUT and EINTR all mean "look again".
    ::syscall(SYS_futex, word, FUTEX_WAIT, expected, &relative, nullptr, 0);
}

void futexWake(std::uint32_t* word, int count) { ::syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0); }

// End of a wait of timeoutMs milliseconds; negative means no end.
class Deadline {
public:
    explicit Deadline(int timeoutMs)
        : unlimited_(timeoutMs < 0), end_(Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0))) {}

    bool expired() const { return !unlimited_ && Clock::now() >= end_; }

    // How long to sleep before looking again: what is left, at most kRecheckInterval.
    timespec nextSleep() const {
        Clock::duration left = kRecheckInterval;
        if (!unlimited_) left = std::clamp<Clock::duration>(end_ - Clock::now(), Clock::duration::zero(), left);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        return ts;
    }

private:
    bool unlimited_;
    Clock::time_point end_;
};

// How an object's file is laid out and brought to its initial state.
struct Layout {
    std::size_t size;                             // bytes mapped (and the size of a new file)
    void (*initialise)(std::uint8_t*);            // on a new or stale file, after zeroing; may be null
    bool (*matches)(const std::uint8_t*);         // on a live object's file; may be null
};

enum class OpenMode { CreateOrOpen, ExistingOnly };

// A named object's file held open: the descriptor with its shared existence lock,
// and the mapping of the object's bytes. Closing it releases the hold and removes
// the file when this was the last holder.
class HeldFile {
public:
    HeldFile(std::string path, UniqueFd fd, Mapping mapping)
        : path_(std::move(path)), fd_(std::move(fd)), mapping_(std::move(mapping)) {}
    ~HeldFile() { release(); }
    HeldFile(HeldFile&&) noexcept = default;
    HeldFile& operator=(HeldFile&&) = delete;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    static std::optional<HeldFile> acquire(const std::string& name, OpenMode mode, const Layout& layout,
                                           bool* alreadyExisted);

    int fd() const { return fd_.get(); }
    std::uint8_t* data() const { return mapping_.data(); }
    std::size_t size() const { return mapping_.size(); }

private:
    void release();

    std::string path_;
    UniqueFd fd_;
    Mapping mapping_;
};

std::optional<HeldFile> HeldFile::acquire(const std::string& name, OpenMode mode, const Layout& layout,
                                          bool* alreadyExisted) {
    if (alreadyExisted != nullptr) *alreadyExisted = false;
    if (!isValidObjectName(name) || layout.size == 0) return std::nullopt;
    const std::string directory = namedObjectDirectory();
    if (mode == OpenMode::CreateOrOpen && !ensureObjectDirectory(directory)) return std::nullopt;
    const std::string path = directory + "/" + name;

    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        // Open an existing file before trying to create one: O_CREAT on another
        // account's file in a sticky directory is refused under protected_regular.
        // SECURITY: O_NOFOLLOW and the regular-file check keep planted links out.
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.isOpen()) {
            if (errno != ENOENT || mode == OpenMode::ExistingOnly) return std::nullopt;
            fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
            if (!fd.isOpen()) {
                if (errno == EEXIST) continue;
                return std::nullopt;
            }
            ::fchmod(fd.get(), kFileMode);  // the umask must not narrow it
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;

        // Declared after fd: the guard is dropped before the descriptor closes.
        GuardLock guard(fd.get());
        if (!guard.held()) return std::nullopt;
        if (!refersToPath(fd.get(), path)) continue;

        if (flockRetrying(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            // No live holder: the file is new, or stale from holders that died.
            if (mode == OpenMode::ExistingOnly) return std::nullopt;
            if (::ftruncate(fd.get(), 0) != 0 || ::ftruncate(fd.get(), static_cast<off_t>(layout.size)) != 0)
                return std::nullopt;
            auto mapping = Mapping::map(fd.get(), layout.size);
            if (!mapping) return std::nullopt;
            if (layout.initialise != nullptr) layout.initialise(mapping->data());
            ::fchmod(fd.get(), kFileMode);  // fails harmlessly on another account's stale file
            // Downgrade to a plain hold; no one else can ask for LOCK_EX without the
            // guard (and one who does makes this fail instead of wait).
            if (flockRetrying(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
            return HeldFile(path, std::move(fd), std::move(*mapping));
        }
        if (errno != EWOULDBLOCK) return std::nullopt;

        // A live holder exists: the file was initialised under the guard.
        if (flockRetrying(fd.get(), LOCK_SH | LOCK_NB) != 0) return std::nullopt;
        if (::fstat(fd.get(), &st) != 0 || st.st_size < static_cast<off_t>(layout.size)) return std::nullopt;
        auto mapping = Mapping::map(fd.get(), layout.size);
        if (!mapping) return std::nullopt;
        if (layout.matches != nullptr && !layout.matches(mapping->data())) return std::nullopt;
        if (alreadyExisted != nullptr) *alreadyExisted = true;
        return HeldFile(path, std::move(fd), std::move(*mapping));
    }
    return std::nullopt;
}

void HeldFile::release() {
    if (!fd_.isOpen()) return;
    // The test "was this the last hold?" goes through a second descriptor so that a
    // hold shared with a forked child still counts as a hold.
    UniqueFd probe(::open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!probe.isOpen() || !sameFile(probe.get(), fd_.get())) {
        mapping_.reset();
        fd_.reset();
        return;
    }
    GuardLock guard(probe.get());
    mapping_.reset();
    fd_.reset();
    if (guard.held() && flockRetrying(probe.get(), LOCK_EX | LOCK_NB) == 0 && refersToPath(probe.get(), path_))
        ::unlink(path_.c_str());
}

void initialiseMutex(std::uint8_t* bytes) { reinterpret_cast<MutexState*>(bytes)->magic = kMutexMagic; }
bool isMutex(const std::uint8_t* bytes) { return reinterpret_cast<const MutexState*>(bytes)->magic == kMutexMagic; }
void initialiseEvent(std::uint8_t* bytes) { reinterpret_cast<EventState*>(bytes)->magic = kEventMagic; }
bool isEvent(const std::uint8_t* bytes) { return reinterpret_cast<const EventState*>(bytes)->magic == kEventMagic; }

constexpr Layout kMutexLayout{sizeof(MutexState), initialiseMutex, isMutex};
constexpr Layout kEventLayout{sizeof(EventState), initialiseEvent, isEvent};

// Creates or opens the object's file; a failure says why: the errno a failing call
// left, or, when the refusal was this file's own (a bad name, an object of another
// kind, a guard held too long), that the object is not usable.
std::optional<HeldFile> createOrOpenFile(const std::string& name, const Layout& layout, bool* alreadyExisted,
                                         Status* failure) {
    errno = 0;
    auto file = HeldFile::acquire(name, OpenMode::CreateOrOpen, layout, alreadyExisted);
    if (!file && failure)
        *failure = errno != 0 ? Status::lastSystemError() : Status::failure(EINVAL, "not a usable named object");
    return file;
}

}  // namespace

std::string namedObjectDirectory() {
    const char* dir = std::getenv("CORVELFTP_RUNTIME_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    struct stat st {};
    if (::stat(kServiceDirectory, &st) == 0 && S_ISDIR(st.st_mode)) return kServiceDirectory;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/" + kPrivateDirectoryName;
    return "/tmp/" + std::string(kPrivateDirectoryName) + "-" + std::to_string(::geteuid());
}

bool ensureObjectDirectory(const std::string& directory) {
    if (::mkdir(directory.c_str(), kPrivateDirectoryMode) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st {};
    // SECURITY: no symlink, no directory of another account that others may write
    // (a planted /tmp/corvelftp-UID); the service's and a configured directory are
    // the administrator's choice and only need to be directories.
    if (::lstat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    const char* configured = std::getenv("CORVELFTP_RUNTIME_DIR");
    const bool chosen = directory == kServiceDirectory || (configured != nullptr && directory == configured);
    if (chosen) return true;
    return st.st_uid == ::geteuid() && (st.st_mode & 0077) == 0;
}

// ---- NamedMutex ----
//
// Ownership is an OFD write lock on kOwnerByte of the holder's own descriptor:
// two instances exclude each other even inside one process, and the kernel frees
// the lock when its owner dies. "owned" stays 1 when an owner dies holding it,
// which the next owner reports as Abandoned. Waiters sleep on wakeSeq.

struct NamedMutex::Impl {
    HeldFile file;
    bool held = false;

    explicit Impl(HeldFile f) : file(std::move(f)) {}
    ~Impl() { release(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    MutexState* state() const { return reinterpret_cast<MutexState*>(file.data()); }

    void release() {
        if (!held) return;
        MutexState* s = state();
        syncWithOtherInstances();
        std::atomic_ref<std::uint32_t>(s->owned).store(0, std::memory_order_release);
        setOfdLock(file.fd(), F_UNLCK, kOwnerByte, false);
        held = false;
        std::atomic_ref<std::uint32_t>(s->wakeSeq).fetch_add(1, std::memory_order_release);
        futexWake(&s->wakeSeq, INT_MAX);
    }
};

NamedMutex::NamedMutex() = default;
NamedMutex::~NamedMutex() = default;
NamedMutex::NamedMutex(NamedMutex&&) noexcept = default;
NamedMutex& NamedMutex::operator=(NamedMutex&&) noexcept = default;

std::optional<NamedMutex> NamedMutex::createOrOpen(const std::string& name, bool* alreadyExisted, Status* failure) {
    auto file = createOrOpenFile(name, kMutexLayout, alreadyExisted, failure);
    if (!file) return std::nullopt;
    NamedMutex m;
    m.impl_ = std::make_unique<Impl>(std::move(*file));
    return m;
}

std::optional<NamedMutex> NamedMutex::openExisting(const std::string& name) {
    auto file = HeldFile::acquire(name, OpenMode::ExistingOnly, kMutexLayout, nullptr);
    if (!file) return std::nullopt;
    NamedMutex m;
    m.impl_ = std::make_unique<Impl>(std::move(*file));
    return m;
}

LockResult NamedMutex::lock(int timeoutMs) {
    if (!impl_) return LockResult::Failed;
    if (impl_->held) return LockResult::Failed;  // not recursive: it would wait for itself
    MutexState* s = impl_->state();
    std::atomic_ref<std::uint32_t> wakeSeq(s->wakeSeq);
    const Deadline deadline(timeoutMs);
    for (;;) {
        // Read the sequence before trying, so an unlock in between makes the sleep return at once.
        const std::uint32_t seen = wakeSeq.load(std::memory_order_acquire);
        switch (setOfdLock(impl_->file.fd(), F_WRLCK, kOwnerByte, false)) {
        case ByteLock::Taken: {
            impl_->held = true;
            const std::uint32_t previous =
                std::atomic_ref<std::uint32_t>(s->owned).exchange(1, std::memory_order_acq_rel);
            syncWithOtherInstances();
            return previous != 0 ? LockResult::Abandoned : LockResult::Acquired;
        }
        case ByteLock::Busy:
            break;
        case ByteLock::Failed:
            return LockResult::Failed;
        }
        if (deadline.expired()) return LockResult::TimedOut;
        futexWait(&s->wakeSeq, seen, deadline.nextSleep());
    }
}

void NamedMutex::unlock() {
    if (impl_) impl_->release();
}

bool NamedMutex::isValid() const { return impl_ != nullptr; }

// ---- NamedEvent ----
//
// "signalled" is set by signal and taken back to 0 by exactly one successful
// compare-and-swap in wait; waiters sleep on it with FUTEX_WAIT.

struct NamedEvent::Impl {
    HeldFile file;
    explicit Impl(HeldFile f) : file(std::move(f)) {}
    EventState* state() const { return reinterpret_cast<EventState*>(file.data()); }
};

NamedEvent::NamedEvent() = default;
NamedEvent::~NamedEvent() = default;
NamedEvent::NamedEvent(NamedEvent&&) noexcept = default;
NamedEvent& NamedEvent::operator=(NamedEvent&&) noexcept = default;

std::optional<NamedEvent> NamedEvent::createOrOpen(const std::string& name, bool* alreadyExisted, Status* failure) {
    auto file = createOrOpenFile(name, kEventLayout, alreadyExisted, failure);
    if (!file) return std::nullopt;
    NamedEvent e;
    e.impl_ = std::make_unique<Impl>(std::move(*file));
    return e;
}

std::optional<NamedEvent> NamedEvent::openExisting(const std::string& name) {
    auto file = HeldFile::acquire(name, OpenMode::ExistingOnly, kEventLayout, nullptr);
    if (!file) return std::nullopt;
    NamedEvent e;
    e.impl_ = std::make_unique<Impl>(std::move(*file));
    return e;
}

bool NamedEvent::signal() {
    if (!impl_) return false;
    EventState* s = impl_->state();
    syncWithOtherInstances();
    std::atomic_ref<std::uint32_t>(s->signalled).store(1, std::memory_order_release);
    // Wake one even when it was already set: a waiter woken earlier may have died
    // before taking the signal.
    futexWake(&s->signalled, 1);
    return true;
}

bool NamedEvent::wait(int timeoutMs) {
    if (!impl_) return false;
    EventState* s = impl_->state();
    std::atomic_ref<std::uint32_t> signalled(s->signalled);
    const Deadline deadline(timeoutMs);
    for (;;) {
        std::uint32_t expected = 1;
        if (signalled.compare_exchange_strong(expected, 0, std::memory_order_acq_rel, std::memory_order_relaxed)) {
            syncWithOtherInstances();
            return true;
        }
        if (deadline.expired()) return false;
        futexWait(&s->signalled, 0, deadline.nextSleep());
    }
}

bool NamedEvent::isValid() const { return impl_ != nullptr; }

// ---- SharedBlock ----

struct SharedBlock::Impl {
    HeldFile file;
    explicit Impl(HeldFile f) : file(std::move(f)) {}
};

SharedBlock::SharedBlock() = default;
SharedBlock::~SharedBlock() = default;
SharedBlock::SharedBlock(SharedBlock&&) noexcept = default;
SharedBlock& SharedBlock::operator=(SharedBlock&&) noexcept = default;

std::optional<SharedBlock> SharedBlock::createZeroed(const std::string& name, std::size_t size, bool* alreadyExisted,
                                                     Status* failure) {
    // A live block of another size is accepted when it is at least as large, as a
    // mapping of a larger section would be; only `size` bytes are mapped.
    auto file = createOrOpenFile(name, Layout{size, nullptr, nullptr}, alreadyExisted, failure);
    if (!file) return std::nullopt;
    SharedBlock b;
    b.impl_ = std::make_unique<Impl>(std::move(*file));
    return b;
}

std::optional<SharedBlock> SharedBlock::openExisting(const std::string& name, std::size_t size) {
    auto file = HeldFile::acquire(name, OpenMode::ExistingOnly, Layout{size, nullptr, nullptr}, nullptr);
    if (!file) return std::nullopt;
    SharedBlock b;
    b.impl_ = std::make_unique<Impl>(std::move(*file));
    return b;
}

std::uint8_t* SharedBlock::data() { return impl_ ? impl_->file.data() : nullptr; }
const std::uint8_t* SharedBlock::data() const { return impl_ ? impl_->file.data() : nullptr; }
std::size_t SharedBlock::size() const { return impl_ ? impl_->file.size() : 0; }
bool SharedBlock::isValid() const { return impl_ != nullptr; }

}  // namespace corvel
