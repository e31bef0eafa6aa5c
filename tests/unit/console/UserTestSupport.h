// Shared by the dialog tests: a scratch program directory, message boxes that record
// what they were shown and answer from a script, and a scripted folder picker.
#pragma once

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/logic/ServiceControlPorts.h"
#include "console/logic/UserFolderPicker.h"

namespace corvel::testing {

// A program directory (with its own runtime directory for named objects) per test.
class ScratchProgramDirectory {
public:
    ScratchProgramDirectory() {
        char pattern[] = "/tmp/corvel-dialogs-XXXXXX";
        path_ = ::mkdtemp(pattern);
        std::filesystem::create_directory(path_ + "/run");
        ::setenv("CORVELFTP_RUNTIME_DIR", (path_ + "/run").c_str(), 1);
    }
    ~ScratchProgramDirectory() { std::filesystem::remove_all(path_); }
    ScratchProgramDirectory(const ScratchProgramDirectory&) = delete;
    ScratchProgramDirectory& operator=(const ScratchProgramDirectory&) = delete;

    QString directory() const { return QString::fromStdString(path_ + "/"); }
    std::string root() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};

// One box as shown: its title and text, and whether it was a question.
struct ShownBox {
    std::string title;
    std::string text;
    bool question = false;
};

// Records every box; questions take the next scripted answer (No when none is left).
class RecordingBoxes : public MessageBoxPort {
public:
    void show(const std::string& text, const std::string& title, MessageIcon) override {
        shown.push_back({title, text, false});
    }
    bool askYesNo(const std::string& text, const std::string& title) override {
        shown.push_back({title, text, true});
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> all;
        for (const ShownBox& box : shown) all.push_back(box.text);
        return all;
    }

    std::deque<bool> answers;
    std::vector<ShownBox> shown;
};

class ScriptedPicker : public UserFolderPicker {
public:
    FolderChoice pickDirectory(const QString& title, const QString&) override {
        lastTitle = title;
        return answer;
    }
    FolderChoice answer;
    QString lastTitle;
};

}  // namespace corvel::testing
