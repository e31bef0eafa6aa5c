// The helpers the web client's route files share.
#include "web/WebAppSupport.h"

#include <algorithm>
#include <memory>

#include "accounts/UserTable.h"
#include "platform/Socket.h"
#include "web/HttpText.h"
#include "web/WebAppPages.h"
#include "web/WebAppText.h"
#include "web/WebPages.h"

namespace corvel::app {

std::string join(std::string_view folder, std::string_view name) {
    return folder.empty() ? std::string(name) : std::string(folder) + "/" + std::string(name);
}

// The folder and the last name of a path from the home as the client wrote it
// ("a/b/c" gives "a/b" and "c"). Split as text: the file service resolves the
// folder, so a folder above the home is refused there, not quietly made the home.
std::pair<std::string, std::string> splitLast(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string_view::npos) return {std::string(), std::string(path)};
    return {std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

void sendAnswer(Socket& socket, const HttpRequest& request, int status, std::string_view type, std::string_view body,
                std::string_view extraFields) {
    std::string answer = appHeader(status, type, body.size(), extraFields);
    if (request.method != HttpMethod::Head) answer += body;
    sendAll(socket, answer);
}

void redirect(Socket& socket, const HttpRequest& request, std::string_view location, std::string_view extra) {
    std::string fields = "Location: " + std::string(location) + "\r\n" + std::string(extra);
    sendAnswer(socket, request, 303, kHtml, {}, fields);
}

Refusal refusalOf(FileStatus status, std::string_view action) {
    switch (status) {
        case FileStatus::NoRight:
            return {403, "Your account may not " + std::string(action) + "."};
        case FileStatus::InvalidPath:
            return {400, "That name or path cannot be used."};
        case FileStatus::Escaped:
            return {403, "That path is outside your home folder."};
        case FileStatus::NotFound:
            return {404, "Nothing of that name is there (any more)."};
        case FileStatus::WrongKind:
            return {409, "A folder is there, where a file was expected (or the other way round)."};
        case FileStatus::Exists:
            return {409, "Something of that name is there already."};
        case FileStatus::Refused:
            return {409,
                    "The system refused it: no permission on the disk, the disk is full, or the folder is not empty."};
        case FileStatus::BeyondEnd:
            return {409, "The upload does not go on where its stored part ends."};
        case FileStatus::Ok:
            break;
    }
    return {500, "Something went wrong."};
}

void sendRefusalPage(Socket& socket, const HttpRequest& request, const Refusal& refusal, std::string_view folder) {
    sendAnswer(socket, request, refusal.status, kHtml, messagePage("Not done", refusal.text, folder));
}

void sendJsonError(Socket& socket, const HttpRequest& request, int status, std::string_view text,
                   std::int64_t received) {
    std::string body = "{\"error\":\"" + jsonEscape(text) + "\"";
    if (received >= 0) body += ",\"received\":" + std::to_string(received);
    body += "}";
    sendAnswer(socket, request, status, kJson, body);
}

// The name a download offers: as it is for browsers that read filename* (UTF-8),
// and with every byte outside printable ASCII as '_' for the others.
std::string dispositionOf(std::string_view name) {
    std::string plain = safeHeaderFileName(name);
    for (char& c : plain)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E || c == '\\') c = '_';
    return "Content-Disposition: attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encodeLinkPath(name) +
           "\r\n";
}

// Reads the rest of a body of length bytes (its first bytes came with the head) and
// hands each piece to take, through one buffer of kReceiveBufferBytes, until take
// returns false or all came. false when the peer closed, failed or stayed silent
// kIdleLimitSeconds first.
bool readBody(Socket& socket, std::string_view alreadyRead, std::int64_t length,
              const std::function<bool(std::string_view)>& take) {
    const std::size_t early = static_cast<std::size_t>(std::min<std::int64_t>(length, alreadyRead.size()));
    std::int64_t left = length - static_cast<std::int64_t>(early);
    if (early > 0 && !take(alreadyRead.substr(0, early))) return true;
    if (left == 0) return true;
    if (!socket.isOpen() || !socket.setNonBlocking()) return false;
    auto buffer = std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes);
    int idleSeconds = 0;
    while (left > 0) {
        const std::size_t room = static_cast<std::size_t>(std::min<std::int64_t>(left, kReceiveBufferBytes));
        const IoResult r = socket.receive(buffer.get(), room);
        if (r.ok()) {
            left -= static_cast<std::int64_t>(r.bytes);
            idleSeconds = 0;
            if (!take(std::string_view(buffer.get(), r.bytes))) return true;
            continue;
        }
        if (r.state != IoState::WouldBlock) return false;
        const WaitResult wait = socket.waitReadable(kWaitStepMs);
        if (wait == WaitResult::Failed || (wait == WaitResult::TimedOut && ++idleSeconds > kIdleLimitSeconds))
            return false;
    }
    return true;
}

std::optional<ChunkPlace> chunkPlaceOf(Socket& socket, const HttpRequest& request) {
    const std::optional<std::int64_t> offset = byteCountValue(formField(request.query, "offset").value_or("0"));
    const bool done = formField(request.query, "done").value_or("") == "1";
    const std::optional<std::int64_t> total = byteCountValue(formField(request.query, "total").value_or(""));
    if (request.sentTransferEncoding) {
        sendJsonError(socket, request, 411, "An upload must say its length (no chunked transfer coding).");
        return std::nullopt;
    }
    if (!offset || request.contentLength < 0 || (done && !total)) {
        sendJsonError(socket, request, 400, "The upload's offset, length or total is missing or wrong.");
        return std::nullopt;
    }
    return ChunkPlace{*offset, done, total.value_or(0)};
}

std::optional<std::int64_t> receiveUploadChunk(Socket& socket, const HttpRequest& request, const FileService& files,
                                               PathArgument partial, std::int64_t offset, std::string_view action) {
    auto opened = files.openForWritingAt(partial, offset);
    if (!opened.ok()) {
        const Refusal refusal = refusalOf(opened.status, action);
        sendJsonError(socket, request, refusal.status, refusal.text);
        return std::nullopt;
    }
    TransferFile& file = *opened.value;
    if (file.size() != offset) {
        sendJsonError(socket, request, 409, "The stored part holds a different number of bytes.", file.size());
        return std::nullopt;
    }
    allowBody(socket, request);
    if (file.receiveExactly(socket, request.bodyStart, offset, request.contentLength) != TransferResult::Completed) {
        const auto part = files.stat(partial, StatPurpose::Writing);
        sendJsonError(socket, request, 400, "The upload broke off.", part.ok() ? part.value.size : 0);
        return std::nullopt;
    }
    return offset + request.contentLength;
}

// The last name of a file name a browser sent (some send a whole local path).
std::string baseNameOf(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? fileName : fileName.substr(slash + 1));
}

// A client that sent "Expect: 100-continue" waits for this before its body (curl
// does for large files); sent only once every check passed, so a refusal costs no body.
void allowBody(Socket& socket, const HttpRequest& request) {
    if (request.expectsContinue && request.bodyStart.empty())
        (void)sendAll(socket, std::string("HTTP/1.1 100 Continue\r\n\r\n"));
}

bool accountIsActive(const UserTable& users, const std::string& user) {
    for (const UserAccount& account : users.accounts())
        if (account.username == user) return !account.disabled;
    return false;
}

std::string storedPasswordOf(const UserTable& users, const std::string& user) {
    for (const UserAccount& account : users.accounts())
        if (account.username == user) return account.password;
    return {};
}

}  // namespace corvel::app
