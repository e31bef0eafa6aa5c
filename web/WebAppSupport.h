// What the web client's route files share (WebApp.cpp, WebAppShares.cpp): paths
// from a home as the file service takes them, the answers every route sends, and
// the reading of a streamed body. Internal to web/; pure functions or writes to the
// socket given, thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "files/FileService.h"
#include "web/HttpRequest.h"
#include "web/WebRequestHandler.h"

namespace corvel {

class Socket;
class UserTable;

namespace app {

inline constexpr std::string_view kHtml = "text/html; charset=utf-8";
inline constexpr std::string_view kJson = "application/json";
// Entries a folder view shows at most: the view sorts, so it holds them all.
inline constexpr std::size_t kMaxViewEntries = 50000;
// Entries one zip of a selection takes at most (the rest of a longer query is left out).
inline constexpr std::size_t kMaxZipPicks = 10000;

// A path from the home as the file service takes it: absolute, "/" between names.
struct AppPath {
    explicit AppPath(std::string_view fromHome) : text("/" + std::string(fromHome)) {}
    PathArgument argument() const { return {text, '/', kMaxWebPathBytes}; }
    std::string text;
};

// folder + "/" + name, or name alone when folder is "".
std::string join(std::string_view folder, std::string_view name);

// The folder and the last name of a path from the home as the client wrote it
// ("a/b/c" gives "a/b" and "c"). Split as text: the file service resolves the
// folder, so a folder above the home is refused there, not quietly made the home.
std::pair<std::string, std::string> splitLast(std::string_view path);

// Sends a whole answer (no body for HEAD).
void sendAnswer(Socket& socket, const HttpRequest& request, int status, std::string_view type, std::string_view body,
                std::string_view extraFields = {});
// 303 to location, with extra header fields (each ending in CRLF).
void redirect(Socket& socket, const HttpRequest& request, std::string_view location, std::string_view extra = {});

struct Refusal {
    int status;
    std::string text;
};

// What a refused operation tells the user, and its HTTP status. action completes
// "Your account may not ...".
Refusal refusalOf(FileStatus status, std::string_view action);
// The message page of a refusal, linking back to folder of the signed-in view.
void sendRefusalPage(Socket& socket, const HttpRequest& request, const Refusal& refusal, std::string_view folder);
// {"error":text} (with "received" when it is not negative).
void sendJsonError(Socket& socket, const HttpRequest& request, int status, std::string_view text,
                   std::int64_t received = -1);

// The Content-Disposition field of a download offered as name: as it is for
// browsers that read filename* (UTF-8), and with every byte outside printable
// ASCII as '_' for the others.
std::string dispositionOf(std::string_view name);

// Reads the rest of a body of length bytes (its first bytes came with the head) and
// hands each piece to take, through one buffer of kReceiveBufferBytes, until take
// returns false or all came. false when the peer closed, failed or stayed silent
// kIdleLimitSeconds first.
bool readBody(Socket& socket, std::string_view alreadyRead, std::int64_t length,
              const std::function<bool(std::string_view)>& take);

// The last name of a file name a browser sent (some send a whole local path).
std::string baseNameOf(std::string_view fileName);

// A client that sent "Expect: 100-continue" waits for this before its body (curl
// does for large files); sent only once every check passed, so a refusal costs no body.
void allowBody(Socket& socket, const HttpRequest& request);

// Where a chunk of a resumable upload goes, from its query: offset, and with done=1
// the whole file's total, which the part must then hold.
struct ChunkPlace {
    std::int64_t offset = 0;
    bool done = false;
    std::int64_t total = 0;
};
// The chunk's place, or nullopt once the refusal was sent: a body in chunked
// transfer coding (411), or an offset, length or total missing or wrong (400).
std::optional<ChunkPlace> chunkPlaceOf(Socket& socket, const HttpRequest& request);

// Stores one chunk of a resumable upload (the request's body) at offset in the part
// file partial, which must hold exactly offset bytes: a chunk that starts inside the
// stored part would leave stale bytes behind its end. The part's size after the
// chunk, or nullopt once the refusal was sent (action completes its text). The part
// is closed, and its lock gone, when this returns, so the caller may rename it.
std::optional<std::int64_t> receiveUploadChunk(Socket& socket, const HttpRequest& request, const FileService& files,
                                               PathArgument partial, std::int64_t offset, std::string_view action);

// Whether user is an account of the table that is not disabled.
bool accountIsActive(const UserTable& users, const std::string& user);
// The stored password of user's account, which a session remembers from its
// sign-in; empty when there is no such account.
std::string storedPasswordOf(const UserTable& users, const std::string& user);

}  // namespace app
}  // namespace corvel
