// The main window against fakes, without a display: menus, toolbar, ticks, hiding and Exit.

#include "console/ui/MainWindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "FakeConsolePorts.h"
#include "GuiApplication.h"
#include "console/ui/StatusPanel.h"

namespace corvel {
namespace {

QStringList actionTexts(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* action : actions) texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() { guiApplication(); }

    ConsoleWiring wiring() {
        return ConsoleWiring{"/opt/corvel/", manager, runner, serverSignals, probes, &boxes, {}, {}, false};
    }
    int countSteps(const std::string& step) const { return int(std::count(log.steps.begin(), log.steps.end(), step)); }

    StepLog log;
    FakeServiceManager manager{log};
    FakeProgramRunner runner{log};
    FakeMessageBoxes boxes{log};
    FakeServerSignals serverSignals{log};
    FakeProbes probes;
};

TEST_F(MainWindowTest, HasTheTitleMenusAndToolbarInTheirOrder) {
    MainWindow window(wiring());
    EXPECT_EQ(window.windowTitle(), "CorvelFtp Server powered by Tessaly");
    QMenuBar* bar = window.menuBar();
    EXPECT_EQ(actionTexts(bar->actions()), (QStringList{"&Service", "&View", "Settings", "&Help"}));
    EXPECT_EQ(actionTexts(bar->actions()[0]->menu()->actions()),
              (QStringList{"&Start", "S&top", "-", "&NT Service Mode", "-", "E&xit"}));
    EXPECT_EQ(actionTexts(bar->actions()[1]->menu()->actions()), (QStringList{"&Toolbar", "&Status Bar"}));
    EXPECT_EQ(actionTexts(bar->actions()[2]->menu()->actions()), (QStringList{"&Basic", "-", "&ID", "&Policy"}));
    EXPECT_EQ(actionTexts(bar->actions()[3]->menu()->actions()), (QStringList{"&About"}));
    auto* toolBar = window.findChild<QToolBar*>("toolBar");
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(actionTexts(toolBar->actions()), (QStringList{"&Start", "S&top", "-", "&NT Service Mode", "-", "&Basic",
                                                            "-", "&ID", "&Policy", "-", "&About", "E&xit"}));
    EXPECT_EQ(actionTexts(window.trayMenu()->actions()),
              (QStringList{"&Start", "S&top", "-", "&NT Service Mode", "-", "E&xit"}));
}

TEST_F(MainWindowTest, CommandsCarryTheirPromptAndTooltip) {
    MainWindow window(wiring());
    auto* mode = window.findChild<QAction*>("serviceModeAction");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->statusTip(), "Enable/Disable NT Service Mode");
    EXPECT_EQ(mode->toolTip(), "NT Service Mode");
    EXPECT_TRUE(mode->isCheckable());
    auto* basic = window.findChild<QAction*>("basicAction");
    EXPECT_EQ(basic->statusTip(), "Set the basic configration");
    EXPECT_EQ(basic->toolTip(), "Basic Setting");
    EXPECT_NE(window.findChild<QToolButton*>("serviceModeActionButton"), nullptr);
}

TEST_F(MainWindowTest, StartingTheConsoleStartsTheServer) {
    MainWindow window(wiring());
    window.start();
    EXPECT_EQ(countSteps("launch /opt/corvel/corveld /nontservice"), 1);
}

TEST_F(MainWindowTest, ATickSwapsStartAndStopAndFollowsTheServiceManager) {
    MainWindow window(wiring());
    window.tick();
    EXPECT_EQ(window.commandStates(), (CommandStates{true, false, true, false}));
    EXPECT_EQ(window.trayChoice().picture, TrayPicture::Stopped);
    EXPECT_EQ(window.statusPanel()->lines(), (std::vector<std::string>{"CorvelFtp Service is stoped."}));

    probes.running = true;
    manager.answers = {ServiceState::Running};
    window.tick();
    EXPECT_EQ(window.commandStates(), (CommandStates{false, true, true, true}));
    EXPECT_EQ(window.trayChoice().picture, TrayPicture::Idle);

    manager.answers = {ServiceState::AccessDenied};
    window.tick();
    EXPECT_EQ(window.commandStates(), (CommandStates{false, true, false, true}));
}

TEST_F(MainWindowTest, TheTrayAnimatesFromTheNextTickAfterAConnectionIsSeen) {
    MainWindow window(wiring());
    probes.running = true;
    probes.snapshot.available = true;
    probes.snapshot.currentConnections = 1;
    window.tick();  // reads the status; the tray still went by the previous (empty) read
    EXPECT_EQ(window.trayChoice().picture, TrayPicture::Idle);
    EXPECT_EQ(window.statusPanel()->tile(), StatusTile::Green);
    for (int frame = 0; frame < 9; ++frame) {
        window.tick();
        EXPECT_EQ(window.trayChoice(), (TrayIconChoice{TrayPicture::Busy, frame % kTrayFrameCount}));
    }
    probes.snapshot.currentConnections = 0;
    window.tick();
    window.tick();
    EXPECT_EQ(window.trayChoice().picture, TrayPicture::Idle);
    EXPECT_EQ(window.statusPanel()->tile(), StatusTile::Blue);
}

TEST_F(MainWindowTest, ClosingOnlyHidesAndARaiseRequestShowsTheWindowAgain) {
    MainWindow window(wiring());
    window.show();
    EXPECT_FALSE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(countSteps("signal stop"), 0);
    probes.raise = true;
    window.tick();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, ExitSignalsTheStopEventOnceAndEndsWithCodeOne) {
    int code = -100;
    {
        MainWindow window(wiring());
        window.show();
        QTimer::singleShot(0, &window, [&window] { window.exitConsole(); });
        code = QApplication::exec();
        EXPECT_FALSE(window.isVisible());
    }
    EXPECT_EQ(code, 1);
    EXPECT_EQ(countSteps("signal stop"), 1);
}

TEST_F(MainWindowTest, TheServiceModeCheckMarkIgnoresTheClickWhenTheAnswerIsNo) {
    MainWindow window(wiring());
    boxes.answerYes = false;
    auto* mode = window.findChild<QAction*>("serviceModeAction");
    mode->trigger();
    EXPECT_FALSE(mode->isChecked());
    EXPECT_EQ(countSteps("question [Register Service] Sure to register to NT Service?"), 1);
}

}  // namespace
}  // namespace corvel
