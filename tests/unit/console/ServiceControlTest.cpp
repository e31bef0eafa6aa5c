// The steps and message boxes of the console's service commands, against fakes.

#include "console/logic/ServiceControl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeConsolePorts.h"

namespace corvel {
namespace {

using S = ServiceState;
using Steps = std::vector<std::string>;

const std::string kServer = "/opt/corvel/corveld";

class ServiceControlTest : public ::testing::Test {
protected:
    void answers(std::initializer_list<ServiceState> states) { manager.answers = states; }

    StepLog log;
    FakeServiceManager manager{log};
    FakeProgramRunner runner{log};
    FakeMessageBoxes boxes{log};
    FakeServerSignals serverSignals{log};
    ServiceControl control{kServer, manager, runner, boxes, serverSignals};
};

TEST_F(ServiceControlTest, StartWithoutTheServiceLaunchesABackgroundServerSilently) {
    answers({S::NotInstalled});
    control.startServer();
    EXPECT_EQ(log.steps, (Steps{"query NotInstalled", "discard pending stop", "launch " + kServer + " /nontservice"}));
}

TEST_F(ServiceControlTest, AFailedLaunchIsNotReported) {
    runner.launchSucceeds = false;
    control.startServer();
    EXPECT_EQ(log.steps.back(), "launch " + kServer + " /nontservice");
}

TEST_F(ServiceControlTest, StartOfARunningServiceFailsQuietlyWhenTheServiceRuns) {
    answers({S::Running, S::Running});
    control.startServer();
    EXPECT_EQ(log.steps, (Steps{"query Running", "discard pending stop", "systemctl start", "query Running"}));
}

TEST_F(ServiceControlTest, StartOfTheServiceThatDoesNotComeUpIsReported) {
    answers({S::Stopped, S::Transitional});
    control.startServer();
    EXPECT_EQ(log.steps.back(), "error box [Start Service] Start service failed");
}

TEST_F(ServiceControlTest, AccessDeniedTakesTheServicePathAndReportsFailures) {
    answers({S::AccessDenied});
    control.startServer();
    control.stopServer();
    EXPECT_EQ(log.steps, (Steps{"query AccessDenied", "discard pending stop", "systemctl start", "query AccessDenied",
                                "error box [Start Service] Start service failed", "query AccessDenied",
                                "systemctl stop", "query AccessDenied", "error box [Stop Service] Stop service failed"}));
}

TEST_F(ServiceControlTest, StopWithoutTheServiceSignalsTheStopEventSilently) {
    answers({S::NotInstalled});
    control.stopServer();
    EXPECT_EQ(log.steps, (Steps{"query NotInstalled", "signal stop"}));
}

TEST_F(ServiceControlTest, StopOfTheServiceChecksThatItStopped) {
    answers({S::Running, S::Stopped});
    control.stopServer();
    EXPECT_EQ(log.steps, (Steps{"query Running", "systemctl stop", "query Stopped"}));

    log.steps.clear();
    answers({S::Running, S::Running});
    control.stopServer();
    EXPECT_EQ(log.steps.back(), "error box [Stop Service] Stop service failed");
}

TEST_F(ServiceControlTest, RegistrationRunsTheServerWithInstallAndReportsTheOutcome) {
    struct Case {
        ServiceState after;
        std::string box;
    } cases[] = {
        {S::Stopped, "information box [Register Service] Register service to Windows System successfully"},
        {S::Running, "information box [Register Service] Register service to Windows System successfully"},
        // A query refused after the run still counts as registered.
        {S::AccessDenied, "information box [Register Service] Register service to Windows System successfully"},
        {S::NotInstalled, "error box [Register Service] Register service to Windows System failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(serviceStateName(c.after));
        log.steps.clear();
        answers({S::NotInstalled, c.after});
        control.toggleServiceRegistration();
        EXPECT_EQ(log.steps, (Steps{"query NotInstalled", "run " + kServer + " -i",
                                    std::string("query ") + serviceStateName(c.after), c.box}));
    }
}

TEST_F(ServiceControlTest, AnInstallRunThatFailsEndsWithItsOwnBox) {
    answers({S::NotInstalled});
    runner.runSucceeds = false;
    control.toggleServiceRegistration();
    EXPECT_EQ(log.steps, (Steps{"query NotInstalled", "run " + kServer + " -i",
                                "error box [Install Service] Install service failed"}));
}

TEST_F(ServiceControlTest, RemovalRunsTheServerWithUninstallThenWaitsBeforeChecking) {
    answers({S::Stopped, S::NotInstalled});
    control.toggleServiceRegistration();
    EXPECT_EQ(log.steps, (Steps{"query Stopped", "run " + kServer + " -u", "pause 500", "query NotInstalled",
                                "information box [Unregister Service] Unregister service successfully"}));

    for (ServiceState stillThere : {S::Running, S::AccessDenied}) {
        log.steps.clear();
        answers({S::AccessDenied, stillThere});
        control.toggleServiceRegistration();
        EXPECT_EQ(log.steps.back(), "error box [Unregister Service] Unregister service failed");
    }
}

TEST_F(ServiceControlTest, AnUninstallRunThatFailsIsReportedWithoutWaiting) {
    answers({S::Running});
    runner.runSucceeds = false;
    control.toggleServiceRegistration();
    EXPECT_EQ(log.steps, (Steps{"query Running", "run " + kServer + " -u",
                                "error box [Unregister Service] Unregister service failed"}));
}

TEST_F(ServiceControlTest, SwitchingServiceModeOnStopsTheBackgroundServerRegistersAndStartsTheService) {
    answers({S::NotInstalled, S::NotInstalled, S::NotInstalled, S::Stopped, S::Stopped, S::Running});
    EXPECT_EQ(control.serviceModeCommand(), std::optional<bool>(true));
    EXPECT_EQ(log.steps, (Steps{
                             "query NotInstalled",
                             "question [Register Service] Sure to register to NT Service?",
                             "query NotInstalled", "signal stop",
                             "query NotInstalled", "run " + kServer + " -i", "query Stopped",
                             "information box [Register Service] Register service to Windows System successfully",
                             "query Stopped", "discard pending stop", "systemctl start", "query Running",
                         }));
}

TEST_F(ServiceControlTest, SwitchingServiceModeOffStopsAndRemovesTheServiceAndLaunchesTheServer) {
    answers({S::Running, S::Running, S::Stopped, S::Stopped, S::NotInstalled, S::NotInstalled});
    EXPECT_EQ(control.serviceModeCommand(), std::optional<bool>(false));
    EXPECT_EQ(log.steps, (Steps{
                             "query Running",
                             "question [Unregister Service] Sure to unregister from NT Service??",
                             "query Running", "systemctl stop", "query Stopped",
                             "query Stopped", "run " + kServer + " -u", "pause 500", "query NotInstalled",
                             "information box [Unregister Service] Unregister service successfully",
                             "query NotInstalled", "discard pending stop", "launch " + kServer + " /nontservice",
                         }));
}

TEST_F(ServiceControlTest, AnsweringNoChangesNothing) {
    answers({S::NotInstalled});
    boxes.answerYes = false;
    EXPECT_EQ(control.serviceModeCommand(), std::nullopt);
    EXPECT_EQ(log.steps, (Steps{"query NotInstalled", "question [Register Service] Sure to register to NT Service?"}));
}

TEST_F(ServiceControlTest, TheModeIsRememberedFromTheFirstUseWhateverTheServiceManagerSaysLater) {
    answers({S::NotInstalled});
    boxes.answerYes = false;
    (void)control.serviceModeCommand();
    answers({S::Running});
    log.steps.clear();
    (void)control.serviceModeCommand();
    // Still the register question, and the manager is not asked again for it.
    EXPECT_EQ(log.steps, (Steps{"question [Register Service] Sure to register to NT Service?"}));

    boxes.answerYes = true;
    answers({S::NotInstalled});
    EXPECT_EQ(control.serviceModeCommand(), std::optional<bool>(true));
    log.steps.clear();
    boxes.answerYes = false;
    (void)control.serviceModeCommand();
    EXPECT_EQ(log.steps, (Steps{"question [Unregister Service] Sure to unregister from NT Service??"}));
}

TEST_F(ServiceControlTest, AnAccountWithoutAccessIsOfferedToUnregister) {
    answers({S::AccessDenied});
    boxes.answerYes = false;
    (void)control.serviceModeCommand();
    EXPECT_EQ(log.steps.back(), "question [Unregister Service] Sure to unregister from NT Service??");
}

TEST_F(ServiceControlTest, RestartOfABackgroundServerSignalsWaitsAndLaunchesAnew) {
    answers({S::NotInstalled});
    control.restartServer();
    EXPECT_EQ(log.steps, (Steps{"query NotInstalled", "signal stop", "pause 1000", "query NotInstalled",
                                "discard pending stop", "launch " + kServer + " /nontservice"}));
}

TEST_F(ServiceControlTest, RestartOfTheServiceGoesOnAfterAFailedStop) {
    answers({S::Running, S::Running, S::Running, S::Stopped});
    control.restartServer();
    EXPECT_EQ(log.steps, (Steps{"query Running", "systemctl stop", "query Running",
                                "error box [Stop Service] Stop service failed", "pause 1000", "query Running",
                                "discard pending stop", "systemctl start", "query Stopped",
                                "error box [Start Service] Start service failed"}));
}

}  // namespace
}  // namespace corvel
