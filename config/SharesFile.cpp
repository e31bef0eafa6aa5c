#include "config/SharesFile.h"

#include <openssl/evp.h>
#include <tinyxml.h>

#include <array>
#include <cstdio>

#include "common/DecimalText.h"
#include "common/NamedObjectNames.h"
#include "common/Permissions.h"
#include "platform/SecureRandom.h"

namespace corvel {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::string attributeText(const TiXmlElement& element, const char* name) {
    const char* value = element.Attribute(name);
    return value ? std::string(value) : std::string();
}

std::int64_t attributeNumber(const TiXmlElement& element, const char* name) {
    const std::int64_t value = scanDecimal(attributeText(element, name));
    return value < 0 ? 0 : value;
}

std::string hexOf(const unsigned char* bytes, std::size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

// base64url without padding (RFC 4648 section 5): safe in a path as it is.
std::string base64UrlOf(const unsigned char* bytes, std::size_t length) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t i = 0; i < length; ++i) {
        bits = (bits << 8) | bytes[i];
        held += 8;
        while (held >= 6) {
            held -= 6;
            text.push_back(kAlphabet[(bits >> held) & 0x3F]);
        }
    }
    if (held > 0) text.push_back(kAlphabet[(bits << (6 - held)) & 0x3F]);
    return text;
}

// Days since 1970-01-01 of a civil date (Howard Hinnant's days_from_civil).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned daysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<unsigned> digitsValue(std::string_view text) {
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

TiXmlElement* rootOf(TiXmlDocument& document) {
    TiXmlElement* root = document.RootElement();
    if (!root) {
        document.Clear();
        document.InsertEndChild(TiXmlElement("shares"));
        root = document.RootElement();
    }
    return root;
}

TiXmlElement* findElement(TiXmlDocument& document, std::string_view id) {
    TiXmlElement* root = document.RootElement();
    if (!root) return nullptr;
    for (TiXmlElement* share = root->FirstChildElement("share"); share; share = share->NextSiblingElement("share"))
        if (const char* value = share->Attribute("id"); value && id == value) return share;
    return nullptr;
}

}  // namespace

std::uint32_t ownerRightOf(ShareKind kind) {
    switch (kind) {
        case ShareKind::File: return PERM_READ_FILE;
        case ShareKind::Folder: return PERM_LIST;
        case ShareKind::DropBox: return PERM_WRITE_FILE;
    }
    return PERM_READ_FILE;
}

std::string_view shareKindName(ShareKind kind) {
    switch (kind) {
        case ShareKind::File: return "file";
        case ShareKind::Folder: return "folder";
        case ShareKind::DropBox: return "dropbox";
    }
    return "file";
}

std::optional<ShareKind> shareKindValue(std::string_view text) {
    if (text == "file") return ShareKind::File;
    if (text == "folder") return ShareKind::Folder;
    if (text == "dropbox") return ShareKind::DropBox;
    return std::nullopt;
}

SharesFile SharesFile::read(const std::string& path) {
    SharesFile file;
    file.XmlFile::read(path);
    return file;
}

SharesFile SharesFile::parse(std::string_view text) {
    SharesFile file;
    file.XmlFile::parse(text);
    return file;
}

SharesFile SharesFile::empty() { return parse("<shares></shares>"); }

SharesFile SharesFile::readOrEmpty(const std::string& path) {
    SharesFile file = read(path);
    if (file.status() == FileRead::Missing) return empty();
    return file;
}

SharesFile SharesFile::copy() const {
    SharesFile file;
    file.copyFrom(*this);
    return file;
}

std::vector<ShareLink> SharesFile::links() const {
    std::vector<ShareLink> result;
    const TiXmlElement* root = document().RootElement();
    if (!root) return result;
    for (const TiXmlElement* share = root->FirstChildElement("share"); share;
         share = share->NextSiblingElement("share")) {
        const std::optional<ShareKind> kind = shareKindValue(attributeText(*share, "kind"));
        ShareLink link;
        link.id = attributeText(*share, "id");
        link.tokenDigest = attributeText(*share, "token_sha256");
        link.owner = attributeText(*share, "owner");
        link.path = attributeText(*share, "path");
        link.created = attributeNumber(*share, "created");
        link.expires = attributeNumber(*share, "expires");
        link.password = attributeText(*share, "password");
        link.maxUses = attributeNumber(*share, "max_uses");
        link.uses = attributeNumber(*share, "uses");
        if (!kind || link.id.empty() || link.tokenDigest.empty() || link.owner.empty()) continue;
        link.kind = *kind;
        result.push_back(std::move(link));
    }
    return result;
}

