// The format of ftpconfig.xml, owned here for every program: the server's settings,
// the console's dialog and the command-line tool read and write it only through this.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/XmlFile.h"

namespace corvel {

// Movable; owned by one thread. The file is read and written without a lock.
class SettingsFile : public XmlFile {
public:
    static SettingsFile read(const std::string& path);
    static SettingsFile parse(std::string_view text);
    // A document with an empty root ("<config></config>"), as a file the console creates.
    static SettingsFile empty();
    // Reads path; when that fails, the damaged file is kept as path + ".broken" and
    // the default document is saved and used. *reason says why it could not be read.
    static SettingsFile readOrCreateDefault(const std::string& path, XmlLoad* outcome, std::string* reason);

    bool hasRoot() const;
    // The text of the root's first child element of that name, when its first child
    // node is text; "" when it has no text; nullopt when there is no such element.
    std::optional<std::string> text(std::string_view element) const;
    // Makes that element hold exactly text (an element that is missing is added at
    // the end of the root); every other element stays as it is.
    void setText(std::string_view element, const std::string& text);
    // Takes the root's first child element of that name away (an optional setting
    // turned back to its default).
    void remove(std::string_view element);

    // A separate copy: change it, save it, and keep this one until the save succeeded.
    SettingsFile copy() const;

private:
    SettingsFile() = default;
};

}  // namespace corvel
