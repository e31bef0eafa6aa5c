// Texts of the web browser's answers.
#include "web/WebPages.h"

#include "web/HttpText.h"

namespace corvel {

const std::string_view kUnauthorizedPage =
    "HTTP/1.1 401 Unauthorized\r\nServer: CorvelFtp Server/1.0\r\nAuthor: cOrvelFtp Server\r\n"
    "WWW-Authenticate: BASIC realm=\"Login to CorvelFtp Server\"\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>401 Unauthorized</title></head><body><h1>401 Unauthorized</h1>"
    "<hr width=\"900\" align=\"left\">Sorry, Unauthorized.</body></html>\r\n\r\n";

const std::string_view kNotFoundPage =
    "HTTP/1.1 404 Error\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>404 Error</title></head><body><h1>404 Error</h1>"
    "<hr width=\"900\" align=\"left\">Not Found</body></html>\r\n\r\n";

const std::string_view kUriTooLongPage =
    "HTTP/1.1 414 URI Too Long\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\nContent-Type: text/html\r\n"
    "Connection: close\r\n\r\n<html><head><title>414 URI Too Long</title></head><body><h1>414 URI Too Long</h1>"
    "<hr width=\"900\" align=\"left\">URI Too Long</body></html>\r\n\r\n";

namespace {

// The misspelt header names are what clients have always received; kept as they are.
constexpr std::string_view kPageHeader =
    "HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFtp Server\r\n"
    "Author: CorvelFtp Server\r\nContent-Type: text/html\r\n\r\n";

constexpr std::string_view kPageHead =
    "<html><head><style>body{\tfont-size: 10pt;\tcolor: #000066;}td{\tfont-size: 10pt;\tcolor: #000066;}"
    "a {\ttext-decoration: none; }a:link { color:#0000FF }a:visited { color:#0000FF; }"
    "a:hover, a:active, a:focus { font-size: 10pt;color:#FF0000; }</style>"
    "<title>CorvelFtp Server</title></head><body><h1>";

constexpr std::string_view kStatusOk = "HTTP/1.1 200 OK\r\n";
constexpr std::string_view kStatusPartial = "HTTP/1.1 206 Partial Content\r\n";
constexpr std::string_view kBinaryFieldsStart =
    "pragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\nContent-Type: ";

// name as the inside of a quoted string (RFC 9110, 5.6.4): '\\' escaped; safeHeaderFileName
// took CR, LF and '"' out already.
std::string quotedStringText(std::string_view name) {
    std::string text;
    for (char c : name) {
        if (c == '\\') text += '\\';
        text += c;
    }
    return text;
}

// The fields of the extensions go after Content-Length, so the designed fields keep
// their order and their bytes.
std::string binaryHeader(std::string_view statusLine, std::string_view contentType, std::string_view name,
                         std::string_view disposition, std::string_view length, std::string_view extraFields = {},
                         ContentTypeForm form = ContentTypeForm::Folded) {
    const std::string quoted = form == ContentTypeForm::OneLine ? quotedStringText(name) : std::string(name);
    std::string header(statusLine);
    header += kBinaryFieldsStart;
    header += contentType;
    if (form == ContentTypeForm::OneLine) {
        header += "; name=\"";
        header += quoted;
        header += '"';
    } else {
        header += ";\r\n name=";
        header += name;
    }
    header += "\r\nContent-Disposition: ";
    header += disposition;
    header += "; filename=\"";
    header += quoted;
    header += "\"\r\nContent-Length: ";
    header += length;
    header += "\r\n";
    header += extraFields;
    header += "\r\n";
    return header;
}

}  // namespace

const std::string_view kPageFooter =
    "<hr width=\"900\" align=\"left\"><a href=\"list.html\">Folders and Files</a> - "
    "<a href=\"config.html\">Password</a> <p> CorvelFtp Server</body></html>\r\n\r\n";

std::string pageFrameStart(std::string_view hostName, std::string_view user) {
    std::string page;
    page.reserve(1024);
    page += kPageHeader;
    page += kPageHead;
    // SECURITY: names are escaped so that an account or host name cannot inject markup.
    page += htmlEscape(hostName);
    page += " - ";
    page += htmlEscape(user);
    return page;
}

std::string_view rowColour(std::size_t position) { return position % 2 == 1 ? "#FFFFFF" : "#F0F0F0"; }

std::string upRow(std::string_view colour, std::string_view link) {
    std::string row = "<tr bgcolor=\"";
    row += colour;
    row += "\"><td colspan=\"4\"><a href=\"list.html?path=";
    row += link;
    row += "\"><img src=\"cdup.gif\" border=\"0\"></a></td></tr>";
    return row;
}

static std::string entryRow(std::string_view colour, std::string_view icon, std::string_view target,
                            std::string_view link, std::string_view nameOpen, std::string_view name,
                            std::string_view nameClose, std::string_view sizeText, std::string_view dateText) {
    std::string row = "<tr bgcolor=\"";
    row += colour;
    row += "\"><td><img src=\"";
    row += icon;
    row += "\"></td><td width=\"600\"><a href=\"";
    row += target;
    row += link;
    row += "\">";
    row += nameOpen;
    // SECURITY: file names come from the disk and may hold markup.
    row += htmlEscape(name);
    row += nameClose;
    row += "</a></td><td width=\"100\">";
    row += sizeText;
    row += "</td><td>";
    row += dateText;
    row += "</td></tr>\r\n";
    return row;
}

std::string folderRow(std::string_view colour, std::string_view link, std::string_view name,
                      std::string_view sizeText, std::string_view dateText) {
    return entryRow(colour, "forder.gif", "list.html?path=", link, "<b>", name, "</b>", sizeText, dateText);
}

std::string fileRow(std::string_view colour, std::string_view link, std::string_view name,
                    std::string_view sizeText, std::string_view dateText) {
    return entryRow(colour, "file.gif", "download.html?path=", link, "", name, "", sizeText, dateText);
}

std::string safeHeaderFileName(std::string_view name) {
    std::string safe;
    safe.reserve(name.size());
    for (char c : name)
        if (c != '\r' && c != '\n' && c != '"') safe.push_back(c);
    return safe;
}

std::string downloadHeader(std::string_view contentType, std::string_view name, std::string_view sizeText) {
    // SECURITY: the name comes from the request; CR, LF and '"' would let it forge headers.
    std::string safe = safeHeaderFileName(name);
    return binaryHeader(kStatusOk, contentType, safe, "attachment", sizeText);
}

std::string extendedDownloadHeader(std::string_view contentType, std::string_view name, std::int64_t fileSize,
                                   const RangeChoice& choice) {
    // SECURITY: the name comes from the request; CR, LF and '"' would let it forge headers.
    std::string safe = safeHeaderFileName(name);
    std::string fields = "Accept-Ranges: bytes\r\n";
    if (choice.kind != RangeChoice::Kind::Part)
        return binaryHeader(kStatusOk, contentType, safe, "attachment", std::to_string(fileSize), fields,
                            ContentTypeForm::OneLine);
    fields += "Content-Range: bytes " + std::to_string(choice.first) + "-" + std::to_string(choice.last) + "/" +
              std::to_string(fileSize) + "\r\n";
    return binaryHeader(kStatusPartial, contentType, safe, "attachment",
                        std::to_string(choice.last - choice.first + 1), fields, ContentTypeForm::OneLine);
}

std::string rangeNotSatisfiablePage(std::int64_t fileSize) {
    std::string page =
        "HTTP/1.1 416 Range Not Satisfiable\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\n"
        "Content-Type: text/html\r\nContent-Range: bytes */";
    page += std::to_string(fileSize);
    page +=
        "\r\n\r\n<html><head><title>416 Range Not Satisfiable</title></head><body><h1>416 Range Not Satisfiable"
        "</h1><hr width=\"900\" align=\"left\">Range Not Satisfiable</body></html>\r\n\r\n";
    return page;
}

std::string iconHeader(std::string_view routeName, std::uint64_t size, ContentTypeForm form) {
    return binaryHeader(kStatusOk, "image/gif", routeName, "inline", std::to_string(size), {}, form);
}

std::string withCharset(std::string_view answer, std::string_view charset) {
    std::string text(answer);
    if (charset.empty()) return text;
    constexpr std::string_view kHtmlType = "Content-Type: text/html";
    constexpr std::string_view kHead = "<head>";
    if (const std::size_t type = text.find(kHtmlType); type != std::string::npos)
        text.insert(type + kHtmlType.size(), "; charset=" + std::string(charset));
    if (const std::size_t head = text.find(kHead); head != std::string::npos)
        text.insert(head + kHead.size(), "<meta charset=\"" + std::string(charset) + "\">");
    return text;
}

std::string_view headerOf(std::string_view answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string_view::npos ? answer : answer.substr(0, end + 4);
}

}  // namespace corvel
