// A small writer of JSON text for corvelctl's --json output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// text as a JSON string with its quotes. Valid UTF-8 is kept as it is, except '"',
// '\\' and the control characters, which are escaped; every byte that is not part
// of valid UTF-8 (the files' texts are bytes in any code page) is written as
// \u00XX, so the output is always valid JSON and no byte is hidden.
std::string jsonQuoted(std::string_view text);

// Builds one JSON value in order: members and elements are appended, the writer
// places the commas. The caller pairs every begin with its end and gives a key
// before each member of an object. Owned by one thread.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view text);
    JsonWriter& number(std::int64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& null();

    const std::string& text() const { return text_; }

private:
    void beforeValue();
    void open(char bracket);
    void close(char bracket);

    std::string text_;
    std::vector<bool> empty_;  // for each open object or array: nothing in it yet
    bool afterKey_ = false;
};

}  // namespace corvel
