// The fixed pages and the formatted pieces of the web browser's answers: status
// pages, the page frame, listing rows, and the header blocks of icons and downloads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvel {

// Complete answers, header and body.
extern const std::string_view kUnauthorizedPage;
extern const std::string_view kNotFoundPage;

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

// Header block of a download: "200 OK", attachment, Content-Length from the size text.
// The offered name loses CR, LF and '"' so it can neither end the header early nor
// close the quoted filename.
std::string downloadHeader(std::string_view contentType, std::string_view name, std::string_view sizeText);
// Header block of an icon: "200 OK", image/gif, inline, its byte count.
std::string iconHeader(std::string_view routeName, std::uint64_t size);

// name without CR, LF and '"'.
std::string safeHeaderFileName(std::string_view name);

}  // namespace corvel
