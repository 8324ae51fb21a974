#include "json/json_writer.hpp"

#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "json/json_escape.hpp"

namespace ostrak {

void appendJsonString(Bytes& output, std::string_view value) {
    const std::size_t start = output.size();
    output.resize(start + escapedLength(value) + escapeSlack);
    char* out = output.data() + start;
    *out++ = '"';
    out = writeEscaped(value, out);
    *out++ = '"';
    output.resize(static_cast<std::size_t>(out - output.data()));
}

void JsonWriter::newline() {
    if (!m_pretty) return;
    m_output.push_back('\n');
    m_output.append(2 * m_firstInLevel.size(), ' ');
}

void JsonWriter::beforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_firstInLevel.empty()) return;
    if (!m_firstInLevel.back()) m_output.push_back(',');
    m_firstInLevel.back() = false;
    newline();
}

JsonWriter& JsonWriter::open(char bracket) {
    beforeValue();
    m_output.push_back(bracket);
    m_firstInLevel.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
    const bool empty = m_firstInLevel.back();
    m_firstInLevel.pop_back();
    if (!empty) newline();
    m_output.push_back(bracket);
    return *this;
}

JsonWriter& JsonWriter::beginObject() {
    return open('{');
}

JsonWriter& JsonWriter::endObject() {
    return close('}');
}

JsonWriter& JsonWriter::beginArray() {
    return open('[');
}

JsonWriter& JsonWriter::endArray() {
    return close(']');
}

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    appendJsonString(m_output, name);
    m_output.append(m_pretty ? " : " : ":");
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::string(std::string_view value) {
    beforeValue();
    appendJsonString(m_output, value);
    return *this;
}

JsonWriter& JsonWriter::integer(std::int64_t value) {
    beforeValue();
    m_output.append(std::to_string(value));
    return *this;
}

JsonWriter& JsonWriter::number(double value) {
    // JSON has no NaN or infinity; writing null in their place would store a file no reader
    // takes back.
    if (!std::isfinite(value)) throw std::domain_error("not a finite number");
    beforeValue();
    m_output.append(nlohmann::json(value).dump());
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    beforeValue();
    m_output.append(value ? "true" : "false");
    return *this;
}

Bytes JsonWriter::take() {
    if (m_pretty) m_output.push_back('\n');
    return std::move(m_output);
}

}  // namespace ostrak
