// The system log (syslog, collected by journald), our event log, under the ident
// "corvelftpservice".
#pragma once

#include <string>

namespace corvel {

enum class LogSeverity { Error, Warning, Information };

// Writes one entry. Failures are ignored. Safe to call from any thread.
void writeSystemLog(LogSeverity severity, const std::string& text);

}  // namespace corvel
