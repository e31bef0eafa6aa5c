#include "accounts/XmlStore.h"

#include <tinyxml.h>

#include "common/XmlText.h"
#include "platform/AtomicFile.h"

namespace corvel {

bool saveAtomically(const TiXmlDocument& doc, const std::string& path) {
    // A file that does not load back would be taken for a damaged one on the next
    // load (and set aside with every account in it), so it never replaces the good one.
    return replaceFileAtomically(
        path, [&doc](std::FILE* file) { return doc.SaveFile(file); },
        [](const std::string& written) {
            TiXmlDocument check;
            return loadXmlFile(check, written);
        });
}

XmlLoad loadOrCreateDefault(TiXmlDocument& doc, const std::string& path, const char* defaultText) {
    if (loadXmlFile(doc, path)) return XmlLoad::Loaded;
    XmlLoad outcome = XmlLoad::ReplacedMissing;
    if (pathExists(path)) {
        // Keep what the administrator wrote: a damaged file is set aside, not lost.
        renamePath(path, path + ".broken");
        outcome = XmlLoad::ReplacedBroken;
    }
    parseXmlText(doc, defaultText);
    saveAtomically(doc, path);
    return outcome;
}

}  // namespace corvel
