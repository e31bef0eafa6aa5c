// Reading the XML files and texts into TinyXML documents.
//
// Texts are 8-bit bytes in whatever code page the administrator uses, so the
// library reads them byte by byte (its legacy encoding) whatever the declaration
// says. Left to itself it reads them as UTF-8 once a declaration or byte-order
// mark names it, and then a byte such as 0xE9 ("é" in Latin-1) takes the quote or
// bracket after it as part of one character: names change when the file is
// written back, and at the end of a text it reads past the terminator.
#pragma once

#include <string>
#include <string_view>

class TiXmlDocument;

namespace corvel {

// Replaces doc with the document in the file at path. As the library's own file
// loader: line ends (CR LF, lone CR) read as LF and the text ends at its first NUL
// byte. A leading UTF-8 byte-order mark is skipped. False (with doc's error set)
// when the file cannot be read or is not well-formed.
bool loadXmlFile(TiXmlDocument& doc, const std::string& path);

// Replaces doc with the document in text (up to its first NUL byte; a leading
// UTF-8 byte-order mark is skipped). False (with doc's error set) when malformed.
bool parseXmlText(TiXmlDocument& doc, std::string_view text);

}  // namespace corvel
