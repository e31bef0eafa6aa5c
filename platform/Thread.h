// Detached connection threads with a bounded stack, and the process's stop signals.
#pragma once

#include <cstddef>
#include <functional>

namespace corvel {

// Stack reserved for each connection thread; sessions keep big buffers on the heap.
constexpr std::size_t kConnectionThreadStackBytes = 512 * 1024;

// Starts body on a new detached thread that never receives the stop signals (they
// go to the listener). False when the system refused a thread; body is then dropped
// (and with it whatever it owns, such as the connection's socket).
bool startDetachedThread(std::function<void()> body);

// Routes SIGTERM and SIGINT (and SIGHUP when asked) to a flag, ignores SIGPIPE and
// SIGXFSZ (writes past a file-size limit fail instead of killing the process).
void installStopSignals(bool includeHangup);
bool stopSignalReceived();
// Which stop signal arrived last (0 when none).
int lastStopSignal();
// Whether the last stop signal was an interrupt (Ctrl+C in the terminal).
bool stoppedByInterrupt();

}  // namespace corvel
