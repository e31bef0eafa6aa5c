#include "common/XmlFiles.h"

namespace corvel {
namespace {

std::string escapeAttribute(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string defaultUsersDocument(const std::string& programDirectory) {
    std::string document = "<users>    <user username=\"anonymous\" password=\"";
    document += kAnonymousPasswordPlaceholder;
    document += "\" alias=\"anonymous\" privilege=\"131074\" work_dir=\"";
    document += escapeAttribute(programDirectory + kAnonymousDirectoryName);
    document += "\" welcome_msg=\"anonymous\" disabled=\"no\" /></users>";
    return document;
}

}  // namespace corvel
