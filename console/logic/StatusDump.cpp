#include "console/logic/StatusDump.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace corvel {

ConsoleTestHooks testHooksFromEnvironment() {
    ConsoleTestHooks hooks;
    hooks.statusDumpPath = qEnvironmentVariable("CORVELPANEL_STATUS_DUMP").toStdString();
    hooks.screenshotPath = qEnvironmentVariable("CORVELPANEL_SCREENSHOT").toStdString();
    hooks.startHidden = qEnvironmentVariable("CORVELPANEL_HIDDEN") == QStringLiteral("1");
    return hooks;
}

bool writeStatusDump(const std::string& path, const StatusDumpContent& content) {
    auto flag = [](bool value) { return value ? "1" : "0"; };
    std::string text;
    text += std::string("running=") + flag(content.serverRunning) + "\n";
    text += "tray=" + content.trayPicture + "\n";
    text += std::string("visible=") + flag(content.windowVisible) + "\n";
    text += std::string("start=") + flag(content.startEnabled) + "\n";
    text += std::string("stop=") + flag(content.stopEnabled) + "\n";
    text += std::string("servicemode=") + flag(content.serviceModeEnabled) + "\n";
    text += std::string("servicemodechecked=") + flag(content.serviceModeChecked) + "\n";
    text += "serverpid=" + std::to_string(content.serverPid) + "\n";
    text += "panel:\n";
    for (const std::string& line : content.panelLines) text += line + "\n";

    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(QByteArray::fromStdString(text));
    return file.commit();
}

}  // namespace corvel
