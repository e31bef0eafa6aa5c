#include "service/RunModes.h"

#include <cstdio>
#include <string>

#include "platform/Process.h"
#include "platform/ServiceNotify.h"
#include "platform/SystemLog.h"
#include "platform/Thread.h"
#include "server/FtpServer.h"
#include "server/ProcessContext.h"
#include "service/HomeAccessCheck.h"
#include "service/ServiceHost.h"

namespace corvel {
namespace {

std::string failureText(const std::string& reason) {
    return std::string(kServiceDisplayName) + " failed to start: " + reason;
}

// Every mode logs its start-up failures (the terminal mode prints its log too).
class ModeObserver : public RunObserver {
public:
    ModeObserver(RunMode mode, LogSink& log) : mode_(mode), log_(log) {}

    void serving() override {
        if (mode_ == RunMode::Service)
            notifyServiceManager("READY=1\nSTATUS=Serving FTP and web connections");
    }

    void stopping() override {
        if (mode_ == RunMode::Service) notifyServiceManager("STOPPING=1\nSTATUS=Stopping");
        // Ctrl+C in the terminal is answered the way a console's break handler would.
        if (mode_ == RunMode::DebugConsole && stoppedByInterrupt()) {
            std::printf("Stopping %s.\n", kServiceDisplayName);
            std::fflush(stdout);
        }
    }

    void startFailed(const std::string& reason, int systemError) override {
        failed_ = true;
        const std::string text = failureText(reason);
        log_.write(LogSeverity::Error, text);
        if (mode_ == RunMode::Service)
            notifyServiceManager("STATUS=" + text + (systemError > 0 ? "\nERRNO=" + std::to_string(systemError) : ""));
    }

    bool failed() const { return failed_; }

private:
    RunMode mode_;
    LogSink& log_;
    bool failed_ = false;
};

}  // namespace

bool runAsService(FtpServer& server) {
    if (!startedByServiceManager()) {
        const std::string text = std::string(kServiceDisplayName) +
                                 " cannot run as a service: it was not started by the service manager (systemd). "
                                 "Use -d to run it in the terminal or -f to run it detached.";
        writeSystemLog(LogSeverity::Error, text);
        std::fprintf(stderr, "%s\n", text.c_str());
        return true;
    }
    installStopSignals(false);
    // Said before serving, where the journal shows it beside the start.
    for (const std::string& warning : homeAccessWarnings(server.process().users.accounts()))
        server.process().log.write(LogSeverity::Warning, warning);
    ModeObserver observer(RunMode::Service, server.process().log);
    server.run(RunMode::Service, &observer);
    return !observer.failed();
}

void runInTerminal(FtpServer& server) {
    std::printf("Debugging %s.\n", kServiceDisplayName);
    std::fflush(stdout);
    installStopSignals(false);
    ModeObserver observer(RunMode::DebugConsole, server.process().log);
    server.run(RunMode::DebugConsole, &observer);
}

void runDetached(FtpServer& server) {
    std::fflush(nullptr);  // nothing buffered may be written twice after the fork
    std::string error;
    DaemonSide side = becomeDaemon(&error);
    if (side == DaemonSide::Failed) {
        writeSystemLog(LogSeverity::Error, failureText(error));
        return;
    }
    if (side == DaemonSide::Original) return;
    installStopSignals(true);  // the end of the session stops it
    ModeObserver observer(RunMode::Faceless, server.process().log);
    server.run(RunMode::Faceless, &observer);
}

}  // namespace corvel
