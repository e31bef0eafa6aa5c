#include "console/ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>

#include "console/logic/StatusLines.h"
#include "console/ui/Artwork.h"
#include "console/ui/PolicyDialog.h"
#include "console/ui/QtMessageBoxes.h"
#include "console/ui/SettingsDialog.h"
#include "console/ui/StatusPanel.h"
#include "console/ui/UserAdminDialog.h"

namespace corvel {
namespace {

const QString kWindowTitle = QStringLiteral("CorvelFtp Server powered by Tessaly");
const QString kTrayTipAtStart = QStringLiteral("Tessaly Lumo-FTP Server");
const QString kTrayTip = QStringLiteral("Tessaly LumoFtp Server Console");
const QString kWelcome = QStringLiteral("CorvelFtp Server console.");
const QString kNoTray = QStringLiteral(" No system tray: start it again to show a closed window.");

}  // namespace

MainWindow::MainWindow(ConsoleWiring wiring, QWidget* parent)
    : QMainWindow(parent),
      wiring_(std::move(wiring)),
      ownBoxes_(wiring_.boxes ? nullptr : std::make_unique<QtMessageBoxes>(this)),
      control_(wiring_.programDirectory + "corveld", wiring_.manager, wiring_.runner,
               wiring_.boxes ? *wiring_.boxes : *ownBoxes_, wiring_.serverSignals),
      recorder_(wiring_.hooks, wiring_.serverPid) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(kWindowTitle);
    setWindowIcon(trayIcon({TrayPicture::Initial, 0}));
    resize(560, 300);
    setContextMenuPolicy(Qt::NoContextMenu);  // the bars are toggled from the View menu only
    buildActions();
    buildMenus();
    buildToolBar();
    buildStatusBar();
    panel_ = new StatusPanel(this);
    setCentralWidget(panel_);
    buildTray();
    statusTimer_.setObjectName(QStringLiteral("statusTimer"));
    statusTimer_.setInterval(kStatusTickMs);
    connect(&statusTimer_, &QTimer::timeout, this, &MainWindow::tick);
}

MainWindow::~MainWindow() { signalStopOnce(); }

QAction* MainWindow::makeAction(const QString& name, const QString& text, const QString& prompt, const QString& tip) {
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    action->setStatusTip(prompt);
    action->setToolTip(tip);
    return action;
}

