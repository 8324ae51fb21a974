#pragma once

#include <algorithm>
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
using blocks::sum;

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

// The 0x00/0xFF mask of the control bytes of a block that take a six-byte "\u00XX" escape:
// all but backspace, form feed, line feed, carriage return and tab.
inline Block longEscapeMask(Block bytes) {
    return (bytes < 0x20) & (bytes != '\b') & (bytes != '\f') & (bytes != '\n') & (bytes != '\r') &
           (bytes != '\t');
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

// The length of the JSON string literal of `value` (quotes included) as writeEscaped and the
// quotes around it make it, counted sixteen bytes at a time without producing it: each byte
// lane adds what escaping adds (1 or 5), for as many blocks as a byte can count before the
// lanes are summed.
inline std::size_t escapedLength(std::string_view value) {
    constexpr std::size_t blocksPerSum = 255 / 5;
    std::size_t length = value.size() + 2, i = 0;
    while (i + 16 <= value.size()) {
        detail::Block added{};
        const std::size_t end = std::min(value.size(), i + 16 * blocksPerSum);
        for (; i + 16 <= end; i += 16) {
            const detail::Block bytes = detail::load(value.data() + i);
            added += (detail::escapeMask(bytes) & 1) + (detail::longEscapeMask(bytes) & 4);
        }
        length += detail::sum(added);
    }
    for (; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (detail::cleanRun(value.data() + i, 1) == 0) length += escapeSequence(byte).size() - 1;
    }
    return length;
}

// The most writeEscaped writes past the end of its result.
inline constexpr std::size_t escapeSlack = 16;

// Writes UTF-8 text escaped for a JSON string (without the quotes) to `out` and returns the
// end of what it wrote. `out` must have room for the escaped text and escapeSlack bytes more
// (six bytes for each byte of `value` always suffice, plus the slack): each block of sixteen
// is stored whole, and the escape of its first byte that needs one then overwrites the rest.
inline char* writeEscaped(std::string_view value, char* out) {
    const char* in = value.data();
    const char* const end = in + value.size();
    while (end - in >= 16) {
        std::memcpy(out, in, 16);
        const std::size_t clean = detail::firstSet(detail::escapeMask(detail::load(in)));
        if (clean == 16) {
            in += 16;
            out += 16;
            continue;
        }
        const std::string_view sequence = escapeSequence(static_cast<unsigned char>(in[clean]));
        std::memcpy(out + clean, sequence.data(), 6);  // every entry of the table holds six
        out += clean + sequence.size();
        in += clean + 1;
    }
    for (; in < end; ++in) {
        if (detail::cleanRun(in, 1) == 1) {
            *out++ = *in;
            continue;
        }
        const std::string_view sequence = escapeSequence(static_cast<unsigned char>(*in));
        std::memcpy(out, sequence.data(), sequence.size());
        out += sequence.size();
    }
    return out;
}

}  // namespace ostrak
