// Loading and saving the three XML files: a damaged file is kept aside before the
// default document replaces it, and every save replaces the file atomically.
#pragma once

#include <string>

#include "platform/AtomicFile.h"

class TiXmlDocument;

namespace corvel {

enum class XmlLoad {
    Loaded,           // the file was read
    ReplacedMissing,  // no file: the default document was used (and saved)
    ReplacedBroken,   // unreadable or malformed: kept as NAME.broken, default used
};

// Loads path into doc. When that fails, a file that exists is renamed to
// path + ".broken", then defaultText is parsed into doc and saved to path (a save
// that fails is not reported: the default is used in memory for this run). A new
// file gets newFileMode. *reason (when given) says why the file could not be read.
XmlLoad loadOrCreateDefault(TiXmlDocument& doc, const std::string& path, const char* defaultText,
                            unsigned newFileMode = kPublicFileMode, std::string* reason = nullptr);

// Saves doc to path through a temporary file and a rename, only once the written
// file has loaded back; false (path untouched) when anything failed. A new file
// gets newFileMode; an existing one keeps its mode.
bool saveAtomically(const TiXmlDocument& doc, const std::string& path, unsigned newFileMode = kPublicFileMode);

// Why doc failed to load, for people: the library's description and the position,
// e.g. "Error reading end tag. (line 3, column 7)".
std::string xmlErrorText(const TiXmlDocument& doc);

}  // namespace corvel
