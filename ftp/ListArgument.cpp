#include "ftp/ListArgument.h"

namespace corvel {

std::string skipListOptions(const std::string& argument) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t at = 0;
    while (at < argument.size() && isBlank(argument[at])) ++at;
    while (at < argument.size() && argument[at] == '-') {
        while (at < argument.size() && !isBlank(argument[at])) ++at;
        while (at < argument.size() && isBlank(argument[at])) ++at;
    }
    return argument.substr(at);
}

}  // namespace corvel
