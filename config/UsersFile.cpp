#include "config/UsersFile.h"

#include <tinyxml.h>

#include "common/AsciiText.h"
#include "common/DecimalText.h"
#include "common/NamedObjectNames.h"
#include "common/XmlFiles.h"

namespace corvel {
namespace {

// The child of a user element that holds one of the account's SSH public keys.
constexpr char kSshKeyElement[] = "sshkey";

constexpr const char* kKnownAttributes[] = {"username", "password",    "alias",   "privilege",
                                            "work_dir", "welcome_msg", "disabled"};

std::string attributeText(const TiXmlElement& element, const char* name) {
    const char* value = element.Attribute(name);
    return value ? std::string(value) : std::string();
}

bool isKnownAttribute(const char* name) {
    for (const char* known : kKnownAttributes)
        if (std::string_view(known) == name) return true;
    return false;
}

// "disabled" is true unless the attribute says exactly "no".
bool disabledOf(const TiXmlElement& element) {
    const char* disabled = element.Attribute("disabled");
    return disabled && std::string(disabled) != "no";
}

std::vector<std::string> sshKeysOf(const TiXmlElement& user) {
    std::vector<std::string> keys;
    for (const TiXmlElement* key = user.FirstChildElement(kSshKeyElement); key;
         key = key->NextSiblingElement(kSshKeyElement)) {
        const char* text = key->GetText();
        if (text && *text) keys.emplace_back(text);
    }
    return keys;
}

}  // namespace

bool UserAccount::sameFields(const UserAccount& other) const {
    return username == other.username && password == other.password && alias == other.alias &&
           workDir == other.workDir && welcomeMessage == other.welcomeMessage && privilege == other.privilege &&
           disabled == other.disabled;
}

UsersFile UsersFile::read(const std::string& path) {
    UsersFile file;
    file.XmlFile::read(path);
    return file;
}

UsersFile UsersFile::copy() const {
    UsersFile file;
    file.copyFrom(*this);
    return file;
}

UsersFile UsersFile::parse(std::string_view text) {
    UsersFile file;
    file.XmlFile::parse(text);
    return file;
}

UsersFile UsersFile::empty() { return parse("<users></users>"); }

UsersFile UsersFile::readOrCreateDefault(const std::string& path, const std::string& programDirectory,
                                         XmlLoad* outcome, std::string* reason) {
    UsersFile file;
    XmlLoad result = file.XmlFile::readOrCreateDefault(path, defaultUsersDocument(programDirectory),
                                                       kPrivateFileMode, reason);
    if (outcome) *outcome = result;
    return file;
}

std::vector<UserAccount> UsersFile::accounts() const {
    std::vector<UserAccount> result;
    const TiXmlElement* root = document().RootElement();
    if (!root) return result;
    int index = 0;
    for (const TiXmlElement* user = root->FirstChildElement("user"); user;
         user = user->NextSiblingElement("user"), ++index) {
        UserAccount account;
        account.username = attributeText(*user, "username");
        account.password = attributeText(*user, "password");
        account.alias = attributeText(*user, "alias");
        account.privilege = static_cast<std::int32_t>(scanDecimal(attributeText(*user, "privilege")));
        account.workDir = attributeText(*user, "work_dir");
        account.welcomeMessage = attributeText(*user, "welcome_msg");
        account.disabled = disabledOf(*user);
        account.sshKeys = sshKeysOf(*user);
        account.element = index;
        if (!account.username.empty() && !account.password.empty() && !account.workDir.empty())
            result.push_back(std::move(account));
    }
    return result;
}

bool UsersFile::anonymousEnabled() const {
    bool enabled = false;
    const TiXmlElement* root = document().RootElement();
    if (!root) return false;
    for (const TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user"))
        if (equalsIgnoringAsciiCase(attributeText(*user, "username"), "anonymous")) enabled = !disabledOf(*user);
    return enabled;
}

bool UsersFile::setPassword(const std::string& username, const std::string& digest) {
    TiXmlElement* root = document().RootElement();
    if (!root) return false;
    for (TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user")) {
        const char* name = user->Attribute("username");
        if (name && username == name) {
            user->SetAttribute("password", digest.c_str());
            return true;
        }
    }
    return false;
}

bool UsersFile::replacePassword(int element, const std::string& username, const std::string& expected,
                                const std::string& replacement) {
    TiXmlElement* root = document().RootElement();
    if (!root || element < 0) return false;
    int index = 0;
    for (TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user"), ++index) {
        if (index != element) continue;
        if (attributeText(*user, "username") != username || attributeText(*user, "password") != expected) return false;
        user->SetAttribute("password", replacement.c_str());
        return true;
    }
    return false;
}

bool UsersFile::addSshKey(const std::string& username, const std::string& key) {
    TiXmlElement* root = document().RootElement();
    if (!root) return false;
    for (TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user")) {
        if (attributeText(*user, "username") != username) continue;
        TiXmlElement element(kSshKeyElement);
        element.InsertEndChild(TiXmlText(key.c_str()));
        user->InsertEndChild(element);
        return true;
    }
    return false;
}

bool UsersFile::removeSshKey(const std::string& username, std::size_t index) {
    TiXmlElement* root = document().RootElement();
    if (!root) return false;
    for (TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user")) {
        if (attributeText(*user, "username") != username) continue;
        // Counted as sshKeysOf counts them: elements with text only.
        std::size_t at = 0;
        for (TiXmlElement* key = user->FirstChildElement(kSshKeyElement); key;
             key = key->NextSiblingElement(kSshKeyElement)) {
            const char* text = key->GetText();
            if (!text || !*text) continue;
            if (at++ == index) return user->RemoveChild(key);
        }
        return false;
    }
    return false;
}

void UsersFile::replaceAccounts(const std::vector<UserAccount>& accounts) {
    TiXmlElement* root = document().RootElement();
    if (!root) {
        document().Clear();
        document().InsertEndChild(TiXmlElement("users"));
        root = document().RootElement();
    }
    std::vector<TiXmlElement*> original;
    for (TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user"))
        original.push_back(user);

    std::vector<TiXmlElement> written;
    written.reserve(accounts.size());
    for (const UserAccount& account : accounts) {
        TiXmlElement user("user");
        user.SetAttribute("username", account.username);
        user.SetAttribute("password", account.password);
        user.SetAttribute("alias", account.alias);
        user.SetAttribute("privilege", std::to_string(account.privilege));
        user.SetAttribute("work_dir", account.workDir);
        user.SetAttribute("welcome_msg", account.welcomeMessage);
        user.SetAttribute("disabled", account.disabled ? "yes" : "no");
        if (account.element >= 0 && static_cast<std::size_t>(account.element) < original.size()) {
            const TiXmlElement& from = *original[static_cast<std::size_t>(account.element)];
            for (const TiXmlAttribute* a = from.FirstAttribute(); a; a = a->Next())
                if (!isKnownAttribute(a->Name())) user.SetAttribute(a->Name(), a->Value());
            for (const TiXmlNode* child = from.FirstChild(); child; child = child->NextSibling())
                user.InsertEndChild(*child);
        }
        written.push_back(std::move(user));
    }

    // The accounts take the place of the first user element; the other user
    // elements go, every other node stays where it was.
    TiXmlNode* anchor = original.empty() ? nullptr : original.front();
    for (const TiXmlElement& user : written) {
        if (anchor)
            root->InsertBeforeChild(anchor, user);
        else
            root->InsertEndChild(user);
    }
    for (TiXmlElement* user : original) root->RemoveChild(user);
}

UsersFileLock::UsersFileLock(int timeoutMs) : mutex_(NamedMutex::createOrOpen(names::kUsersFileMutex)) {
    if (mutex_) held_.emplace(*mutex_, timeoutMs);
}

}  // namespace corvel
