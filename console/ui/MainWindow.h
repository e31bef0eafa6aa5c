// The console's main window: menus, toolbar, status bar and status panel, the tray
// icon, and the 200 ms status tick that keeps them current.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QMainWindow>
#include <QTimer>

#include "console/logic/CommandStates.h"
#include "console/logic/ConsoleProbes.h"
#include "console/logic/ServiceControl.h"
#include "console/logic/ServiceStateWatcher.h"
#include "console/logic/StatusDump.h"
#include "console/logic/TrayAnimation.h"
#include "console/ui/TickRecorder.h"

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QToolBar;

namespace corvel {

class StatusPanel;

// What the window acts through. main() gives the real objects, tests give fakes.
// Everything referenced must outlive the window.
struct ConsoleWiring {
    std::string programDirectory;  // ends with '/'
    ServiceManagerPort& manager;
    ProgramRunnerPort& runner;
    ServerSignalPort& serverSignals;
    ConsoleProbePort& probes;
    MessageBoxPort* boxes = nullptr;           // nullptr: real message boxes
    std::function<long long()> serverPid;      // last background server launched, for the dump
    ConsoleTestHooks hooks;
    bool useSystemTray = true;                 // false: never show a tray icon
    // Where the tick learns the service's state; nullptr: the manager is asked on
    // every tick (tests, whose fake answers at once).
    ServiceStateWatcher* serviceState = nullptr;
};

// Lives on the UI thread. Closing or minimising hides it; only Exit ends the console,
// with exit code 1, after signalling the server's stop event.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(ConsoleWiring wiring, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts the server and the status timer, as a console start does.
    void start();
    // One status tick: running flag, tray, service mode, commands, raise, status.
    void tick();
    // Exit: signal the stop event, remove the tray icon, end the event loop with 1.
    void exitConsole();
    // Shows the window as a left click on the tray icon does.
    void showFromTray();

    bool serverRunning() const { return serverRunning_; }
    TrayIconChoice trayChoice() const { return trayChoice_; }
    CommandStates commandStates() const;
    StatusPanel* statusPanel() const { return panel_; }
    QMenu* trayMenu() const { return trayMenu_; }
    bool trayShown() const { return tray_ != nullptr; }

    static constexpr int kStatusTickMs = 200;
    // Exit code of a console ended by Exit.
    static constexpr int kExitCode = 1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QAction* makeAction(const QString& name, const QString& text, const QString& prompt, const QString& tip);
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void buildTray();
    void applyCommandStates(const CommandStates& states);
    void setTrayPicture(TrayIconChoice choice);
    void onServiceModeTriggered();
    void openBasicSettings();
    void openUserAdministration();
    void openPolicy();
    void showAbout();
    void signalStopOnce();
    // After a command: the watcher asks for the state again at once.
    void refreshServiceState();

    ConsoleWiring wiring_;
    std::unique_ptr<MessageBoxPort> ownBoxes_;
    ServiceControl control_;
    TrayAnimation animation_;
    StatusSnapshot snapshot_;
    TrayIconChoice trayChoice_;
    bool serverRunning_ = false;
    bool exiting_ = false;
    bool stopSignalled_ = false;
    QTimer statusTimer_;
    TickRecorder recorder_;

    // Owned by Qt's parent chain (this window).
    QAction* startAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QAction* serviceModeAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* toolBarAction_ = nullptr;
    QAction* statusBarAction_ = nullptr;
    QAction* basicAction_ = nullptr;
    QAction* idAction_ = nullptr;
    QAction* policyAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* welcome_ = nullptr;
    StatusPanel* panel_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace corvel
