#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode questions the core asks of UTF-8 text, answered by ICU.
namespace ostrak::text {

bool isValidUtf8(std::string_view bytes);

// Whether every byte outside ASCII stands in a pair of bytes from 0xA1 to 0xFE, as GB2312's
// characters do in GBK and GB18030 (the likely encoding of text from a Chinese Windows machine).
// Latin-1 text, where an accented letter stands alone or before an ASCII one, does not.
bool looksLikeGbk(std::string_view bytes);

// The text with each byte that does not start a valid UTF-8 character written as "\xNN", so a
// name that is not UTF-8 can still be shown and stored; a backslash of the name itself is
// written "\\", so that a name spelt "\xE9" is never taken for the byte 0xE9.
std::string withInvalidBytesEscaped(std::string_view bytes);

// Drops white space and line breaks (general category Z, U+0009 to U+000D, U+0085) from both
// ends. Bytes that are not UTF-8 count as ordinary characters.
std::string_view trimmed(std::string_view utf8);

// True when some scalar is a control (Cc) or format (Cf) character, or the text is not UTF-8.
bool hasControlOrFormat(std::string_view utf8);

// The number of user-perceived characters (extended grapheme clusters), counting no further
// than `limit` + 1.
std::size_t graphemeCount(std::string_view utf8, std::size_t limit);

// The first `count` user-perceived characters.
std::string_view firstGraphemes(std::string_view utf8, std::size_t count);

}  // namespace ostrak::text
