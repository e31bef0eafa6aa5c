#include "common/XmlText.h"

#include <tinyxml.h>

#include <cstdio>
#include <memory>

namespace corvel {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Whole-file read; false on an open or read error.
bool readWholeFile(const std::string& path, std::string& contents) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    char chunk[64 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) contents.append(chunk, got);
    return !std::ferror(file.get());
}

enum class LineEnds { Kept, Folded };

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Parses text up to its first NUL, byte by byte. With Folded, CR LF and lone CR
// are read as LF.
bool parseCopy(TiXmlDocument& doc, std::string_view text, LineEnds lineEnds) {
    // The library skips the mark only when it reads UTF-8.
    if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) text.remove_prefix(kUtf8ByteOrderMark.size());
    text = text.substr(0, text.find('\0'));
    std::string copy;
    copy.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lineEnds == LineEnds::Folded && text[i] == '\r') {
            copy += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            copy += text[i];
        }
    }
    doc.Parse(copy.c_str(), nullptr, TIXML_ENCODING_LEGACY);
    return !doc.Error();
}

}  // namespace

bool loadXmlFile(TiXmlDocument& doc, const std::string& path) {
    doc.Clear();
    doc.ClearError();
    doc.SetValue(path.c_str());
    std::string contents;
    if (!readWholeFile(path, contents)) {
        doc.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    return parseCopy(doc, contents, LineEnds::Folded);
}

bool parseXmlText(TiXmlDocument& doc, std::string_view text) {
    doc.Clear();
    doc.ClearError();
    return parseCopy(doc, text, LineEnds::Kept);
}

}  // namespace corvel
