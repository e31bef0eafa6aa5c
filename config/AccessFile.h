// The format of ftpaccess.xml, owned here for every program: the server's policy,
// the console's dialog and the command-line tool read and write it only through this.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/XmlFile.h"

namespace corvel {

enum class AccessMode {
    NoTable,  // the file has no iptable element (the server keeps the mode it had)
    Reject,   // type "REJECT": the listed addresses are refused
    Permit,   // any other type (the console writes "PASS"), or none: only the listed ones
};

// Movable; owned by one thread. The file is read and written without a lock.
class AccessFile : public XmlFile {
public:
    static AccessFile read(const std::string& path);
    static AccessFile parse(std::string_view text);
    // The default document: an empty reject list.
    static AccessFile defaultDocument();
    // Reads path; when that fails, the damaged file is kept as path + ".broken" and
    // the default document is saved and used. *reason says why it could not be read.
    static AccessFile readOrCreateDefault(const std::string& path, XmlLoad* outcome, std::string* reason);

    // The first iptable element's mode and its ip values in file order (ip elements
    // without a value are skipped).
    AccessMode mode() const;
    std::vector<std::string> patterns() const;

    // Makes the first iptable element (created when there is none) say mode ("PASS"
    // for Permit, "REJECT" otherwise) and hold exactly these patterns; its other
    // attributes and children, other iptable elements and everything else stay.
    void setPolicy(AccessMode mode, const std::vector<std::string>& patterns);

    // A separate copy: change it, save it, and keep this one until the save succeeded.
    AccessFile copy() const;

private:
    AccessFile() = default;
};

}  // namespace corvel
