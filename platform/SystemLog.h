// The system log (syslog, collected by journald), our event log, under the ident
// "corvelftpservice", and the sink the server writes its log lines through.
#pragma once

#include <atomic>
#include <string>

namespace corvel {

enum class LogSeverity { Error, Warning, Information };

// Writes one entry. Failures are ignored. Safe to call from any thread.
void writeSystemLog(LogSeverity severity, const std::string& text);

// Where the server's log lines go. Implementations are thread-safe.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(LogSeverity severity, const std::string& text) = 0;
};

// The system log. In the terminal mode every line is also printed to standard
// error, stamped as a syslog line is ("2026-12-08T13:05:09+0000 corvelftpservice[42]: ..."),
// so what the log would show can be watched (and read by tools such as fail2ban).
class SystemLogSink : public LogSink {
public:
    void write(LogSeverity severity, const std::string& text) override;
    void mirrorToStandardError(bool mirror) { mirror_ = mirror; }

private:
    std::atomic<bool> mirror_{false};
};

// One line for standard error as SystemLogSink prints it, without the line feed.
std::string stampedLogLine(const std::string& text);

}  // namespace corvel
