#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ostrak/types.hpp"

namespace ostrak {

// Writes the stored JSON form: pretty-printed, one member per line, indented by two spaces.
// The caller gives members in sorted key order. Strings are escaped by the JSON library and
// "/" is then written as "\/", so the files match what the stored format has always held.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view value);
    JsonWriter& integer(std::int64_t value);
    JsonWriter& number(double value);
    JsonWriter& boolean(bool value);

    Bytes take();
    // The text the next value would start with, for a caller that compares rather than writes.
    const Bytes& output() const noexcept { return m_output; }
    void clear() { m_output.clear(); }

private:
    void beforeValue();
    void newline();

    Bytes m_output;
    std::vector<bool> m_firstInLevel;
    bool m_afterKey = false;
};

// Appends the JSON string literal of `value` (quotes included) with "/" escaped.
void appendJsonString(Bytes& output, std::string_view value);

}  // namespace ostrak
