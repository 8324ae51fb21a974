#include "text/text.hpp"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <simdjson.h>
#include <cstdio>
#include <memory>

namespace ostrak::text {

namespace {

bool isWhitespaceOrNewline(UChar32 c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const auto category = u_charType(c);
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
           category == U_PARAGRAPH_SEPARATOR;
}

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};
using BreakIterator = std::unique_ptr<UBreakIterator, BreakIteratorCloser>;
using Text = std::unique_ptr<UText, TextCloser>;

// Walks grapheme boundaries and returns the byte offset after `count` clusters (or the end),
// together with how many clusters it passed.
std::pair<std::size_t, std::size_t> graphemeBoundary(std::string_view utf8, std::size_t count) {
    UErrorCode status = U_ZERO_ERROR;
    Text text(utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status));
    BreakIterator iterator(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
    if (U_FAILURE(status)) return {utf8.size(), 0};
    ubrk_setUText(iterator.get(), text.get(), &status);
    if (U_FAILURE(status)) return {utf8.size(), 0};
    std::size_t passed = 0;
    std::size_t offset = 0;
    for (int32_t next = ubrk_next(iterator.get()); next != UBRK_DONE && passed < count;
         next = ubrk_next(iterator.get())) {
        ++passed;
        offset = static_cast<std::size_t>(next);
    }
    return {passed < count ? utf8.size() : offset, passed};
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    return simdjson::validate_utf8(bytes.data(), bytes.size());
}

bool looksLikeGbk(std::string_view bytes) {
    bool pairs = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) continue;
        const auto inRange = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
        if (!inRange(byte) || i + 1 == bytes.size() ||
            !inRange(static_cast<unsigned char>(bytes[i + 1]))) {
            return false;
        }
        pairs = true;
        ++i;
    }
    return pairs;
}

std::string withInvalidBytesEscaped(std::string_view bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    std::string shown;
    for (int32_t offset = 0; offset < length;) {
        int32_t next = offset;
        UChar32 c;
        U8_NEXT(data, next, length, c);
        if (c == '\\') {
            shown += "\\\\";
            offset = next;
            continue;
        }
        if (c >= 0) {
            shown.append(bytes.substr(static_cast<std::size_t>(offset),
                                      static_cast<std::size_t>(next - offset)));
            offset = next;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", data[offset]);
        shown += escaped;
        ++offset;
    }
    return shown;
}

std::string_view trimmed(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !isWhitespaceOrNewline(c)) break;
        end = previous;
    }
    return utf8.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

bool hasControlOrFormat(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    for (int32_t offset = 0; offset < length;) {
        UChar32 c;
        U8_NEXT(bytes, offset, length, c);
        if (c < 0) return true;
        const auto category = u_charType(c);
        if (category == U_CONTROL_CHAR || category == U_FORMAT_CHAR) return true;
    }
    return false;
}

std::size_t graphemeCount(std::string_view utf8, std::size_t limit) {
    return graphemeBoundary(utf8, limit + 1).second;
}

std::string_view firstGraphemes(std::string_view utf8, std::size_t count) {
    // A cluster holds at least one scalar, so text of at most `count` scalars needs no cut.
    if (utf8.size() <= count) return utf8;
    return utf8.substr(0, graphemeBoundary(utf8, count).first);
}

}  // namespace ostrak::text
