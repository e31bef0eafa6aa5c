// The pages of the share links: what a visitor sees (a shared file, a shared
// folder, a drop box, the password form, a link that ended) and what the owner
// sees (the form that makes a link, the link just made, the list of links).
// HTML5 in UTF-8, like the rest of the web client; pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/SharesFile.h"
#include "web/WebAppPages.h"

namespace corvel {

// The "Share" form of an entry (or, with label "Share this folder", of the folder
// shown): expiry date, password, most downloads and, for a folder the account may
// write to, the choice of a drop box. Posts to /app/share.
std::string shareForm(std::string_view csrfToken, std::string_view path, bool folder, bool dropBoxAllowed,
                      std::string_view label);

// A shared folder as a visitor sees it.
struct ShareFolderView {
    std::string base;    // the link, "/app/s/TOKEN"
    std::string title;   // the shared folder's own name
    std::string folder;  // the folder shown, from the shared one on ("" for itself)
    bool download = false;  // its owner may read files now
    std::vector<AppEntry> entries;
};

std::string shareFolderPage(const ShareFolderView& view);
// A shared file: its name, size and the download button.
std::string shareFilePage(std::string_view base, std::string_view name, std::int64_t size);
// A drop box: the upload controls, and a plain form for pages without the script.
std::string shareDropBoxPage(std::string_view base, std::string_view title);
// What a drop box's plain form answers: the names the files got and what was refused.
std::string shareDropBoxResultPage(std::string_view base, std::string_view text, bool failed);
// The form a link with a password shows first; message (plain text) above it.
std::string sharePasswordPage(std::string_view base, std::string_view message);
// The page of a link that does not exist, expired, was used up, or whose owner can
// no longer give what it shares: the same for all, so it tells a guesser nothing.
std::string shareEndedPage();
// A visitor's refusal inside a link that works (nothing of that name, a bad name).
std::string shareMessagePage(std::string_view base, std::string_view title, std::string_view message);

// One of the owner's links as the list shows it, with the state it is in now.
struct ShareListItem {
    ShareLink link;
    std::string state;  // "active", "expired", "used up", "no right"
};

std::string sharesPage(std::string_view user, std::string_view csrfToken, const std::vector<ShareListItem>& links);
// The link just made: url is shown this once (only its digest is kept).
std::string shareMadePage(std::string_view url, const ShareLink& link);

}  // namespace corvel
