// corvelpanel: the administration console of the CorvelFtp server.
#include <optional>
#include <string>
#include <utility>

#include <QApplication>

#include "platform/Process.h"
#include "console/logic/ConsoleEvents.h"
#include "console/logic/ConsoleProbes.h"
#include "console/logic/ServiceStateWatcher.h"
#include "console/logic/SingleInstance.h"
#include "console/logic/StatusDump.h"
#include "console/logic/SystemPorts.h"
#include "console/logic/TerminationWatcher.h"
#include "console/ui/MainWindow.h"

int main(int argc, char** argv) {
    using namespace corvel;
    // A second console needs no display: it only asks the first to show itself.
    std::optional<SingleInstance> instance = SingleInstance::claim();
    if (!instance) return kSecondInstanceExitCode;

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // a closed window hides to the tray
    QApplication::setApplicationName(QStringLiteral("corvelpanel"));

    ConsoleEvents events;
    SystemServiceManager manager;
    SystemProgramRunner runner;
    SystemConsoleProbes probes(events);
    // The state for the status tick is asked for on a thread of its own, through a
    // manager of that thread's own (each is owned by one thread).
    SystemServiceManager watchedManager;
    ServiceStateWatcher serviceState([&watchedManager] { return watchedManager.queryState(); });
    const ConsoleTestHooks hooks = testHooksFromEnvironment();
    ConsoleWiring wiring{programDirectory(), manager, runner, events, probes, nullptr,
                         [&runner] { return runner.lastLaunchedPid(); }, hooks};
    wiring.serviceState = &serviceState;
    MainWindow window(std::move(wiring));
    // Being ended by the system counts as Exit: the background server stops with us.
    TerminationWatcher watcher([&window] { window.exitConsole(); });
    if (!hooks.startHidden) window.show();
    window.start();
    return QApplication::exec();
}