void MainWindow::buildActions() {
    startAction_ = makeAction("startAction", "&Start", "Start the Ftp Service", "Start");
    startAction_->setIcon(commandIcon(CommandPicture::Start));
    connect(startAction_, &QAction::triggered, this, [this] {
        control_.startServer();
        refreshServiceState();
    });

    stopAction_ = makeAction("stopAction", "S&top", "Stop the Ftp Service", "Stop");
    stopAction_->setIcon(commandIcon(CommandPicture::Stop));
    connect(stopAction_, &QAction::triggered, this, [this] {
        control_.stopServer();
        refreshServiceState();
    });

    serviceModeAction_ = makeAction("serviceModeAction", "&NT Service Mode", "Enable/Disable NT Service Mode",
                                    "NT Service Mode");
    serviceModeAction_->setIcon(commandIcon(CommandPicture::ServiceMode));
    serviceModeAction_->setCheckable(true);
    connect(serviceModeAction_, &QAction::triggered, this, &MainWindow::onServiceModeTriggered);

    exitAction_ = makeAction("exitAction", "E&xit", "Quit the application; prompts to save documents", "Exit");
    exitAction_->setIcon(commandIcon(CommandPicture::Exit));
    connect(exitAction_, &QAction::triggered, this, &MainWindow::exitConsole);

    toolBarAction_ = makeAction("toolBarAction", "&Toolbar", "Show or hide the toolbar", "Toggle ToolBar");
    toolBarAction_->setCheckable(true);
    toolBarAction_->setChecked(true);
    connect(toolBarAction_, &QAction::toggled, this, [this](bool on) { toolBar_->setVisible(on); });

    statusBarAction_ = makeAction("statusBarAction", "&Status Bar", "Show or hide the status bar", "Toggle StatusBar");
    statusBarAction_->setCheckable(true);
    statusBarAction_->setChecked(true);
    connect(statusBarAction_, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

    basicAction_ = makeAction("basicAction", "&Basic", "Set the basic configration", "Basic Setting");
    basicAction_->setIcon(commandIcon(CommandPicture::Basic));
    connect(basicAction_, &QAction::triggered, this, &MainWindow::openBasicSettings);

    idAction_ = makeAction("idAction", "&ID", "Administrate the accountid", "ID");
    idAction_->setIcon(commandIcon(CommandPicture::Id));
    connect(idAction_, &QAction::triggered, this, &MainWindow::openUserAdministration);

    policyAction_ = makeAction("policyAction", "&Policy", "Administrate the access policy", "Policy");
    policyAction_->setIcon(commandIcon(CommandPicture::Policy));
    connect(policyAction_, &QAction::triggered, this, &MainWindow::openPolicy);

    aboutAction_ = makeAction("aboutAction", "&About",
                              "Display program information, version number and copyright", "About");
    aboutAction_->setIcon(commandIcon(CommandPicture::About));
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    QMenu* service = bar->addMenu(QStringLiteral("&Service"));
    service->setObjectName(QStringLiteral("serviceMenu"));
    service->addAction(startAction_);
    service->addAction(stopAction_);
    service->addSeparator();
    service->addAction(serviceModeAction_);
    service->addSeparator();
    service->addAction(exitAction_);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    view->addAction(toolBarAction_);
    view->addAction(statusBarAction_);

    QMenu* settings = bar->addMenu(QStringLiteral("Settings"));
    settings->setObjectName(QStringLiteral("settingsMenu"));
    settings->addAction(basicAction_);
    settings->addSeparator();
    settings->addAction(idAction_);
    settings->addAction(policyAction_);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addAction(aboutAction_);
}

void MainWindow::buildToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(24, 24));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->addAction(startAction_);
    toolBar_->addAction(stopAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(serviceModeAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(basicAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(idAction_);
    toolBar_->addAction(policyAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(aboutAction_);
    toolBar_->addAction(exitAction_);
    for (QAction* action : toolBar_->actions()) {
        if (QWidget* button = toolBar_->widgetForAction(action); button && !action->isSeparator())
            button->setObjectName(action->objectName() + QStringLiteral("Button"));
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
}

void MainWindow::buildStatusBar() {
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    // A normal widget: the bar hides it while it shows a highlighted command's prompt.
    welcome_ = new QLabel(kWelcome, this);
    welcome_->setObjectName(QStringLiteral("welcomeLabel"));
    statusBar()->addWidget(welcome_, 1);
}

void MainWindow::buildTray() {
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("trayMenu"));
    trayMenu_->addAction(startAction_);
    trayMenu_->addAction(stopAction_);
    trayMenu_->addSeparator();
    trayMenu_->addAction(serviceModeAction_);
    trayMenu_->addSeparator();
    trayMenu_->addAction(exitAction_);

    if (!wiring_.useSystemTray || !QSystemTrayIcon::isSystemTrayAvailable()) {
        welcome_->setText(kWelcome + kNoTray);
        return;
    }
    tray_ = new QSystemTrayIcon(trayIcon({TrayPicture::Initial, 0}), this);
    tray_->setObjectName(QStringLiteral("trayIcon"));
    tray_->setToolTip(kTrayTipAtStart);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) showFromTray();
    });
    tray_->show();
}

void MainWindow::start() {
    control_.startServer();
    statusTimer_.start();
}

void MainWindow::refreshServiceState() {
    if (wiring_.serviceState) wiring_.serviceState->refresh();
}

