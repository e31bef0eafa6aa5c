// One of the three XML files held whole as it was read, so that every rewrite keeps
// the elements and attributes this program does not know; the base of the three
// format owners (UsersFile, AccessFile, SettingsFile).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "config/XmlStore.h"

class TiXmlDocument;

namespace corvel {

enum class FileRead {
    Loaded,      // read and well-formed
    Missing,     // no file at the path
    Unreadable,  // exists, but could not be read or is not well-formed XML
};

// Movable, not copyable; owned by one thread.
class XmlFile {
public:
    XmlFile(XmlFile&&) noexcept;
    XmlFile& operator=(XmlFile&&) noexcept;
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;
    ~XmlFile();

    FileRead status() const { return status_; }
    bool loaded() const { return status_ == FileRead::Loaded; }
    // Why the file could not be read ("Error reading end tag."), and where (0: unknown).
    const std::string& error() const { return error_; }
    int errorLine() const { return errorLine_; }
    // The library's description with the position, e.g. "Error reading end tag. (line 3, column 7)".
    std::string errorText() const;

    // Writes the document to path through a temporary file and a rename, only once
    // the written file loads back; a new file gets newFileMode. false (path
    // untouched) when anything failed.
    [[nodiscard]] bool save(const std::string& path, unsigned newFileMode = kPublicFileMode) const;

protected:
    XmlFile();
    // A copy of other's document and read status, for an editor that changes a copy
    // and keeps the original until the copy is written.
    void copyFrom(const XmlFile& other);
    // Reads path; a missing file or a malformed one leaves an empty document.
    void read(const std::string& path);
    // Parses text (Unreadable when malformed).
    void parse(std::string_view text);
    // Reads path, or when it cannot be read keeps it aside as path + ".broken" (if
    // it exists) and saves defaultText there; the document is then the default.
    XmlLoad readOrCreateDefault(const std::string& path, const std::string& defaultText, unsigned newFileMode,
                                std::string* reason);

    TiXmlDocument& document() { return *document_; }
    const TiXmlDocument& document() const { return *document_; }

private:
    void takeError();

    std::unique_ptr<TiXmlDocument> document_;
    FileRead status_ = FileRead::Missing;
    std::string error_;
    int errorLine_ = 0;
};

}  // namespace corvel
