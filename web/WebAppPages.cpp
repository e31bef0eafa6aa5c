#include "web/WebAppPages.h"

#include <algorithm>

#include "web/HttpText.h"
#include "web/SharePages.h"
#include "web/WebAppText.h"

namespace corvel {

namespace {

constexpr std::string_view kPageStart =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
    "<link rel=\"stylesheet\" href=\"/app/app.css\"><script src=\"/app/app.js\" defer></script><title>";

std::string_view reasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 303:
            return "See Other";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string childPath(std::string_view folder, std::string_view name) {
    return folder.empty() ? std::string(name) : std::string(folder) + "/" + std::string(name);
}

std::string_view sortName(AppSortKey key) {
    switch (key) {
        case AppSortKey::Name:
            return "name";
        case AppSortKey::Size:
            return "size";
        case AppSortKey::Date:
            return "date";
    }
    return "name";
}

// A column heading that sorts by key; a second click on the current key reverses it.
std::string sortHeading(const FolderView& view, AppSortKey key, std::string_view label, std::string_view cls) {
    const bool current = view.sort.key == key;
    AppSort next{key, current && !view.sort.descending};
    std::string cell = "<th class=\"" + std::string(cls) + "\"";
    if (current) cell += view.sort.descending ? " aria-sort=\"descending\"" : " aria-sort=\"ascending\"";
    cell += "><a href=\"" + htmlEscape(folderLink(view.folder, next)) + "\">" + std::string(label);
    if (current) cell += view.sort.descending ? " &#9660;" : " &#9650;";
    cell += "</a></th>";
    return cell;
}

std::string breadcrumbs(std::string_view folder) {
    std::string nav = "<nav class=\"crumbs\" aria-label=\"Folders\"><ol>";
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string_view::npos) end = folder.size();
        if (end > start) names.emplace_back(folder.substr(start, end - start));
        start = end + 1;
    }
    std::string path;
    if (names.empty()) {
        nav += "<li aria-current=\"page\">Home</li>";
    } else {
        nav += "<li><a href=\"" + htmlEscape(folderLink("")) + "\">Home</a></li>";
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        path = childPath(path, names[i]);
        if (i + 1 == names.size())
            nav += "<li aria-current=\"page\">" + htmlEscape(names[i]) + "</li>";
        else
            nav += "<li><a href=\"" + htmlEscape(folderLink(path)) + "\">" + htmlEscape(names[i]) + "</a></li>";
    }
    nav += "</ol></nav>";
    return nav;
}

std::string entryRow(const FolderView& view, const AppEntry& entry) {
    const std::string path = childPath(view.folder, entry.name);
    const std::string name = htmlEscape(entry.name);
    std::string row = "<tr data-name=\"" + name + "\" data-kind=\"" + (entry.folder ? "folder" : "file") + "\">";
    row += "<td class=\"n\">";
    // The check boxes belong to the selection's form above the table, so they work
    // without the script.
    if (view.rights.download)
        row += "<input type=\"checkbox\" name=\"pick\" value=\"" + name + "\" form=\"picked\" aria-label=\"Select " +
               name + "\"> ";
    if (entry.folder) {
        row += "<a href=\"" + htmlEscape(folderLink(path, view.sort)) + "\">" + std::string(kFolderIcon);
    } else if (view.rights.download) {
        row += "<a href=\"/app/download?path=" + encodeLinkPath(path) + "\" download>" + std::string(kFileIcon);
    } else {
        row += "<span>" + std::string(kFileIcon);
    }
    row += "<span class=\"label\">" + name + "</span>";
    row += entry.folder || view.rights.download ? "</a>" : "</span>";
    row += "</td><td class=\"s\">";
    if (!entry.folder) row += humanSize(entry.size);
    row += "</td><td class=\"d\">" + utcDateText(entry.modified) + "</td><td class=\"a\">";
    if (view.rights.rename) {
        row += "<details class=\"rename\"><summary>Rename</summary><form method=\"post\" action=\"/app/rename\">";
        row += hiddenField("csrf", view.csrfToken) + hiddenField("path", path);
        row += "<label>New name <input name=\"name\" value=\"" + name +
               "\" required maxlength=\"255\" autocomplete=\"off\"></label> <button>Rename</button></form></details>";
    }
    if (entry.folder && view.rights.download)
        row += "<a class=\"zip\" href=\"/app/zip?path=" + encodeLinkPath(path) + "\" download>Zip</a> ";
    if (view.sharing && (entry.folder ? view.rights.list : view.rights.download))
        row += shareForm(view.csrfToken, path, entry.folder, entry.folder && view.rights.upload, "Share");
    if (entry.folder ? view.rights.removeFolder : view.rights.removeFile) {
        row += "<form method=\"post\" action=\"/app/delete\" class=\"delete\" data-name=\"" + name + "\">";
        row += hiddenField("csrf", view.csrfToken) + hiddenField("path", path) +
               hiddenField("kind", entry.folder ? "folder" : "file");
        row += "<button aria-label=\"Delete " + name + "\">Delete</button></form>";
    }
    row += "</td></tr>";
    return row;
}

}  // namespace

