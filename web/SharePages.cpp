#include "web/SharePages.h"

#include "web/HttpText.h"
#include "web/WebAppText.h"

namespace corvel {

namespace {

std::string visitorStart(std::string_view title, std::string_view bodyAttributes = {}) {
    std::string page = pageStart(title);
    page += "<body class=\"visit\"" + std::string(bodyAttributes) +
            "><header class=\"bar\"><span class=\"brand\">CorvelFtp</span></header><main>";
    return page;
}

constexpr std::string_view kPageEnd = "</main></body></html>\n";

std::string childPath(std::string_view folder, std::string_view name) {
    return folder.empty() ? std::string(name) : std::string(folder) + "/" + std::string(name);
}

std::string folderHref(std::string_view base, std::string_view folder) {
    std::string link(base);
    if (!folder.empty()) link += "?path=" + encodeLinkPath(folder);
    return link;
}

std::string shareCrumbs(const ShareFolderView& view) {
    std::string nav = "<nav class=\"crumbs\" aria-label=\"Folders\"><ol>";
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < view.folder.size()) {
        std::size_t end = view.folder.find('/', start);
        if (end == std::string::npos) end = view.folder.size();
        if (end > start) names.push_back(view.folder.substr(start, end - start));
        start = end + 1;
    }
    if (names.empty())
        nav += "<li aria-current=\"page\">" + htmlEscape(view.title) + "</li>";
    else
        nav += "<li><a href=\"" + htmlEscape(view.base) + "\">" + htmlEscape(view.title) + "</a></li>";
    std::string path;
    for (std::size_t i = 0; i < names.size(); ++i) {
        path = childPath(path, names[i]);
        if (i + 1 == names.size())
            nav += "<li aria-current=\"page\">" + htmlEscape(names[i]) + "</li>";
        else
            nav += "<li><a href=\"" + htmlEscape(folderHref(view.base, path)) + "\">" + htmlEscape(names[i]) +
                   "</a></li>";
    }
    return nav + "</ol></nav>";
}

std::string uploadControls() {
    return "<div class=\"upload\" id=\"upload\" hidden><label class=\"pick\">Choose files <input type=\"file\" "
           "id=\"pickFiles\" multiple></label><p class=\"drop\" id=\"drop\" tabindex=\"0\">or drop files here</p>"
           "<ul id=\"progress\" aria-live=\"polite\"></ul></div>";
}

std::string limitsText(const ShareLink& link) {
    std::string text;
    text += link.expires == 0 ? "no expiry" : "until " + shareTimeText(link.expires);
    text += link.password.empty() ? ", no password" : ", password";
    if (link.maxUses != 0) {
        text += ", " + std::to_string(link.uses) + " of " + std::to_string(link.maxUses);
        text += link.kind == ShareKind::DropBox ? " files" : " downloads";
    } else {
        text += ", used " + std::to_string(link.uses) + " times";
    }
    return text;
}

std::string_view kindLabel(ShareKind kind) {
    switch (kind) {
        case ShareKind::File: return "File";
        case ShareKind::Folder: return "Folder";
        case ShareKind::DropBox: return "Drop box";
    }
    return "File";
}

// The owner's folder of a link: the shared folder, or the one the shared file is in.
std::string ownerFolderOf(const ShareLink& link) {
    if (link.kind != ShareKind::File) return link.path;
    const std::size_t slash = link.path.rfind('/');
    return slash == std::string::npos ? std::string() : link.path.substr(0, slash);
}

}  // namespace

std::string shareForm(std::string_view csrfToken, std::string_view path, bool folder, bool dropBoxAllowed,
                      std::string_view label) {
    std::string form = "<details class=\"share\"><summary>" + htmlEscape(label) +
                       "</summary><form method=\"post\" action=\"/app/share\" class=\"shareform\">";
    form += hiddenField("csrf", csrfToken) + hiddenField("path", path);
    if (folder && dropBoxAllowed)
        form += "<label class=\"check\"><input type=\"checkbox\" name=\"kind\" value=\"dropbox\"> Drop box: visitors "
                "send files, and see nothing</label>";
    form +=
        "<label>Expires after <input type=\"date\" name=\"expires\"></label>"
        "<label>Password <input type=\"password\" name=\"password\" autocomplete=\"new-password\" "
        "maxlength=\"63\"></label>"
        "<label>At most <input type=\"number\" name=\"max\" min=\"1\" max=\"1000000\" inputmode=\"numeric\"> "
        "downloads</label><button>Make the link</button></form></details>";
    return form;
}

