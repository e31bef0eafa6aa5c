// Runs corvelctl's commands in-process against a scratch program directory, with
// scripted password answers and the output collected.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "ctl/Corvelctl.h"
#include "tests/unit/accounts/TempProgramDirectory.h"

namespace corvel::testing {

// Hands out the scripted lines in order; past the script, the input has ended.
class ScriptedPasswords : public PasswordSource {
public:
    void type(std::string text) { lines_.push_back({LineStatus::Read, std::move(text)}); }
    void answer(LineStatus status) { lines_.push_back({status, {}}); }

    InputLine readStandardInput() override { return next(); }
    InputLine askHidden(std::string_view prompt) override {
        prompts.emplace_back(prompt);
        return next();
    }

    std::vector<std::string> prompts;

private:
    InputLine next() {
        if (lines_.empty()) return {LineStatus::EndOfInput, {}};
        InputLine line = lines_.front();
        lines_.pop_front();
        return line;
    }
    std::deque<InputLine> lines_;
};

struct CtlResult {
    int status = -1;
    std::string out;
    std::string err;
};

// A program directory with its own runtime directory, and corvelctl run in it.
class CtlFixture : public ::testing::Test {
protected:
    CtlResult run(const std::vector<std::string>& arguments) {
        std::ostringstream out, err;
        CtlIo io{out, err, passwords};
        CtlResult result;
        result.status = runCorvelctl(arguments, dir.directory(), io);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    TempProgramDirectory dir;
    ScriptedPasswords passwords;
};

}  // namespace corvel::testing
