#include "config/SettingsFile.h"

#include <tinyxml.h>

#include "common/XmlFiles.h"

namespace corvel {

SettingsFile SettingsFile::read(const std::string& path) {
    SettingsFile file;
    file.XmlFile::read(path);
    return file;
}

SettingsFile SettingsFile::copy() const {
    SettingsFile file;
    file.copyFrom(*this);
    return file;
}

SettingsFile SettingsFile::parse(std::string_view text) {
    SettingsFile file;
    file.XmlFile::parse(text);
    return file;
}

SettingsFile SettingsFile::empty() { return parse("<config></config>"); }

SettingsFile SettingsFile::readOrCreateDefault(const std::string& path, XmlLoad* outcome, std::string* reason) {
    SettingsFile file;
    XmlLoad result = file.XmlFile::readOrCreateDefault(path, kDefaultSettingsDocument, kPublicFileMode, reason);
    if (outcome) *outcome = result;
    return file;
}

bool SettingsFile::hasRoot() const { return document().RootElement() != nullptr; }

std::optional<std::string> SettingsFile::text(std::string_view element) const {
    const TiXmlElement* root = document().RootElement();
    const TiXmlElement* found = root ? root->FirstChildElement(std::string(element).c_str()) : nullptr;
    if (!found) return std::nullopt;
    const TiXmlNode* first = found->FirstChild();
    if (first && first->ToText()) return std::string(first->Value());
    return std::string();
}

void SettingsFile::setText(std::string_view element, const std::string& text) {
    TiXmlElement* root = document().RootElement();
    if (!root) {
        document().Clear();
        document().InsertEndChild(TiXmlElement("config"));
        root = document().RootElement();
    }
    const std::string name(element);
    TiXmlElement* found = root->FirstChildElement(name.c_str());
    if (!found) found = root->InsertEndChild(TiXmlElement(name.c_str()))->ToElement();
    found->Clear();
    // Always a text node, also an empty one, so the element prints as <name></name>.
    found->InsertEndChild(TiXmlText(text.c_str()));
}

void SettingsFile::remove(std::string_view element) {
    TiXmlElement* root = document().RootElement();
    if (!root) return;
    if (TiXmlElement* found = root->FirstChildElement(std::string(element).c_str())) root->RemoveChild(found);
}

}  // namespace corvel
