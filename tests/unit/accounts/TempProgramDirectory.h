// A scratch program directory (and runtime directory for named objects) per test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace corvel {

class TempProgramDirectory {
public:
    TempProgramDirectory() {
        char pattern[] = "/tmp/corvel-test-XXXXXX";
        path_ = mkdtemp(pattern);
        std::filesystem::create_directory(path_ + "/run");
        setenv("CORVELFTP_RUNTIME_DIR", (path_ + "/run").c_str(), 1);
    }
    ~TempProgramDirectory() { std::filesystem::remove_all(path_); }

    std::string directory() const { return path_ + "/"; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& text) const { std::ofstream(file(name)) << text; }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};

}  // namespace corvel