std::optional<ShareLink> SharesFile::findByToken(std::string_view token) const {
    const std::string digest = shareTokenDigest(token);
    std::optional<ShareLink> found;
    for (ShareLink& link : links()) {
        // Every digest is compared in full, in a time that does not depend on where
        // they differ.
        if (link.tokenDigest.size() != digest.size()) continue;
        unsigned difference = 0;
        for (std::size_t i = 0; i < digest.size(); ++i)
            difference |= static_cast<unsigned>(static_cast<unsigned char>(link.tokenDigest[i]) ^
                                                static_cast<unsigned char>(digest[i]));
        if (difference == 0 && !found) found = std::move(link);
    }
    return found;
}

void SharesFile::add(const ShareLink& link) {
    TiXmlElement share("share");
    share.SetAttribute("id", link.id);
    share.SetAttribute("token_sha256", link.tokenDigest);
    share.SetAttribute("owner", link.owner);
    share.SetAttribute("path", link.path);
    share.SetAttribute("kind", std::string(shareKindName(link.kind)));
    share.SetAttribute("created", std::to_string(link.created));
    share.SetAttribute("expires", std::to_string(link.expires));
    share.SetAttribute("password", link.password);
    share.SetAttribute("max_uses", std::to_string(link.maxUses));
    share.SetAttribute("uses", std::to_string(link.uses));
    rootOf(document())->InsertEndChild(share);
}

bool SharesFile::remove(std::string_view id) {
    TiXmlElement* share = findElement(document(), id);
    if (!share) return false;
    document().RootElement()->RemoveChild(share);
    return true;
}

bool SharesFile::setUses(std::string_view id, std::int64_t uses) {
    TiXmlElement* share = findElement(document(), id);
    if (!share) return false;
    share->SetAttribute("uses", std::to_string(uses));
    return true;
}

std::optional<ShareSecret> newShareSecret() {
    std::array<unsigned char, kShareTokenBytes> token{};
    std::array<unsigned char, kShareIdBytes> id{};
    if (!fillSecureRandom(token.data(), token.size()).ok() || !fillSecureRandom(id.data(), id.size()).ok())
        return std::nullopt;
    ShareSecret secret;
    secret.token = base64UrlOf(token.data(), token.size());
    secret.digest = shareTokenDigest(secret.token);
    secret.id = hexOf(id.data(), id.size());
    return secret;
}

std::string shareTokenDigest(std::string_view token) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(token.data(), token.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) return {};
    return hexOf(digest.data(), length);
}

bool isShareTokenText(std::string_view text) {
    if (text.size() != kShareTokenChars) return false;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string shareLinkPath(std::string_view token) { return "/app/s/" + std::string(token); }

std::optional<std::int64_t> shareExpiryOfDate(std::string_view date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    const std::optional<unsigned> year = digitsValue(date.substr(0, 4));
    const std::optional<unsigned> month = digitsValue(date.substr(5, 2));
    const std::optional<unsigned> day = digitsValue(date.substr(8, 2));
    if (!year || !month || !day || *year < 1970 || *month < 1 || *month > 12 || *day < 1 ||
        *day > daysInMonth(*year, *month))
        return std::nullopt;
    return (daysFromCivil(*year, *month, *day) + 1) * kSecondsPerDay;
}

std::string shareTimeText(std::int64_t seconds) {
    // civil_from_days, the inverse of daysFromCivil.
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - (kSecondsPerDay - 1)) / kSecondsPerDay;
    const std::int64_t inDay = seconds - days * kSecondsPerDay;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(z - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld UTC", static_cast<long long>(year), month, day,
                  static_cast<long long>(inDay / 3600), static_cast<long long>(inDay % 3600 / 60));
    return text;
}

SharesFileLock::SharesFileLock(int timeoutMs) : mutex_(NamedMutex::createOrOpen(names::kSharesFileMutex)) {
    if (mutex_) held_.emplace(*mutex_, timeoutMs);
}

}  // namespace corvel