std::string shareFolderPage(const ShareFolderView& view) {
    std::string page = visitorStart(view.folder.empty() ? view.title : view.folder);
    page += shareCrumbs(view);
    if (view.download) {
        page += "<div class=\"whole\"><a href=\"" + htmlEscape(view.base) + "/zip?path=" + encodeLinkPath(view.folder) +
                "\" download>Download this folder as a zip</a><form id=\"picked\" method=\"get\" action=\"" +
                htmlEscape(view.base) + "/zip\">" + hiddenField("path", view.folder) +
                "<button>Download the selected as a zip</button></form></div>";
    }
    page += "<table class=\"files\"><thead><tr><th class=\"n\">Name</th><th class=\"s\">Size</th>"
            "<th class=\"d\">Modified (UTC)</th></tr></thead><tbody>";
    for (const AppEntry& entry : view.entries) {
        const std::string path = childPath(view.folder, entry.name);
        const std::string name = htmlEscape(entry.name);
        page += "<tr data-name=\"" + name + "\" data-kind=\"" + (entry.folder ? "folder" : "file") + "\"><td class=\"n\">";
        if (view.download)
            page += "<input type=\"checkbox\" name=\"pick\" value=\"" + name + "\" form=\"picked\" aria-label=\"Select " +
                    name + "\"> ";
        if (entry.folder)
            page += "<a href=\"" + htmlEscape(folderHref(view.base, path)) + "\">" + std::string(kFolderIcon);
        else if (view.download)
            page += "<a href=\"" + htmlEscape(view.base) + "/get?path=" + encodeLinkPath(path) + "\" download>" +
                    std::string(kFileIcon);
        else
            page += "<span>" + std::string(kFileIcon);
        page += "<span class=\"label\">" + name + "</span>";
        page += entry.folder || view.download ? "</a>" : "</span>";
        page += "</td><td class=\"s\">" + (entry.folder ? std::string() : humanSize(entry.size)) + "</td><td class=\"d\">" +
                utcDateText(entry.modified) + "</td></tr>";
    }
    if (view.entries.empty()) page += "<tr><td colspan=\"3\" class=\"empty\">This folder is empty.</td></tr>";
    page += "</tbody></table>";
    return page + std::string(kPageEnd);
}

std::string shareFilePage(std::string_view base, std::string_view name, std::int64_t size) {
    std::string page = visitorStart(name);
    page += "<section class=\"card\"><h1>" + htmlEscape(name) + "</h1><p class=\"note\">" + humanSize(size) +
            "</p><p><a class=\"button\" href=\"" + htmlEscape(base) + "/get\" download>Download</a></p></section>";
    return page + std::string(kPageEnd);
}

std::string shareDropBoxPage(std::string_view base, std::string_view title) {
    std::string page = visitorStart("Send files", " data-dropbox=\"" + htmlEscape(base) + "\"");
    page += "<section class=\"card\"><h1>Send files to " + htmlEscape(title) +
            "</h1><p class=\"note\">What you send arrives in this folder; you cannot see what is in it.</p>";
    page += uploadControls();
    page += "<form method=\"post\" action=\"" + htmlEscape(base) +
            "/send\" enctype=\"multipart/form-data\" class=\"sendform\"><label>Files <input type=\"file\" "
            "name=\"files\" multiple required></label> <button>Send</button></form></section>";
    return page + std::string(kPageEnd);
}

std::string shareDropBoxResultPage(std::string_view base, std::string_view text, bool failed) {
    std::string page = visitorStart(failed ? "Not everything arrived" : "Sent");
    page += "<section class=\"card\"><h1>" + std::string(failed ? "Not everything arrived" : "Sent") + "</h1><p" +
            (failed ? " class=\"error\" role=\"alert\"" : "") + ">" + htmlEscape(text) + "</p><p><a href=\"" +
            htmlEscape(base) + "\">Send more</a></p></section>";
    return page + std::string(kPageEnd);
}

