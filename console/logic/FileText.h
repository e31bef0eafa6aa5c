// Texts of the XML files as the console shows and edits them.
//
// The files hold 8-bit bytes: UTF-8 when written here, but possibly another code
// page (files carried over from another system). Every save rewrites the whole file,
// so a text nobody edited must go back byte for byte: valid UTF-8 is decoded as
// such, and each byte outside valid UTF-8 becomes a lone surrogate U+DC80..U+DCFF
// (which no decoded UTF-8 text holds) that turns back into the same byte.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace corvel {

QString textFromFileBytes(std::string_view bytes);
std::string fileBytesFromText(const QString& text);

}  // namespace corvel
