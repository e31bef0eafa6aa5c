// Reading the XML files and texts into TinyXML documents.
//
// The library's own readers hand it a buffer with a single NUL after the text, and
// its UTF-8 character reader steps over a whole multi-byte sequence even when the
// text ends inside one, which walks past that NUL into whatever memory follows.
// These readers give the same results as TiXmlDocument::LoadFile and ::Parse but
// parse from a copy with spare NUL bytes after the text, so such a step lands on a
// terminator.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class TiXmlDocument;

namespace corvel {

// NUL bytes after every text handed to the library. Its longest step for one
// character is four bytes, so past the terminator it reads at most three more
// before it meets a NUL; eight leaves room.
inline constexpr std::size_t kXmlTerminatorPadding = 8;

// Replaces doc with the document in the file at path, as LoadFile does: line ends
// (CR LF, lone CR) read as LF, the text ends at its first NUL byte, encoding found
// from a byte-order mark or the declaration. False (with doc's error set) when the
// file cannot be read or is not well-formed.
bool loadXmlFile(TiXmlDocument& doc, const std::string& path);

// Replaces doc with the document in text, as Parse does (no line-end folding; the
// text ends at its first NUL byte). False (with doc's error set) when malformed.
bool parseXmlText(TiXmlDocument& doc, std::string_view text);

}  // namespace corvel
