#include "platform/SystemLog.h"

#include <ctime>
#include <syslog.h>
#include <unistd.h>

namespace corvel {

void writeSystemLog(LogSeverity severity, const std::string& text) {
    int priority = severity == LogSeverity::Error     ? LOG_ERR
                   : severity == LogSeverity::Warning ? LOG_WARNING
                                                      : LOG_INFO;
    // The ident is a literal, so it outlives the connection openlog keeps.
    ::openlog("corvelftpservice", LOG_PID, LOG_DAEMON);
    ::syslog(priority, "%s", text.c_str());
    ::closelog();
}

std::string stampedLogLine(const std::string& text) {
    std::time_t now = std::time(nullptr);
    struct tm parts {};
    char stamp[64] = {};
    if (::localtime_r(&now, &parts)) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &parts);
    return std::string(stamp) + " corvelftpservice[" + std::to_string(::getpid()) + "]: " + text;
}

void SystemLogSink::write(LogSeverity severity, const std::string& text) {
    writeSystemLog(severity, text);
    if (!mirror_) return;
    // One write per line, so lines of different threads never interleave.
    const std::string line = stampedLogLine(text) + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace corvel
