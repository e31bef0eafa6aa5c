#include "config/XmlFile.h"

#include <tinyxml.h>

#include "common/XmlText.h"
#include "platform/AtomicFile.h"

namespace corvel {

XmlFile::XmlFile() : document_(std::make_unique<TiXmlDocument>()) {}
XmlFile::XmlFile(XmlFile&&) noexcept = default;
XmlFile& XmlFile::operator=(XmlFile&&) noexcept = default;
XmlFile::~XmlFile() = default;

void XmlFile::copyFrom(const XmlFile& other) {
    document_ = std::make_unique<TiXmlDocument>(*other.document_);
    status_ = other.status_;
    error_ = other.error_;
    errorLine_ = other.errorLine_;
}

void XmlFile::takeError() {
    error_ = document_->ErrorDesc() ? document_->ErrorDesc() : "";
    errorLine_ = document_->ErrorRow();
}

std::string XmlFile::errorText() const { return xmlErrorText(*document_); }

void XmlFile::read(const std::string& path) {
    if (loadXmlFile(*document_, path)) {
        status_ = FileRead::Loaded;
        return;
    }
    status_ = pathExists(path) ? FileRead::Unreadable : FileRead::Missing;
    takeError();
    document_->Clear();
}

void XmlFile::parse(std::string_view text) {
    if (parseXmlText(*document_, text)) {
        status_ = FileRead::Loaded;
        return;
    }
    status_ = FileRead::Unreadable;
    takeError();
    document_->Clear();
}

XmlLoad XmlFile::readOrCreateDefault(const std::string& path, const std::string& defaultText, unsigned newFileMode,
                                     std::string* reason) {
    XmlLoad outcome = loadOrCreateDefault(*document_, path, defaultText.c_str(), newFileMode, reason);
    status_ = FileRead::Loaded;
    return outcome;
}

bool XmlFile::save(const std::string& path, unsigned newFileMode) const {
    return saveAtomically(*document_, path, newFileMode);
}

}  // namespace corvel
