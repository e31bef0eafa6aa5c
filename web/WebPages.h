// The fixed pages and the formatted pieces of the web browser's answers: status
// pages, the page frame, listing rows, and the header blocks of icons and downloads
// (with the range fields of <webext>).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "web/ByteRange.h"

namespace corvel {

// Complete answers, header and body.
extern const std::string_view kUnauthorizedPage;
extern const std::string_view kNotFoundPage;
// The answer to a request line longer than a whole request head may be.
extern const std::string_view kUriTooLongPage;

// Status line, header block, head and the heading up to the user name. Host and
// user names are HTML-escaped.
std::string pageFrameStart(std::string_view hostName, std::string_view user);
// The links at the bottom of every generated page and the end of the document.
extern const std::string_view kPageFooter;

// The colour of the listing row at 0-based position i (every entry takes a position,
// also those that give no row).
std::string_view rowColour(std::size_t position);

// Listing rows; link is already percent-encoded, name is escaped here.
std::string upRow(std::string_view colour, std::string_view link);
std::string folderRow(std::string_view colour, std::string_view link, std::string_view name,
                      std::string_view sizeText, std::string_view dateText);
std::string fileRow(std::string_view colour, std::string_view link, std::string_view name,
                    std::string_view sizeText, std::string_view dateText);

// How the binary headers write Content-Type: Folded as designed (the name on a
// continuation line), or OneLine ("type; name=\"a b\"", quoted) as RFC 9112, 5.2
// wants of a server (<webext>yes).
enum class ContentTypeForm { Folded, OneLine };

// The answer with a character set declared: "; charset=" + charset after its
// "Content-Type: text/html" and <meta charset="..."> first in its head. answer itself
// when charset is empty.
std::string withCharset(std::string_view answer, std::string_view charset);

// Header block of a download: "200 OK", attachment, Content-Length from the size text.
// The offered name loses CR, LF and '"' so it can neither end the header early nor
// close the quoted filename.
std::string downloadHeader(std::string_view contentType, std::string_view name, std::string_view sizeText);
// The download header with <webext>yes (Content-Type on one line), for a whole file (choice Whole: "200 OK",
// Content-Length of the file) or a part (choice Part: "206 Partial Content",
// Content-Length of the part). The designed fields keep their order; after
// Content-Length come "Accept-Ranges: bytes" and, for a part, "Content-Range: bytes
// first-last/fileSize".
std::string extendedDownloadHeader(std::string_view contentType, std::string_view name, std::int64_t fileSize,
                                   const RangeChoice& choice);
// The whole 416 answer to a range beyond a file of fileSize bytes, built like the
// 404 page, with "Content-Range: bytes */fileSize" after Content-Type.
std::string rangeNotSatisfiablePage(std::int64_t fileSize);
// Header block of an icon: "200 OK", image/gif, inline, its byte count.
std::string iconHeader(std::string_view routeName, std::uint64_t size, ContentTypeForm form = ContentTypeForm::Folded);

// The header block of a whole answer, through the blank line that ends it: what a
// HEAD request gets. The whole text when it holds no blank line.
std::string_view headerOf(std::string_view answer);

// name without CR, LF and '"'.
std::string safeHeaderFileName(std::string_view name);

}  // namespace corvel
