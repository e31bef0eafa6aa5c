// One QApplication for the tests that draw or build widgets, always without a display.
// It lives in a GoogleTest environment, so it ends before the process's static objects
// (Qt's own among them) are destroyed.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <QApplication>

namespace corvel {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[13] = "unit_console";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

// Registered once for the whole test binary; GoogleTest owns the environment.
inline ::testing::Environment* const kGuiEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

inline QApplication& guiApplication() { return *static_cast<QApplication*>(QCoreApplication::instance()); }

}  // namespace corvel
