#include "ctl/ServerCommands.h"

#include <cstdio>
#include <cstdlib>

#include "admin/ReloadRequest.h"
#include "admin/StatusSnapshot.h"
#include "admin/StopRequest.h"
#include "common/SharedBlocks.h"
#include "common/XmlFiles.h"
#include "ctl/JsonWriter.h"
#include "ctl/TextTable.h"
#include "ctl/TlsReloadCommand.h"
#include "platform/LocalTime.h"
#include "platform/NamedObjects.h"

namespace corvel {

std::string isoLocalTime(std::time_t time) {
    const LocalTimeParts parts = toLocalTime(time);
    const int offset = parts.utcOffsetSeconds;
    const int offsetMinutes = std::abs(offset) / 60;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", parts.year, parts.month, parts.day,
                  parts.hour, parts.minute, parts.second, offset < 0 ? '-' : '+', offsetMinutes / 60,
                  offsetMinutes % 60);
    return text;
}

std::string durationText(std::uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
    return text;
}

int showStatus(const CommandContext& context) {
    const StatusSnapshot status = readStatus(kBlockMutexWaitMs);
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    const std::uint32_t running = now - status.startTime;  // wraps as the 32-bit field does
    if (context.invocation.json) {
        JsonWriter json;
        json.beginObject().key("running").boolean(status.available);
        if (status.available && status.copied) {
            json.key("listenAddress").string(status.bindAddress);
            json.key("ftpPort").number(status.ftpPort).key("webPort").number(status.webPort);
            json.key("connectionLimit").number(status.maxConnections);
            json.key("ftpConnections").number(status.currentConnections);
            json.key("startTime").string(isoLocalTime(static_cast<std::time_t>(status.startTime)));
            json.key("startTimeUnix").number(status.startTime).key("runningSeconds").number(running);
        } else if (status.available) {
            json.key("details").null();
        }
        json.endObject();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    if (!status.available) {
        context.io.out << "CorvelFtp server: not running\n";
        return kExitDone;
    }
    if (!status.copied) {
        context.io.out << "CorvelFtp server: running (its status block stayed locked for "
                       << kBlockMutexWaitMs / 1000 << " seconds, so no details)\n";
        return kExitDone;
    }
    const std::vector<std::vector<std::string>> rows = {
        {"CorvelFtp server:", "running"},
        {"Listen address:", status.bindAddress.empty() ? std::string("all interfaces") : status.bindAddress},
        {"FTP port:", std::to_string(status.ftpPort)},
        {"Web port:", std::to_string(status.webPort)},
        {"Connection limit:", std::to_string(status.maxConnections)},
        {"FTP connections:", std::to_string(status.currentConnections)},
        {"Started:", isoLocalTime(static_cast<std::time_t>(status.startTime)) + " (running for " +
                         durationText(running) + ")"},
    };
    context.io.out << formatTable(rows);
    return kExitDone;
}

int reloadFile(const CommandContext& context) {
    const std::string& what = context.operand(0);
    if (what == "tls") return reloadTlsPair(context);
    const bool users = what == "users";
    const bool log = what == "log";
    const char* fileName = users ? kUsersFileName : kAccessFileName;
    switch (requestReload(log ? ReloadLog : users ? ReloadUsers : ReloadAccess)) {
        case ReloadOutcome::Requested:
            if (log)
                context.io.out << "The running server opens its transfer log (<xferlog>) again at its next turn.\n";
            else
                context.io.out << "The running server reloads " << fileName << " at its next turn.\n";
            return kExitDone;
        case ReloadOutcome::NoServer: return context.refuse("no server is running");
        case ReloadOutcome::TimedOut: break;
    }
    return context.refuse("the running server's control block stayed locked for " +
                          std::to_string(kBlockMutexWaitMs / 1000) + " seconds; nothing was requested");
}

int stopServer(const CommandContext& context) {
    switch (requestStop()) {
        case StopOutcome::NoServer: return context.refuse("no server is running");
        case StopOutcome::Failed:
            return context.refuse("a server runs, but its stop event in " + namedObjectDirectory() +
                                  " could not be signalled");
        case StopOutcome::Signalled: break;
    }
    if (!waitUntilServerGone(kStopWaitMs))
        return context.refuse("the server was told to stop, but it still runs after " +
                              std::to_string(kStopWaitMs / 1000) + " seconds");
    context.io.out << "The server has stopped.\n";
    return kExitDone;
}

}  // namespace corvel
