#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ostrak/types.hpp"

namespace ostrak {

// Writes the stored JSON form: pretty-printed, one member per line, indented by two spaces.
// The caller gives members in sorted key order; "/" in strings is written as "\/".
class JsonWriter {
public:
    // A compact writer puts no white space at all (the diagnostics export).
    explicit JsonWriter(bool pretty = true) : m_pretty(pretty) {}

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
    const Bytes& output() const noexcept { return m_output; }

private:
    // Opens or closes an object or array level.
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);
    void beforeValue();
    void newline();

    Bytes m_output;
    std::vector<bool> m_firstInLevel;
    bool m_afterKey = false;
    bool m_pretty = true;
};

// Appends the JSON string literal of `value` (quotes included) with "/" escaped.
void appendJsonString(Bytes& output, std::string_view value);

}  // namespace ostrak