const std::string_view kFolderIcon =
    "<svg class=\"icon\" viewBox=\"0 0 16 16\" aria-hidden=\"true\"><path d=\"M1 3h5l2 2h7v9H1z\" "
    "fill=\"#e0a82e\"/></svg>";
const std::string_view kFileIcon =
    "<svg class=\"icon\" viewBox=\"0 0 16 16\" aria-hidden=\"true\"><path d=\"M3 1h7l3 3v11H3z\" fill=\"#fff\" "
    "stroke=\"#667\"/></svg>";

std::string pageStart(std::string_view title) {
    std::string page(kPageStart);
    page += htmlEscape(title);
    page += " - CorvelFtp</title></head>";
    return page;
}

std::string hiddenField(std::string_view name, std::string_view value) {
    return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + htmlEscape(value) + "\">";
}

AppSort appSortOf(std::string_view query) {
    AppSort sort;
    const std::string key = formField(query, "sort").value_or("");
    if (key == "size") sort.key = AppSortKey::Size;
    if (key == "date") sort.key = AppSortKey::Date;
    sort.descending = formField(query, "order").value_or("") == "desc";
    return sort;
}

void sortEntries(std::vector<AppEntry>& entries, AppSort sort) {
    std::sort(entries.begin(), entries.end(), [sort](const AppEntry& a, const AppEntry& b) {
        if (a.folder != b.folder) return a.folder;  // folders first, whatever the order
        auto less = [sort](const AppEntry& x, const AppEntry& y) {
            switch (sort.key) {
                case AppSortKey::Size:
                    if (x.size != y.size) return x.size < y.size;
                    break;
                case AppSortKey::Date:
                    if (x.modified != y.modified) return x.modified < y.modified;
                    break;
                case AppSortKey::Name:
                    break;
            }
            return x.name < y.name;
        };
        return sort.descending ? less(b, a) : less(a, b);
    });
}

std::string folderLink(std::string_view folder, AppSort sort) {
    std::string link = "/app/?path=" + encodeLinkPath(folder);
    if (sort.key != AppSortKey::Name || sort.descending) {
        link += "&sort=";
        link += sortName(sort.key);
        link += sort.descending ? "&order=desc" : "&order=asc";
    }
    return link;
}

