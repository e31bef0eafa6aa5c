#include "server/TransferLogSetup.h"

#include "files/TransferLog.h"
#include "platform/SystemLog.h"
#include "server/ServerSettings.h"

namespace corvel {

std::string transferLogPathOf(const ServerSettings& settings, const std::string& programDirectory) {
    if (settings.transferLog.empty() || settings.transferLog.front() == '/') return settings.transferLog;
    return programDirectory + settings.transferLog;
}

Status openTransferLog(const ServerSettings& settings, const std::string& programDirectory, TransferLog& log) {
    const std::string path = transferLogPathOf(settings, programDirectory);
    if (path.empty()) return Status();
    const Status opened = log.open(path);
    if (opened.ok()) return opened;
    return Status::failure(opened.systemError() ? opened.systemError() : EINVAL,
                           "cannot open the transfer log " + path + ": " + opened.text());
}

void reopenTransferLog(TransferLog& transfers, LogSink& log) {
    if (!transfers.enabled()) {
        log.write(LogSeverity::Information, "reload of the transfer log asked for, but <xferlog> is not set");
        return;
    }
    const Status reopened = transfers.reopen();
    if (reopened.ok())
        log.write(LogSeverity::Information, "opened the transfer log " + transfers.path() + " again");
    else
        log.write(LogSeverity::Error, "cannot open the transfer log " + transfers.path() + " again (" +
                                          reopened.text() + "); it goes on in the file open until now");
}

}  // namespace corvel
