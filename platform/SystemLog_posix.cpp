#include "platform/SystemLog.h"

#include <syslog.h>

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

}  // namespace corvel
