// The transfer log of a run (<xferlog>): opened at start, where a file that cannot be
// opened stops the start, and opened again on a reload request.
#pragma once

#include <string>

#include "platform/Status.h"

namespace corvel {

class LogSink;
class TransferLog;
struct ServerSettings;

// Where <xferlog> puts the log: relative to the program directory unless absolute.
std::string transferLogPathOf(const ServerSettings& settings, const std::string& programDirectory);

// Opens the log of settings (nothing without <xferlog>); a failure says which file
// and why, for the start-up error.
Status openTransferLog(const ServerSettings& settings, const std::string& programDirectory, TransferLog& log);

// Opens the log again (after logrotate moved it away) and says so in the system log,
// or why the file open until now stays in use.
void reopenTransferLog(TransferLog& transfers, LogSink& log);

}  // namespace corvel
