// The console's test hooks: after every status tick, what the window shows as text
// (CORVELPANEL_STATUS_DUMP) and as a picture (CORVELPANEL_SCREENSHOT), for the tests
// and the screenshot scripts. Does nothing when the hooks are off.
#pragma once

#include <functional>

#include "console/logic/StatusDump.h"

namespace corvel {

class MainWindow;

// Owned by the window, on the UI thread.
class TickRecorder {
public:
    // serverPid tells the last background server launched (for the dump); may be empty.
    TickRecorder(ConsoleTestHooks hooks, std::function<long long()> serverPid);

    void record(MainWindow& window) const;

private:
    ConsoleTestHooks hooks_;
    std::function<long long()> serverPid_;
};

}  // namespace corvel
