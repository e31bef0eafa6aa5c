// Tells whether a server runs and asks a running one to stop through its stop event.
#pragma once

namespace corvel {

// Whether a server holds its status block open, which it does from its start until
// it stops serving. Only looks: creates nothing, and never waits on the existence
// event (an auto-reset event: a wait would take a beat from the console's heartbeat).
bool serverRunning();

enum class StopOutcome {
    Signalled,  // the stop event was signalled; the server ends at its next loop turn
    NoServer,   // no server runs, and nothing was signalled
    Failed,     // a server runs, but its stop event could not be opened or signalled
};

// Signals CORVELFTP_BASICSVRSTOP_EVENT, but only while a server runs: a signal with
// nobody to take it would stay pending and stop the next server as it starts.
StopOutcome requestStop();

// Polls until no server holds the status block, at most timeoutMs; true when it is gone.
bool waitUntilServerGone(int timeoutMs);

}  // namespace corvel
