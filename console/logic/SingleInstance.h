// The rule that one console runs per machine: a second start asks the first to show
// its window and ends.
#pragma once

#include <optional>
#include <utility>

#include "platform/NamedObjects.h"

namespace corvel {

// Holds CORVELFTP_CONSOLE_MUTEX for the life of the first console.
class SingleInstance {
public:
    // The first console gets an object to keep until it ends. When another console
    // already holds the mutex, this signals CORVELFTP_POP_EVENT (the other raises its
    // window on its next tick) and returns nullopt: the caller ends with exit code -1.
    // A mutex that cannot be made at all does not stop the console from starting.
    static std::optional<SingleInstance> claim();

private:
    explicit SingleInstance(std::optional<NamedMutex> mutex) : mutex_(std::move(mutex)) {}
    std::optional<NamedMutex> mutex_;
};

// Exit code of a second console.
constexpr int kSecondInstanceExitCode = -1;

}  // namespace corvel
