#include "config/XmlStore.h"

#include <tinyxml.h>

#include "common/XmlText.h"

namespace corvel {

bool saveAtomically(const TiXmlDocument& doc, const std::string& path, unsigned newFileMode) {
    // A file that does not load back would be taken for a damaged one on the next
    // load (and set aside with every account in it), so it never replaces the good one.
    return replaceFileAtomically(
        path, [&doc](std::FILE* file) { return doc.SaveFile(file); },
        [](const std::string& written) {
            TiXmlDocument check;
            return loadXmlFile(check, written);
        },
        newFileMode);
}

std::string xmlErrorText(const TiXmlDocument& doc) {
    std::string text = doc.ErrorDesc() ? doc.ErrorDesc() : "unknown error";
    if (doc.ErrorRow() > 0)
        text += " (line " + std::to_string(doc.ErrorRow()) + ", column " + std::to_string(doc.ErrorCol()) + ")";
    return text;
}

XmlLoad loadOrCreateDefault(TiXmlDocument& doc, const std::string& path, const char* defaultText,
                            unsigned newFileMode, std::string* reason) {
    if (loadXmlFile(doc, path)) return XmlLoad::Loaded;
    if (reason) *reason = xmlErrorText(doc);
    XmlLoad outcome = XmlLoad::ReplacedMissing;
    if (pathExists(path)) {
        // Keep what the administrator wrote: a damaged file is set aside, not lost.
        renamePath(path, path + ".broken");
        outcome = XmlLoad::ReplacedBroken;
    }
    parseXmlText(doc, defaultText);
    saveAtomically(doc, path, newFileMode);
    return outcome;
}

}  // namespace corvel
