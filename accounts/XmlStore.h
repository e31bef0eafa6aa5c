// Loading and saving the three XML files: a damaged file is kept aside before the
// default document replaces it, and every save replaces the file atomically.
#pragma once

#include <string>

class TiXmlDocument;

namespace corvel {

enum class XmlLoad {
    Loaded,           // the file was read
    ReplacedMissing,  // no file: the default document was used (and saved)
    ReplacedBroken,   // unreadable or malformed: kept as NAME.broken, default used
};

// Loads path into doc. When that fails, a file that exists is renamed to
// path + ".broken", then defaultText is parsed into doc and saved to path (a save
// that fails is not reported: the default is used in memory for this run).
XmlLoad loadOrCreateDefault(TiXmlDocument& doc, const std::string& path, const char* defaultText);

// Saves doc to path through a temporary file and a rename, only once the written
// file has loaded back; false (path untouched) when anything failed.
bool saveAtomically(const TiXmlDocument& doc, const std::string& path);

}  // namespace corvel
