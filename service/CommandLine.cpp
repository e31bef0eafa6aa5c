#include "service/CommandLine.h"

namespace corvel {

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine parsed;
    if (arguments.size() == 1 && arguments[0] == "/nontservice") {
        parsed.action = CommandAction::Plain;
        return parsed;
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument[0] != '-') continue;
        switch (argument[1]) {
            case 'd':
                parsed.action = CommandAction::DebugConsole;
                return parsed;
            case 'f':
                parsed.action = CommandAction::Faceless;
                return parsed;
            case 'i': parsed.action = CommandAction::Install; break;
            case 'u': parsed.action = CommandAction::Remove; break;
            case 's': parsed.action = CommandAction::Start; break;
            case 'e': parsed.action = CommandAction::Stop; break;
            case 'l':
            case 'p': {
                std::string value = argument.substr(2);
                if (value.empty()) {
                    if (i + 1 >= arguments.size()) return parsed;
                    value = arguments[++i];
                }
                (argument[1] == 'l' ? parsed.account : parsed.password) = value;
                break;
            }
            default: break;
        }
    }
    return parsed;
}

}  // namespace corvel
