// The ways corveld runs its server: as the systemd service, in the terminal ("-d")
// and detached ("-f"), with the reports each mode owes to people and to systemd.
#pragma once

namespace corvel {

class FtpServer;

// No action on the command line. Under systemd: runs as the service, first warning
// in the log about every home it cannot use (homeAccessWarnings), then reporting
// READY=1 once both listeners are open and STOPPING=1 when it stops; SIGTERM stops
// it. A start-up failure is reported with STATUS= and ERRNO= and makes this return
// false, so the process exits with a failure status and systemd shows the unit as
// failed. Otherwise (not started by systemd): writes why it cannot run to the system
// log (and to standard error) and returns true at once.
[[nodiscard]] bool runAsService(FtpServer& server);

// "-d": prints "Debugging CorvelFtp Service.", serves in the foreground until
// SIGINT (printing "Stopping CorvelFtp Service.") or SIGTERM or the stop event.
// Every line of the log is printed to standard error as well.
void runInTerminal(FtpServer& server);

// "-f": detaches from the terminal and serves until SIGHUP, SIGTERM, SIGINT or the
// stop event. Returns at once in the original process. Call before any thread starts.
void runDetached(FtpServer& server);

}  // namespace corvel
