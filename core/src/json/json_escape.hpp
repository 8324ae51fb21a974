#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/byte_blocks.hpp"

namespace ostrak {

// JSON string escaping for the stored format: quotes, backslashes and control characters as
// JSON requires, and "/" as "\/" as the stored files have always held it. Fast enough for a
// 16 MB index: clean runs are found sixteen bytes at a time.
namespace detail {

using blocks::Block;
using blocks::firstSet;
using blocks::load;

// The 0x00/0xFF mask of the bytes of a block that need escaping.
inline Block escapeMask(Block bytes) {
    return (bytes < 0x20) | (bytes == '"') | (bytes == '\\') | (bytes == '/');
}

// How many leading bytes of `text` need no escaping, looking at most at its `length` bytes.
inline std::size_t cleanRun(const char* text, std::size_t length) {
    std::size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const std::size_t clean = firstSet(escapeMask(load(text + i)));
        if (clean < 16) return i + clean;
    }
    for (; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == '"' || byte == '\\' || byte == '/') break;
    }
    return i;
}

}  // namespace detail

// The escape sequence written for a byte that must be escaped.
inline std::string_view escapeSequence(unsigned char byte) {
    static constexpr auto table = [] {
        std::array<std::array<char, 6>, 256> sequences{};
        constexpr char hex[] = "0123456789abcdef";
        for (int c = 0; c < 0x20; ++c) {
            sequences[c] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
        }
        sequences['\b'] = {'\\', 'b'};
        sequences['\f'] = {'\\', 'f'};
        sequences['\n'] = {'\\', 'n'};
        sequences['\r'] = {'\\', 'r'};
        sequences['\t'] = {'\\', 't'};
        sequences['"'] = {'\\', '"'};
        sequences['\\'] = {'\\', '\\'};
        sequences['/'] = {'\\', '/'};
        return sequences;
    }();
    const auto& sequence = table[byte];
    return {sequence.data(), sequence[2] == 0 ? std::size_t{2} : std::size_t{6}};
}

// Produces the JSON string literal of UTF-8 text (quotes included) as a series of pieces handed
// to `sink`, stopping early when the sink returns false. Long runs that need no escaping go out
// as one piece; the text is expected to be valid UTF-8 already.
template <class Sink>
bool escapeJsonString(std::string_view value, Sink&& sink) {
    if (!sink(std::string_view("\""))) return false;
    std::size_t i = 0;
    while (i < value.size()) {
        const std::size_t clean = detail::cleanRun(value.data() + i, value.size() - i);
        if (clean > 0 && !sink(value.substr(i, clean))) return false;
        i += clean;
        if (i < value.size() && !sink(escapeSequence(static_cast<unsigned char>(value[i++])))) {
            return false;
        }
    }
    return sink(std::string_view("\""));
}

}  // namespace ostrak
