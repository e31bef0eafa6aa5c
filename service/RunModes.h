// The ways corveld runs its server: as the systemd service, in the terminal ("-d")
// and detached ("-f"), with the reports each mode owes to people and to systemd.
#pragma once

namespace corvel {

class FtpServer;

// No action on the command line. Under systemd: runs as the service, reporting
// READY=1 once both listeners are open and STOPPING=1 when it stops; SIGTERM stops
// it. Otherwise: writes why it cannot run to the system log (and to standard error)
// and returns at once.
void runAsService(FtpServer& server);

// "-d": prints "Debugging CorvelFtp Service.", serves in the foreground until
// SIGINT (printing "Stopping CorvelFtp Service.") or SIGTERM or the stop event.
// Start-up failures go to standard error as well as to the system log.
void runInTerminal(FtpServer& server);

// "-f": detaches from the terminal and serves until SIGHUP, SIGTERM, SIGINT or the
// stop event. Returns at once in the original process. Call before any thread starts.
void runDetached(FtpServer& server);

}  // namespace corvel
