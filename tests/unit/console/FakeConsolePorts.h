// Fakes for the console's service ports that write every step into one shared log,
// so tests can check the order of queries, children, signals and message boxes.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "console/logic/ConsoleProbes.h"
#include "console/logic/ServiceControlPorts.h"

namespace corvel {

struct StepLog {
    std::vector<std::string> steps;
    void add(std::string step) { steps.push_back(std::move(step)); }
};

// Answers queries from a script; the last answer repeats once the script runs out.
class FakeServiceManager : public ServiceManagerPort {
public:
    explicit FakeServiceManager(StepLog& log) : log_(log) {}
    std::deque<ServiceState> answers{ServiceState::NotInstalled};

    ServiceState queryState() override {
        const ServiceState state = answers.front();
        if (answers.size() > 1) answers.pop_front();
        log_.add(std::string("query ") + serviceStateName(state));
        return state;
    }
    void startService() override { log_.add("systemctl start"); }
    void stopService() override { log_.add("systemctl stop"); }

private:
    StepLog& log_;
};

class FakeProgramRunner : public ProgramRunnerPort {
public:
    explicit FakeProgramRunner(StepLog& log) : log_(log) {}
    bool runSucceeds = true;
    bool launchSucceeds = true;

    bool runAndWait(const std::string& program, const std::vector<std::string>& arguments) override {
        log_.add("run " + commandLine(program, arguments));
        return runSucceeds;
    }
    bool launch(const std::string& program, const std::vector<std::string>& arguments) override {
        log_.add("launch " + commandLine(program, arguments));
        return launchSucceeds;
    }

private:
    static std::string commandLine(const std::string& program, const std::vector<std::string>& arguments) {
        std::string line = program;
        for (const std::string& argument : arguments) line += " " + argument;
        return line;
    }
    StepLog& log_;
};

class FakeMessageBoxes : public MessageBoxPort {
public:
    explicit FakeMessageBoxes(StepLog& log) : log_(log) {}
    bool answerYes = true;

    void show(const std::string& text, const std::string& title, MessageIcon icon) override {
        log_.add(std::string(icon == MessageIcon::Error ? "error" : "information") + " box [" + title + "] " + text);
    }
    bool askYesNo(const std::string& text, const std::string& title) override {
        log_.add("question [" + title + "] " + text);
        return answerYes;
    }

private:
    StepLog& log_;
};

class FakeServerSignals : public ServerSignalPort {
public:
    explicit FakeServerSignals(StepLog& log) : log_(log) {}

    bool signalStop() override {
        log_.add("signal stop");
        return true;
    }
    void discardPendingStop() override { log_.add("discard pending stop"); }
    void pause(int milliseconds) override { log_.add("pause " + std::to_string(milliseconds)); }

private:
    StepLog& log_;
};

class FakeProbes : public ConsoleProbePort {
public:
    bool running = false;
    bool raise = false;
    StatusSnapshot snapshot;
    LocalHost host{"host.example", {"192.0.2.7"}};
    std::uint32_t clock = 1000000;

    bool serverSignalled() override { return running; }
    bool raiseRequested() override {
        const bool requested = raise;
        raise = false;
        return requested;
    }
    StatusSnapshot readStatus() override { return snapshot; }
    LocalHost localHost() override { return host; }
    std::uint32_t now() override { return clock; }
};

}  // namespace corvel
