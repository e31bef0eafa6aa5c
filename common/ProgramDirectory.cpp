#include "common/ProgramDirectory.h"

#include <filesystem>
#include <system_error>

namespace corvel {

std::string directoryOfPath(const std::string& path) {
    auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(0, cut + 1);
}

std::string programDirectory() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("./") : directoryOfPath(exe.string());
}

}  // namespace corvel
