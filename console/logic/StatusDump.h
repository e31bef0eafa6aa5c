// Test hooks read from the environment, so that tests and the screenshot script can
// follow and picture the console without a desktop:
//   CORVELPANEL_STATUS_DUMP=<file>  rewrite <file> on every status tick with what it shows
//   CORVELPANEL_SCREENSHOT=<file>   save a PNG of the main window on every status tick
//   CORVELPANEL_HIDDEN=1            start with the window hidden, as if closed to the tray
#pragma once

#include <string>
#include <vector>

namespace corvel {

// What one tick showed. The file holds "key=value" lines, then the panel's lines:
//   running=0|1   tray=initial|stopped|idle|frame<N>   visible=0|1
//   start=0|1 stop=0|1 servicemode=0|1 servicemodechecked=0|1   serverpid=<pid or 0>
//   panel:
//   <each status line>
struct StatusDumpContent {
    bool serverRunning = false;
    std::string trayPicture;
    bool windowVisible = false;
    bool startEnabled = false;
    bool stopEnabled = false;
    bool serviceModeEnabled = false;
    bool serviceModeChecked = false;
    long long serverPid = 0;
    std::vector<std::string> panelLines;
};

struct ConsoleTestHooks {
    std::string statusDumpPath;  // empty: off
    std::string screenshotPath;  // empty: off
    bool startHidden = false;
};

ConsoleTestHooks testHooksFromEnvironment();

// Replaces the file atomically (temporary file and rename); false when that failed.
bool writeStatusDump(const std::string& path, const StatusDumpContent& content);

}  // namespace corvel
