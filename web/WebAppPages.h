// The pages of the web client: the sign-in page, the folder view and the message a
// refused action gets, plus the header block of every answer. HTML5 in UTF-8,
// styled and scripted only by the files the binary serves under /app/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// One entry of a folder as the view shows it.
struct AppEntry {
    std::string name;
    bool folder = false;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since the epoch
};

enum class AppSortKey { Name, Size, Date };

struct AppSort {
    AppSortKey key = AppSortKey::Name;
    bool descending = false;
};

// The sort a query asks for ("sort=size&order=desc"); by name, ascending otherwise.
AppSort appSortOf(std::string_view query);
// Folders first, then files, each by the sort's key; names break ties, so the order
// is the same on every request.
void sortEntries(std::vector<AppEntry>& entries, AppSort sort);

// What the signed-in account may do in the folder shown; the page offers no
// control whose action would only be refused.
struct AppRights {
    bool upload = false;  // Write
    bool makeFolder = false;
    bool removeFolder = false;
    bool removeFile = false;
    bool rename = false;  // Write
    bool download = false;
    bool list = false;
};

struct FolderView {
    std::string user;
    std::string folder;     // the folder's path from the home, "" for the home, names joined by "/"
    std::string csrfToken;  // goes into every form; empty under HTTP Basic
    AppSort sort;
    AppRights rights;
    std::vector<AppEntry> entries;
    // The server keeps share links: each entry the rights allow offers one.
    bool sharing = false;
};

std::string folderPage(const FolderView& view);
// The sign-in page; message (plain text) above the form when not empty.
std::string loginPage(std::string_view message);
// A page that says what happened and links back to folder.
std::string messagePage(std::string_view title, std::string_view message, std::string_view folder);

// "/app/?path=..." for folder (percent-encoded), with the sort when it is not the default.
std::string folderLink(std::string_view folder, AppSort sort = {});

// The header block of an answer: status line, the fields every answer of the web
// client has (no caching, no sniffing, no framing, a policy that allows nothing
// from elsewhere), Content-Length and extraFields (each ending in CRLF).
std::string appHeader(int status, std::string_view contentType, std::uint64_t contentLength,
                      std::string_view extraFields = {});

// The same for a body whose length is not known before it is sent: it ends when the
// connection closes.
std::string appHeaderWithoutLength(int status, std::string_view contentType, std::string_view extraFields = {});

// The start of every page up to its </head>: charset, viewport, the stylesheet and
// the script, and title (escaped) as the page's title.
std::string pageStart(std::string_view title);
// A hidden form field (value escaped).
std::string hiddenField(std::string_view name, std::string_view value);
// The icons of folders and files in the lists.
extern const std::string_view kFolderIcon;
extern const std::string_view kFileIcon;

// The stylesheet and the script of the pages.
extern const std::string_view kAppStyleSheet;
extern const std::string_view kAppScript;

}  // namespace corvel