CommandStates MainWindow::commandStates() const {
    CommandStates states;
    states.startEnabled = startAction_->isEnabled();
    states.stopEnabled = stopAction_->isEnabled();
    states.serviceModeEnabled = serviceModeAction_->isEnabled();
    states.serviceModeChecked = serviceModeAction_->isChecked();
    return states;
}

void MainWindow::applyCommandStates(const CommandStates& states) {
    startAction_->setEnabled(states.startEnabled);
    stopAction_->setEnabled(states.stopEnabled);
    serviceModeAction_->setEnabled(states.serviceModeEnabled);
    serviceModeAction_->setChecked(states.serviceModeChecked);
}

void MainWindow::setTrayPicture(TrayIconChoice choice) {
    const bool changed = !(choice == trayChoice_);
    trayChoice_ = choice;
    if (!tray_) return;
    if (changed) tray_->setIcon(trayIcon(choice));
    tray_->setToolTip(kTrayTip);
}

void MainWindow::tick() {
    serverRunning_ = wiring_.probes.serverSignalled();
    setTrayPicture(animation_.next(serverRunning_, snapshot_.active()));
    // The real console reads the answer of a thread of its own: systemctl may take a
    // while, and the window must not wait for it five times a second.
    const ServiceState state =
        wiring_.serviceState ? wiring_.serviceState->latest() : control_.queryServiceState();
    applyCommandStates(commandStatesFor(serverRunning_, state, serviceModeAction_->isChecked()));
    if (wiring_.probes.raiseRequested()) showFromTray();
    snapshot_ = wiring_.probes.readStatus();
    panel_->showStatus(statusTileFor(snapshot_),
                       statusLines(snapshot_, wiring_.probes.localHost(), wiring_.probes.now()));
    recorder_.record(*this);
}

void MainWindow::showFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    QApplication::alert(this, 1000);  // flash the caption once
}

void MainWindow::onServiceModeTriggered() {
    // The check mark follows the command's outcome, not the click that toggled it.
    const bool before = !serviceModeAction_->isChecked();
    serviceModeAction_->setChecked(before);
    if (std::optional<bool> mode = control_.serviceModeCommand()) serviceModeAction_->setChecked(*mode);
    refreshServiceState();
}

void MainWindow::openBasicSettings() {
    SettingsDialog dialog(QString::fromStdString(wiring_.programDirectory), this);
    dialog.setObjectName(QStringLiteral("settingsDialog"));
    // Queued like the window message it stands for: the restart runs after the dialog closed.
    connect(&dialog, &SettingsDialog::restartServerRequested, this, [this] {
        control_.restartServer();
        refreshServiceState();
    },
            Qt::QueuedConnection);
    dialog.exec();
}

void MainWindow::openUserAdministration() {
    UserAdminDialog dialog(QString::fromStdString(wiring_.programDirectory), this);
    dialog.setObjectName(QStringLiteral("userAdminDialog"));
    dialog.exec();
}

void MainWindow::openPolicy() {
    PolicyDialog dialog(QString::fromStdString(wiring_.programDirectory), this);
    dialog.setObjectName(QStringLiteral("policyDialog"));
    dialog.exec();
}

void MainWindow::showAbout() {
    QMessageBox::about(this, QStringLiteral("About CorvelFtp"),
                       QStringLiteral("CorvelFtp Server console, version 1.0\n\n"
                                      "Starts, stops and configures the CorvelFtp server and shows its status.\n"
                                      "Copyright (C) the CorvelFtp developers."));
}

void MainWindow::signalStopOnce() {
    if (stopSignalled_) return;
    stopSignalled_ = true;
    (void)wiring_.serverSignals.signalStop();
}

void MainWindow::exitConsole() {
    exiting_ = true;
    statusTimer_.stop();
    signalStopOnce();
    if (tray_) tray_->hide();
    close();
    QCoreApplication::exit(kExitCode);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && !exiting_) {
        // Minimising hides the window to the tray; hide only after the state change settled.
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            hide();
        });
    }
}

}  // namespace corvel