std::string sharePasswordPage(std::string_view base, std::string_view message) {
    std::string page = visitorStart("Password");
    page += "<form method=\"post\" action=\"" + htmlEscape(base) + "/unlock\" class=\"signin\"><h1>This link has a "
            "password</h1>";
    if (!message.empty()) page += "<p class=\"error\" role=\"alert\">" + htmlEscape(message) + "</p>";
    page += "<label for=\"password\">Password</label><input id=\"password\" name=\"password\" type=\"password\" "
            "autocomplete=\"current-password\" required autofocus><button>Open</button></form>";
    return page + std::string(kPageEnd);
}

std::string shareEndedPage() {
    std::string page = visitorStart("Link ended");
    page += "<section class=\"card\"><h1>This link does not work</h1><p>It does not exist, or it has ended. Ask "
            "whoever sent it for a new one.</p></section>";
    return page + std::string(kPageEnd);
}

std::string shareMessagePage(std::string_view base, std::string_view title, std::string_view message) {
    std::string page = visitorStart(title);
    page += "<section class=\"card\"><h1>" + htmlEscape(title) + "</h1><p class=\"error\" role=\"alert\">" +
            htmlEscape(message) + "</p><p><a href=\"" + htmlEscape(base) + "\">Back</a></p></section>";
    return page + std::string(kPageEnd);
}

std::string sharesPage(std::string_view user, std::string_view csrfToken, const std::vector<ShareListItem>& links) {
    std::string page = pageStart("Shared links");
    page += "<body data-csrf=\"" + htmlEscape(csrfToken) + "\"><header class=\"bar\"><span class=\"brand\">CorvelFtp"
            "</span><span class=\"who\">" + htmlEscape(user) + "</span></header><main>";
    page += "<nav class=\"crumbs\" aria-label=\"Folders\"><ol><li><a href=\"" + htmlEscape(folderLink("")) +
            "\">Home</a></li><li aria-current=\"page\">Shared links</li></ol></nav>";
    page += "<p class=\"note\">A link is shown only when it is made; here each has its id. A link works only while "
            "your account may still do what it shares.</p>";
    page += "<table class=\"files links\"><thead><tr><th>Id</th><th>What</th><th>Limits</th><th>State</th>"
            "<th class=\"a\">Actions</th></tr></thead><tbody>";
    for (const ShareListItem& item : links) {
        const ShareLink& link = item.link;
        page += "<tr data-id=\"" + htmlEscape(link.id) + "\"><td><code>" + htmlEscape(link.id) + "</code></td><td>" +
                std::string(kindLabel(link.kind)) + ": <a href=\"" +
                htmlEscape(folderLink(ownerFolderOf(link))) +
                "\">/" + htmlEscape(link.path) + "</a></td><td>" + htmlEscape(limitsText(link)) + "</td><td>" +
                htmlEscape(item.state) + "</td><td class=\"a\"><form method=\"post\" action=\"/app/unshare\" "
                "class=\"delete revoke\" data-question=\"Revoke the link " + htmlEscape(link.id) + "?\">" +
                hiddenField("csrf", csrfToken) + hiddenField("id", link.id) +
                "<button aria-label=\"Revoke " + htmlEscape(link.id) + "\">Revoke</button></form></td></tr>";
    }
    if (links.empty()) page += "<tr><td colspan=\"5\" class=\"empty\">You have no shared links.</td></tr>";
    page += "</tbody></table>";
    return page + std::string(kPageEnd);
}

std::string shareMadePage(std::string_view url, const ShareLink& link) {
    std::string page = pageStart("Link made");
    page += "<body><main><section class=\"card\"><h1>Link made</h1><p>" + std::string(kindLabel(link.kind)) + " /" +
            htmlEscape(link.path) + " (" + htmlEscape(limitsText(link)) + ").</p>";
    page += "<p><label for=\"link\">Copy the link now: it is not shown again.</label><input id=\"link\" "
            "class=\"link\" readonly value=\"" + htmlEscape(url) + "\"></p>";
    page += "<p><a href=\"/app/shares\">Shared links</a> &middot; <a href=\"" +
            htmlEscape(folderLink(ownerFolderOf(link))) +
            "\">Back to the folder</a></p></section>";
    return page + std::string(kPageEnd);
}

}  // namespace corvel
