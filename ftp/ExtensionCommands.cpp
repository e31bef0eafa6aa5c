// The control connection commands of the <ftpext> extension: the FEAT lines, OPTS
// UTF8 and MLST, MDTM, MFMT and MLST. Names stay bytes: UTF8 only says what clients may send.
#include <optional>

#include "common/AsciiText.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"
#include "ftp/MachineTime.h"
#include "ftp/MlsxFacts.h"

namespace corvel {
void FtpSession::appendExtensionFeatures(std::vector<std::string>& lines) const {
    if (!featureEnabled(Feature::Extensions)) return;
    for (std::string& feature : replies::extensionFeatures(markedFactList(factSelection_)))
        lines.push_back(std::move(feature));
}

void FtpSession::handleOpts(const std::string& argument) {
    const std::size_t blank = argument.find(' ');
    const std::string name = asciiUpper(argument.substr(0, blank));
    std::string value;
    const std::size_t start = blank == std::string::npos ? blank : argument.find_first_not_of(' ', blank);
    if (start != std::string::npos) value = asciiUpper(argument.substr(start));
    // RFC 3659, 7.9: the facts MLST and MLSD give from now on, the unknown ones left
    // out; the reply names those selected. The names keep the client's case here.
    if (name == "MLST") {
        const std::size_t facts = blank == std::string::npos ? blank : argument.find_first_not_of(' ', blank);
        factSelection_ = parseFactSelection(facts == std::string::npos ? std::string_view() : std::string_view(argument).substr(facts));
        reply(replies::mlstOptions(selectedFactList(factSelection_)));
        return;
    }
    // RFC 2389: a command without options is not understood (501); RFC 2640's
    // UTF8 knows ON only, and it is always on, since names are never converted.
    if (name != "UTF8")
        reply(replies::kOptionNotUnderstood);
    else if (value == "ON")
        reply(replies::kUtf8On);
    else
        reply(replies::kNotImplementedForParameter);
}

void FtpSession::handleMdtm(const std::string& argument) {
    const auto found = files_.stat({argument, '/'}, StatPurpose::Reading);
    if (replyIfRefused(found, replies::kNoSuchFileSuffix)) return;
    const EntryInfo& info = found.value;
    if (info.kind == EntryKind::None) {
        reply(replies::pathRefused(found.normalised, replies::kNoSuchFileSuffix));
        return;
    }
    // RFC 3659: the time of a file; a directory has none to give (550).
    if (info.kind != EntryKind::RegularFile) {
        reply(replies::pathRefused(found.normalised, replies::kNotPlainFileSuffix));
        return;
    }
    const std::optional<std::string> time = formatMachineTime(info.lastWrite);
    reply(time ? replies::modificationTime(*time) : replies::kTimeNotShown);
}

void FtpSession::handleMfmt(const std::string& argument) {
    if (!files_.mayWrite()) {
        reply(replies::kPermissionDenied);
        return;
    }
    // "MFMT YYYYMMDDHHMMSS path": one blank, then the path whole (blanks and all).
    const std::size_t blank = argument.find(' ');
    if (blank == std::string::npos || blank + 1 >= argument.size()) {
        reply(replies::kSyntaxError);
        return;
    }
    const std::optional<std::int64_t> time = parseMachineTime(std::string_view(argument).substr(0, blank));
    if (!time) {
        reply(replies::kBadTimeValue);
        return;
    }
    const std::string target = argument.substr(blank + 1);
    const auto result = files_.setModificationTime({target, '/'}, static_cast<std::time_t>(*time));
    if (replyIfRefused(result, replies::kNoSuchFileSuffix)) return;
    if (result.status == FileStatus::NotFound || result.status == FileStatus::WrongKind) {
        reply(replies::pathRefused(result.normalised, result.status == FileStatus::NotFound
                                                          ? replies::kNoSuchFileSuffix
                                                          : replies::kNotPlainFileSuffix));
        return;
    }
    if (!result.ok()) {
        reply(replies::kModifyTimeFailed);
        return;
    }
    // The time as set: a fraction the client sent is not kept.
    reply(replies::modificationTimeSet(formatMachineTime(*time).value_or(""), target));
}

void FtpSession::handleMlst(const std::string& argument) {
    const auto found = files_.stat({argument, '/'}, StatPurpose::Listing);
    if (replyIfRefused(found, replies::kNoSuchFileSuffix)) return;
    const EntryInfo& info = found.value;
    if (info.kind != EntryKind::RegularFile && info.kind != EntryKind::Directory) {
        reply(replies::pathRefused(found.normalised, replies::kNoSuchFileSuffix));
        return;
    }
    const FactSubject subject{info.kind == EntryKind::Directory ? FactType::Dir : FactType::File, info.size,
                              static_cast<std::int64_t>(info.lastWrite), info.mode};
    // The name as the client gave it; without one, the current directory.
    const std::string name = argument.empty() ? "/" + found.normalised : argument;
    reply(replies::machineListing(name, formatFacts(subject, files_.rights(), factSelection_)));
}

}  // namespace corvel