std::string folderPage(const FolderView& view) {
    std::string page = pageStart(view.folder.empty() ? "Home" : view.folder);
    page += "<body data-csrf=\"" + htmlEscape(view.csrfToken) + "\" data-folder=\"" + htmlEscape(view.folder) + "\">";
    page += "<header class=\"bar\"><span class=\"brand\">CorvelFtp</span><span class=\"who\">" + htmlEscape(view.user) +
            "</span>";
    if (view.sharing) page += "<a class=\"links\" href=\"/app/shares\">Shared links</a>";
    if (!view.csrfToken.empty()) {
        page += "<form method=\"post\" action=\"/app/logout\">" + hiddenField("csrf", view.csrfToken) +
                "<button>Sign out</button></form>";
    }
    page += "</header><main>";
    page += breadcrumbs(view.folder);
    const bool folderShare = view.sharing && view.rights.list;
    if (view.rights.download || folderShare) page += "<div class=\"whole\">";
    if (view.rights.download) {
        page += "<a href=\"/app/zip?path=" + encodeLinkPath(view.folder) +
                "\" download>Download this folder as a zip</a><form id=\"picked\" method=\"get\" action=\"/app/zip\">" +
                hiddenField("path", view.folder) + "<button>Download the selected as a zip</button></form>";
    }
    if (folderShare) page += shareForm(view.csrfToken, view.folder, true, view.rights.upload, "Share this folder");
    if (view.rights.download || folderShare) page += "</div>";
    if (view.rights.makeFolder || view.rights.upload) page += "<section class=\"tools\">";
    if (view.rights.makeFolder) {
        page += "<form method=\"post\" action=\"/app/mkdir\" class=\"mkdir\">" + hiddenField("csrf", view.csrfToken) +
                hiddenField("path", view.folder) +
                "<label for=\"newFolder\">New folder</label> <input id=\"newFolder\" name=\"name\" required "
                "maxlength=\"255\" autocomplete=\"off\"> <button>Create</button></form>";
    }
    if (view.rights.upload) {
        page +=
            "<div class=\"upload\" id=\"upload\" hidden><label class=\"pick\">Upload files <input type=\"file\" "
            "id=\"pickFiles\" multiple></label><label class=\"pick\">Upload a folder <input type=\"file\" "
            "id=\"pickFolder\" webkitdirectory multiple></label><p class=\"drop\" id=\"drop\" tabindex=\"0\">"
            "or drop files and folders here</p><ul id=\"progress\" aria-live=\"polite\"></ul></div>"
            "<form method=\"post\" action=\"/app/send?path=" +
            encodeLinkPath(view.folder) + "\" enctype=\"multipart/form-data\" class=\"sendform\">" +
            hiddenField("csrf", view.csrfToken) +
            "<label>Upload files <input type=\"file\" name=\"files\" multiple required></label> "
            "<button>Upload</button></form>";
    }
    if (view.rights.makeFolder || view.rights.upload) page += "</section>";
    page += "<table class=\"files\"><thead><tr>";
    page += sortHeading(view, AppSortKey::Name, "Name", "n");
    page += sortHeading(view, AppSortKey::Size, "Size", "s");
    page += sortHeading(view, AppSortKey::Date, "Modified (UTC)", "d");
    page += "<th class=\"a\">Actions</th></tr></thead><tbody>";
    for (const AppEntry& entry : view.entries) page += entryRow(view, entry);
    if (view.entries.empty()) page += "<tr><td colspan=\"4\" class=\"empty\">This folder is empty.</td></tr>";
    page += "</tbody></table></main></body></html>\n";
    return page;
}

std::string loginPage(std::string_view message) {
    std::string page = pageStart("Sign in");
    page +=
        "<body class=\"login\"><main><h1>CorvelFtp</h1><form method=\"post\" action=\"/app/login\" "
        "class=\"signin\">";
    if (!message.empty()) page += "<p class=\"error\" role=\"alert\">" + htmlEscape(message) + "</p>";
    page +=
        "<label for=\"user\">User name</label><input id=\"user\" name=\"user\" autocomplete=\"username\" "
        "required autofocus><label for=\"password\">Password</label><input id=\"password\" name=\"password\" "
        "type=\"password\" autocomplete=\"current-password\"><button>Sign in</button></form></main></body></html>\n";
    return page;
}

std::string messagePage(std::string_view title, std::string_view message, std::string_view folder) {
    std::string page = pageStart(title);
    page += "<body><main><h1>" + htmlEscape(title) + "</h1><p class=\"error\" role=\"alert\">" + htmlEscape(message) +
            "</p><p><a href=\"" + htmlEscape(folderLink(folder)) +
            "\">Back to the folder</a></p></main></body></html>\n";
    return page;
}

namespace {

std::string headerStart(int status, std::string_view contentType) {
    std::string header = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reasonOf(status)) + "\r\n";
    header += "Server: CorvelFtp Server\r\nContent-Type: ";
    header += contentType;
    header += "\r\n";
    return header;
}

std::string headerEnd(std::string header, std::string_view extraFields) {
    header +=
        "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
        "Referrer-Policy: same-origin\r\n"
        "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
        "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'\r\n"
        "Connection: close\r\n";
    header += extraFields;
    header += "\r\n";
    return header;
}

}  // namespace

std::string appHeader(int status, std::string_view contentType, std::uint64_t contentLength,
                      std::string_view extraFields) {
    return headerEnd(headerStart(status, contentType) + "Content-Length: " + std::to_string(contentLength) + "\r\n",
                     extraFields);
}

std::string appHeaderWithoutLength(int status, std::string_view contentType, std::string_view extraFields) {
    return headerEnd(headerStart(status, contentType), extraFields);
}

}  // namespace corvel
