#include "common/ProgramDirectory.h"


namespace corvel {

std::string directoryOfPath(const std::string& path) {
    auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(0, cut + 1);
}


}  // namespace corvel
