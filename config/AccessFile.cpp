#include "config/AccessFile.h"

#include <tinyxml.h>

#include "common/XmlFiles.h"

namespace corvel {

AccessFile AccessFile::read(const std::string& path) {
    AccessFile file;
    file.XmlFile::read(path);
    return file;
}

AccessFile AccessFile::copy() const {
    AccessFile file;
    file.copyFrom(*this);
    return file;
}

AccessFile AccessFile::parse(std::string_view text) {
    AccessFile file;
    file.XmlFile::parse(text);
    return file;
}

AccessFile AccessFile::defaultDocument() { return parse(kDefaultAccessDocument); }

AccessFile AccessFile::readOrCreateDefault(const std::string& path, XmlLoad* outcome, std::string* reason) {
    AccessFile file;
    XmlLoad result = file.XmlFile::readOrCreateDefault(path, kDefaultAccessDocument, kPublicFileMode, reason);
    if (outcome) *outcome = result;
    return file;
}

AccessMode AccessFile::mode() const {
    const TiXmlElement* root = document().RootElement();
    const TiXmlElement* table = root ? root->FirstChildElement("iptable") : nullptr;
    if (!table) return AccessMode::NoTable;
    const char* type = table->Attribute("type");
    // Only the exact word REJECT selects reject mode; a missing type permits only the list.
    return type && std::string(type) == "REJECT" ? AccessMode::Reject : AccessMode::Permit;
}

std::vector<std::string> AccessFile::patterns() const {
    std::vector<std::string> result;
    const TiXmlElement* root = document().RootElement();
    const TiXmlElement* table = root ? root->FirstChildElement("iptable") : nullptr;
    if (!table) return result;
    for (const TiXmlElement* ip = table->FirstChildElement("ip"); ip; ip = ip->NextSiblingElement("ip"))
        if (const char* value = ip->Attribute("value")) result.emplace_back(value);
    return result;
}

void AccessFile::setPolicy(AccessMode mode, const std::vector<std::string>& patterns) {
    TiXmlElement* root = document().RootElement();
    if (!root) {
        document().Clear();
        document().InsertEndChild(TiXmlElement("access"));
        root = document().RootElement();
    }
    TiXmlElement* table = root->FirstChildElement("iptable");
    if (!table) table = root->InsertEndChild(TiXmlElement("iptable"))->ToElement();
    table->SetAttribute("type", mode == AccessMode::Permit ? "PASS" : "REJECT");

    std::vector<TiXmlElement*> original;
    for (TiXmlElement* ip = table->FirstChildElement("ip"); ip; ip = ip->NextSiblingElement("ip"))
        original.push_back(ip);
    TiXmlNode* anchor = original.empty() ? nullptr : original.front();
    for (const std::string& pattern : patterns) {
        TiXmlElement ip("ip");
        ip.SetAttribute("value", pattern);
        if (anchor)
            table->InsertBeforeChild(anchor, ip);
        else
            table->InsertEndChild(ip);
    }
    for (TiXmlElement* ip : original) table->RemoveChild(ip);
}

}  // namespace corvel
