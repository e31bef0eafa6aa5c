// Which service commands are enabled and checked for every running flag and service state.

#include "console/logic/CommandStates.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

struct Row {
    bool running;
    ServiceState state;
    bool wasChecked;
    CommandStates expected;
};

TEST(CommandStates, FollowTheRunningFlagAndTheServiceManagerInEveryCombination) {
    using S = ServiceState;
    const Row rows[] = {
        // running, state, check mark before -> start, stop, mode enabled, mode checked
        {false, S::Running, false, {true, false, true, true}},
        {false, S::Stopped, false, {true, false, true, true}},
        {false, S::Transitional, false, {true, false, true, true}},
        {false, S::NotInstalled, true, {true, false, true, false}},
        {false, S::AccessDenied, false, {true, false, false, false}},
        {false, S::AccessDenied, true, {true, false, false, true}},
        {true, S::Running, false, {false, true, true, true}},
        {true, S::Stopped, false, {false, true, true, true}},
        {true, S::Transitional, false, {false, true, true, true}},
        {true, S::NotInstalled, true, {false, true, true, false}},
        {true, S::AccessDenied, false, {false, true, false, false}},
        {true, S::AccessDenied, true, {false, true, false, true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(serviceStateName(row.state)) + (row.running ? " running" : " not running") +
                     (row.wasChecked ? " checked" : " unchecked"));
        EXPECT_EQ(commandStatesFor(row.running, row.state, row.wasChecked), row.expected);
    }
}

}  // namespace
}  // namespace corvel
