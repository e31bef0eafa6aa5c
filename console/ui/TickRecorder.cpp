#include "console/ui/TickRecorder.h"

#include <QSaveFile>

#include "console/ui/Artwork.h"
#include "console/ui/MainWindow.h"
#include "console/ui/StatusPanel.h"

namespace corvel {
namespace {

// The tray picture as the dump names it.
std::string trayPictureName(TrayIconChoice choice) {
    switch (choice.picture) {
    case TrayPicture::Initial: return "initial";
    case TrayPicture::Stopped: return "stopped";
    case TrayPicture::Idle: return "idle";
    case TrayPicture::Busy: return "frame" + std::to_string(choice.frame);
    }
    return "?";
}


}  // namespace

TickRecorder::TickRecorder(ConsoleTestHooks hooks, std::function<long long()> serverPid)
    : hooks_(std::move(hooks)), serverPid_(std::move(serverPid)) {}

void TickRecorder::record(MainWindow& window) const {
    if (!hooks_.screenshotPath.empty()) {
        QSaveFile file(QString::fromStdString(hooks_.screenshotPath));
        if (file.open(QIODevice::WriteOnly) && window.grab().toImage().save(&file, "PNG")) (void)file.commit();
    }
    if (!hooks_.statusDumpPath.empty()) {
        StatusDumpContent content;
        content.serverRunning = window.serverRunning();
        content.trayPicture = trayPictureName(window.trayChoice());
        content.windowVisible = window.isVisible();
        const CommandStates states = window.commandStates();
        content.startEnabled = states.startEnabled;
        content.stopEnabled = states.stopEnabled;
        content.serviceModeEnabled = states.serviceModeEnabled;
        content.serviceModeChecked = states.serviceModeChecked;
        content.serverPid = serverPid_ ? serverPid_() : 0;
        content.panelLines = window.statusPanel()->lines();
        (void)writeStatusDump(hooks_.statusDumpPath, content);
    }
}

}  // namespace corvel
