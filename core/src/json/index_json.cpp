#include "json/index_json.hpp"

#include <simdjson.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "files/guarded_reader.hpp"
#include "files/mapped_file.hpp"
#include "files/streamed_write.hpp"
#include "json/json_escape.hpp"
#include "json/json_integers.hpp"
#include "json/json_writer.hpp"

namespace ostrak {

namespace {

using namespace std::literals;

struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How the stored form opens, and the keys of its last two members with what stands before them.
constexpr auto ownHead = "{\n  \"documents\" : [\n    {\n      \"relativePath\" : \""sv;
constexpr auto skippedKey = ",\n  \"skipped\" : "sv;
constexpr auto updatedAtKey = ",\n  \"updatedAt\" : "sv;
constexpr auto closing = "\n}\n"sv;

// Emits the stored form through `out` (raw pieces and strings to escape), up to and including
// the "updatedAt" key; the caller adds the time and the closing brace. Stops as soon as the
// emitter returns false. The layout is JsonWriter's: two-space indent, " : ", keys sorted.
template <class Emitter>
bool emitUntilTime(const std::vector<IndexedDocument>& documents, std::int64_t skipped,
                   Emitter& out) {
    if (!out.raw("{\n  \"documents\" : ["sv)) return false;
    bool first = true;
    for (const auto& document : documents) {
        if (!out.raw(first ? "\n    {\n      \"relativePath\" : "sv
                           : ",\n    {\n      \"relativePath\" : "sv) ||
            !out.string(document.relativePath) || !out.raw(",\n      \"text\" : "sv) ||
            !out.string(document.text) || !out.raw(",\n      \"title\" : "sv) ||
            !out.string(document.title) || !out.raw("\n    }"sv)) {
            return false;
        }
        first = false;
    }
    const std::string tail = (documents.empty() ? "]"s : "\n  ]"s) + std::string(skippedKey) +
                             std::to_string(skipped) + std::string(updatedAtKey);
    return out.raw(tail);
}

class Appender {
public:
    explicit Appender(Bytes& output) : m_output(output) {}
    bool raw(std::string_view piece) {
        m_output.append(piece);
        return true;
    }
    bool string(std::string_view value) {
        appendJsonString(m_output, value);
        return true;
    }

private:
    Bytes& m_output;
};

// An Appender that hands its text on in pieces of at least 64 KiB. Strings are escaped straight
// into its buffer, a slice at a time, so that the most a slice can become always fits.
class ChunkedAppender {
public:
    explicit ChunkedAppender(const SafeFiles::ChunkWriter& write)
        : m_write(write), m_buffer(std::make_unique<char[]>(capacity + 6 * slice + escapeSlack)) {}
    bool raw(std::string_view piece) {
        while (!piece.empty()) {
            makeRoom();
            const std::size_t length = std::min(piece.size(), capacity - m_length);
            std::memcpy(m_buffer.get() + m_length, piece.data(), length);
            m_length += length;
            piece.remove_prefix(length);
        }
        return true;
    }
    bool string(std::string_view value) {
        raw("\""sv);
        for (std::size_t at = 0; at < value.size(); at += slice) {
            makeRoom();
            char* const start = m_buffer.get();
            m_length = static_cast<std::size_t>(
                writeEscaped(value.substr(at, slice), start + m_length) - start);
        }
        return raw("\""sv);
    }
    void flush() {
        m_write(std::string_view(m_buffer.get(), m_length));
        m_length = 0;
    }

private:
    static constexpr std::size_t capacity = 65536;
    static constexpr std::size_t slice = 4096;

    void makeRoom() {
        if (m_length >= capacity) flush();
    }

    const SafeFiles::ChunkWriter& m_write;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_length = 0;
};

std::string timeText(Timestamp updatedAt) {
    JsonWriter time;
    time.number(updatedAt.seconds);
    return time.output() + std::string(closing);
}

// How many of 16 leading bytes of text equal the stored bytes and need no escaping (16 when
// all do).
std::size_t cleanPrefix(const char* text, const char* stored) {
    const auto expected = detail::load(text);
    return detail::firstSet((expected != detail::load(stored)) | detail::escapeMask(expected));
}

// Compares what a guarded reader yields with the text an Appender would produce, a buffer at a
// time. Strings are compared in place against their escaped form, eight bytes at a time.
class StreamMatcher {
public:
    explicit StreamMatcher(SafeFiles::GuardedReader& reader) : m_reader(reader) {}

    bool raw(std::string_view piece) {
        // Most pieces are one byte or a two-byte escape such as "\/" (one on most lines of a
        // link-heavy note): compared in place, without a call, when the buffer holds them.
        if (piece.size() <= 2 && available() >= piece.size()) {
            const char* stored = m_buffer.data() + m_position;
            if (piece.empty()) return true;
            if (stored[0] != piece[0] || (piece.size() == 2 && stored[1] != piece[1])) return false;
            m_position += piece.size();
            return true;
        }
        while (!piece.empty()) {
            if (available() == 0 && !refill()) return false;
            const std::size_t length = std::min(piece.size(), available());
            if (std::memcmp(m_buffer.data() + m_position, piece.data(), length) != 0) return false;
            m_position += length;
            piece.remove_prefix(length);
        }
        return true;
    }

    bool string(std::string_view value) {
        if (!raw("\""sv)) return false;
        std::size_t i = 0;
        while (i < value.size()) {
            if (available() < 16) refill();
            while (i + 16 <= value.size() && available() >= 16) {
                const std::size_t clean =
                    cleanPrefix(value.data() + i, m_buffer.data() + m_position);
                i += clean;
                m_position += clean;
                if (clean < 16) break;
            }
            if (i >= value.size()) break;
            const auto byte = static_cast<unsigned char>(value[i]);
            const std::string_view expected = detail::cleanRun(value.data() + i, 1) == 0
                                                  ? escapeSequence(byte)
                                                  : value.substr(i, 1);
            if (!raw(expected)) return false;
            ++i;
        }
        return raw("\""sv);
    }

    // How many bytes of the file have matched so far.
    std::size_t matched() const { return m_discarded + m_position; }

    // What is left of the file, unless it is longer than `limit` bytes.
    std::optional<std::string> rest(std::size_t limit) {
        std::string out(m_buffer.data() + m_position, available());
        m_position = m_length;
        while (out.size() <= limit && refill()) {
            out.append(m_buffer.data(), m_length);
            m_position = m_length;
        }
        if (out.size() > limit) return std::nullopt;
        m_reader.finish();
        return out;
    }

private:
    std::size_t available() const { return m_length - m_position; }

    // Keeps the unread bytes, moved to the front, and reads more after them.
    bool refill() {
        const std::size_t kept = available();
        m_discarded += m_position;
        std::memmove(m_buffer.data(), m_buffer.data() + m_position, kept);
        m_position = 0;
        m_length = kept;
        const std::size_t got = m_reader.read(m_buffer.data() + kept, m_buffer.size() - kept);
        m_length += got;
        return got > 0;
    }

    SafeFiles::GuardedReader& m_reader;
    std::array<char, 65536> m_buffer{};
    std::size_t m_position = 0;
    std::size_t m_length = 0;
    std::size_t m_discarded = 0;
};

// A count, under the same rule for integers as every other stored file.
std::int64_t integerOf(simdjson::ondemand::value value) {
    simdjson::ondemand::number number = value.get_number();
    std::optional<std::int64_t> exact;
    switch (number.get_number_type()) {
        case simdjson::ondemand::number_type::signed_integer:
            exact = json::exactInteger<std::int64_t>(number.get_int64());
            break;
        case simdjson::ondemand::number_type::unsigned_integer:
            exact = json::exactInteger<std::int64_t>(number.get_uint64());
            break;
        case simdjson::ondemand::number_type::floating_point_number:
            exact = json::exactInteger<std::int64_t>(number.get_double());
            break;
        default:  // an integer beyond 64 bits (newer simdjson reports it as a type of its own)
            break;
    }
    if (!exact) throw DecodingError("count not an integer");
    return *exact;
}

unsigned hexQuad(const char* digits, const char* end) {
    if (end - digits < 4) throw DecodingError("short \\u escape");
    unsigned code = 0;
    const auto parsed = std::from_chars(digits, digits + 4, code, 16);
    if (parsed.ptr != digits + 4) throw DecodingError("bad \\u escape");
    return code;
}

void appendUtf8(unsigned code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Replaces `out` with the JSON string whose raw text starts at `raw` (after its opening quote),
// unescaped. The parser's first stage has checked the input's UTF-8 and that no control
// character stands unescaped; the escapes are checked here. Runs of plain text are copied whole
// (the parser's own unescaping would fill a buffer as large as the file, page by page).
void unescapeInto(const char* raw, const char* end, std::string& out) {
    out.clear();
    const auto find = [&](const char* from, const char* to, char wanted) {
        return static_cast<const char*>(
            std::memchr(from, wanted, static_cast<std::size_t>(to - from)));
    };
    const char* quote = find(raw, end, '"');
    for (;;) {
        if (quote == nullptr) throw DecodingError("string not closed");
        const char* backslash = find(raw, quote, '\\');
        if (backslash == nullptr) {
            out.append(raw, quote);
            return;
        }
        out.append(raw, backslash);
        const char escaped = backslash[1];
        raw = backslash + 2;
        // The single-letter escapes and what they stand for.
        constexpr std::string_view letters = "\"\\/bfnrt", meanings = "\"\\/\b\f\n\r\t";
        if (const auto simple = letters.find(escaped); simple != std::string_view::npos) {
            out.push_back(meanings[simple]);
            if (escaped == '"' && backslash + 1 == quote) quote = find(raw, end, '"');  // escaped
            continue;
        }
        if (escaped != 'u') throw DecodingError("bad escape");
        unsigned code = hexQuad(raw, quote);
        raw += 4;
        if (code >= 0xDC00 && code <= 0xDFFF) throw DecodingError("lone low surrogate");
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (quote - raw < 6 || raw[0] != '\\' || raw[1] != 'u')
                throw DecodingError("lone high surrogate");
            const unsigned low = hexQuad(raw + 2, quote);
            if (low < 0xDC00 || low > 0xDFFF) throw DecodingError("bad surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            raw += 6;
        }
        appendUtf8(code, out);
    }
}

struct DocumentView {
    std::string_view relativePath, title, text;
};

// Reads a value no one asked for through to its end, so that it is checked as JSON: the
// on-demand parser would skip it by its brackets alone.
void checkUnread(simdjson::ondemand::value value) {
    switch (value.type()) {
        case simdjson::ondemand::json_type::object:
            for (auto field : value.get_object()) {
                (void)field.unescaped_key().value();
                checkUnread(field.value());
            }
            break;
        case simdjson::ondemand::json_type::array:
            for (auto element : value.get_array()) checkUnread(element.value());
            break;
        case simdjson::ondemand::json_type::string:
            (void)value.get_string().value();
            break;
        case simdjson::ondemand::json_type::number:
            (void)value.get_number().value();
            break;
        case simdjson::ondemand::json_type::boolean:
            (void)value.get_bool().value();
            break;
        case simdjson::ondemand::json_type::null:
            if (!value.is_null()) throw DecodingError("not null");
            break;
    }
}

// The bytes with the padding the parser reads past their end: in place when the buffer has it
// (the guarded reader leaves it), else in `copy`.
simdjson::padded_string_view padded(const Bytes& bytes, simdjson::padded_string& copy) {
    if (bytes.capacity() >= bytes.size() + simdjson::SIMDJSON_PADDING) {
        return simdjson::padded_string_view(bytes.data(), bytes.size(), bytes.capacity());
    }
    copy = simdjson::padded_string(bytes);
    return copy;
}

// Parses a stored index and hands each document, as views of strings unescaped into buffers
// reused from document to document, to `visit` in order; stops early (returning nothing) when
// visit returns false. Any format problem (not JSON, a missing or mistyped member, anything
// after the closing brace) throws; unknown members are checked and ignored.
template <class Visit>
std::optional<std::pair<std::int64_t, Timestamp>> walkStoredIndex(
    simdjson::padded_string_view input, Visit&& visit) {
    simdjson::ondemand::parser parser;
    simdjson::ondemand::document root = parser.iterate(input);
    const char* end = input.data() + input.size();
    bool documents = false, skipped = false, updatedAt = false;
    std::pair<std::int64_t, Timestamp> counts;
    std::string path, title, text;
    for (auto field : root.get_object()) {
        const std::string_view key = field.unescaped_key();
        if (key == "documents") {
            for (auto element : field.value().get_array()) {
                bool hasPath = false, hasTitle = false, hasText = false;
                for (auto member : element.get_object()) {
                    const std::string_view name = member.unescaped_key();
                    std::string* target = name == "relativePath" ? &path
                                          : name == "title"      ? &title
                                          : name == "text"       ? &text
                                                                 : nullptr;
                    if (target == nullptr) {
                        checkUnread(member.value());
                        continue;
                    }
                    const simdjson::ondemand::raw_json_string raw =
                        member.value().get_raw_json_string();
                    unescapeInto(raw.raw(), end, *target);
                    (target == &path ? hasPath : target == &title ? hasTitle : hasText) = true;
                }
                if (!hasPath || !hasTitle || !hasText) {
                    throw DecodingError("document member missing");
                }
                if (!visit(DocumentView{path, title, text})) return std::nullopt;
            }
            documents = true;
        } else if (key == "skipped") {
            counts.first = integerOf(field.value());
            skipped = true;
        } else if (key == "updatedAt") {
            counts.second = {field.value().get_double()};
            updatedAt = true;
        } else {
            checkUnread(field.value());
        }
    }
    if (root.current_location().error() != simdjson::OUT_OF_BOUNDS) {
        throw DecodingError("content after the index");
    }
    if (!documents || !skipped || !updatedAt) throw DecodingError("index member missing");
    return counts;
}

// Each document of the stored index, copied out of the reused buffers.
KnowledgeIndex decodeIndex(simdjson::padded_string_view input) {
    KnowledgeIndex index;
    const auto counts = walkStoredIndex(input, [&](const DocumentView& document) {
        index.documents.push_back({std::string(document.relativePath), std::string(document.title),
                                   std::string(document.text)});
        return true;
    });
    index.skipped = counts->first;
    index.updatedAt = counts->second;
    return index;
}

// The relative path of each document of the stored index.
std::vector<std::string> pathsOf(simdjson::padded_string_view input) {
    std::vector<std::string> paths;
    walkStoredIndex(input, [&](const DocumentView& document) {
        paths.emplace_back(document.relativePath);
        return true;
    });
    return paths;
}

}  // namespace

std::vector<std::string> indexjson::storedPaths(const files::MappedFile& file) {
    return pathsOf(
        simdjson::padded_string_view(file.bytes().data(), file.bytes().size(), file.capacity()));
}

std::vector<std::string> indexjson::storedPaths(const Bytes& stored) {
    simdjson::padded_string copy;
    return pathsOf(padded(stored, copy));
}

KnowledgeIndex JsonCodec<KnowledgeIndex>::decode(const Bytes& bytes) {
    simdjson::padded_string copy;
    return decodeIndex(padded(bytes, copy));
}

KnowledgeIndex indexjson::decode(const files::MappedFile& file) {
    return decodeIndex(
        simdjson::padded_string_view(file.bytes().data(), file.bytes().size(), file.capacity()));
}

KnowledgeIndex indexjson::decode(const Bytes& stored) {
    return JsonCodec<KnowledgeIndex>::decode(stored);
}

void indexjson::write(const KnowledgeIndex& index, const Path& file, std::int64_t maximum) {
    SafeFiles::writeStreamed(
        file, false,
        [&](const SafeFiles::ChunkWriter& write) {
            ChunkedAppender appender(write);
            emitUntilTime(index.documents, index.skipped, appender);
            appender.raw(timeText(index.updatedAt));
            appender.flush();
        },
        maximum);
}

std::size_t indexjson::storedSize(const IndexedDocument& document) {
    // The members' keys, quotes, indentation and separators of one document.
    constexpr std::size_t layout = 80;
    return layout + escapedLength(document.relativePath) + escapedLength(document.title) +
           escapedLength(document.text);
}

std::int64_t indexjson::storedDocumentCount(const Bytes& stored) {
    std::int64_t count = 0;
    simdjson::padded_string copy;
    walkStoredIndex(padded(stored, copy), [&](const DocumentView&) {
        ++count;
        return true;
    });
    return count;
}

std::optional<Timestamp> indexjson::storedTimeIfEquivalent(
    const Bytes& stored, const std::vector<IndexedDocument>& documents, std::int64_t skipped) {
    std::size_t next = 0;
    simdjson::padded_string copy;
    const auto counts = walkStoredIndex(padded(stored, copy), [&](const DocumentView& document) {
        if (next == documents.size()) return false;
        const auto& expected = documents[next++];
        return document.relativePath == expected.relativePath && document.title == expected.title &&
               document.text == expected.text;
    });
    if (!counts || next != documents.size() || counts->first != skipped) return std::nullopt;
    return counts->second;
}

Bytes JsonCodec<KnowledgeIndex>::encode(const KnowledgeIndex& index) {
    Bytes output;
    std::size_t textBytes = 0;
    for (const auto& document : index.documents) textBytes += document.text.size() + 128;
    output.reserve(textBytes + textBytes / 8 + 256);
    Appender appender(output);
    emitUntilTime(index.documents, index.skipped, appender);
    return output.append(timeText(index.updatedAt));
}

namespace {

// Whether `text` is a number as JSON writes one: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view text) {
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t from = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        return at - from;
    };
    if (at < text.size() && text[at] == '-') ++at;
    const std::size_t first = at;
    const std::size_t whole = digits();
    if (whole == 0 || (whole > 1 && text[first] == '0')) return false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        if (digits() == 0) return false;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        if (digits() == 0) return false;
    }
    return at == text.size();
}

// The most a stored update time with the closing brace after it takes.
constexpr std::size_t longestTime = 64;

// The update time and closing brace after a matched "updatedAt" key, in this program's layout.
std::optional<Timestamp> storedTime(StreamMatcher& matcher) {
    const auto rest = matcher.rest(longestTime);
    if (!rest || !rest->ends_with(closing)) return std::nullopt;
    const std::string_view number(rest->data(), rest->size() - closing.size());
    double seconds = 0;
    const auto parsed = std::from_chars(number.data(), number.data() + number.size(), seconds);
    // from_chars also takes what JSON does not ("inf", "05", ".5"), which no reader would.
    if (parsed.ec != std::errc() || parsed.ptr != number.data() + number.size() ||
        !isJsonNumber(number)) {
        return std::nullopt;
    }
    return Timestamp{seconds};
}

// Up to `length` bytes of the file from `offset`, without moving where the reader reads;
// nothing when they cannot be read.
std::optional<std::string> bytesAt(const SafeFiles::GuardedReader& reader, std::int64_t offset,
                                   std::size_t length) {
    std::string bytes(length, '\0');
    ssize_t got;
    do {
        got = ::pread(reader.descriptor(), bytes.data(), length, offset);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

// The skip count of a stored file that ends as this program writes: the count, the update time
// (a number) and the closing brace.
std::optional<std::int64_t> trailingSkipCount(std::string_view tail) {
    const auto key = tail.rfind(skippedKey);
    if (key == std::string_view::npos || !tail.ends_with(closing)) return std::nullopt;
    const char* last = tail.data() + tail.size() - closing.size();
    std::int64_t count = 0;
    const auto parsed = std::from_chars(tail.data() + key + skippedKey.size(), last, count);
    const std::string_view rest(parsed.ptr, static_cast<std::size_t>(last - parsed.ptr));
    if (parsed.ec != std::errc() || !rest.starts_with(updatedAtKey)) return std::nullopt;
    if (!isJsonNumber(rest.substr(updatedAtKey.size()))) return std::nullopt;
    return count;
}

// The skip count of a stored file that ends as this program writes, from its last bytes. A line
// break cannot stand inside a JSON string, so in any well-formed file those are the last
// members, and theirs is the count its reader keeps.
std::optional<std::int64_t> endingSkipCount(const SafeFiles::GuardedReader& reader) {
    const auto size = static_cast<std::size_t>(reader.size());
    const std::size_t tailLength = std::min<std::size_t>(size, 2 * longestTime);
    const auto tail = bytesAt(reader, static_cast<std::int64_t>(size - tailLength), tailLength);
    return tail ? trailingSkipCount(*tail) : std::nullopt;
}

// Whether the end of the stored file already shows that it does not hold an index with
// `skipped` documents skipped, before it is read through: it ends as this program writes, but
// with another skip count.
bool endShowsDifference(const SafeFiles::GuardedReader& reader, std::int64_t skipped) {
    const auto count = endingSkipCount(reader);
    return count && *count != skipped;
}

}  // namespace

std::optional<std::pair<std::int64_t, std::int64_t>> indexjson::ownLayoutCounts(
    std::string_view stored) {
    if (!stored.starts_with(ownHead)) return std::nullopt;
    const auto skipped = trailingSkipCount(
        stored.substr(stored.size() - std::min<std::size_t>(stored.size(), 2 * longestTime)));
    if (!skipped) return std::nullopt;
    // A line break stands inside no JSON string, so each one followed by the key's indentation
    // opens a document.
    constexpr std::string_view opening = "\n      \"relativePath\" : \"";
    std::int64_t documents = 0;
    for (std::size_t at = stored.find(opening); at != std::string_view::npos;
         at = stored.find(opening, at + opening.size())) {
        ++documents;
    }
    return std::pair{documents, *skipped};
}

std::optional<std::int64_t> indexjson::storedSkipCount(const Path& file, std::int64_t maximum) {
    return endingSkipCount(SafeFiles::GuardedReader(file, maximum));
}

indexjson::Comparison indexjson::compareStored(const Path& file, std::int64_t maximum,
                                               const std::vector<IndexedDocument>& documents,
                                               std::int64_t skipped) {
    SafeFiles::GuardedReader reader(file, maximum);
    if (endShowsDifference(reader, skipped)) return {std::nullopt, true};
    auto matcher = std::make_unique<StreamMatcher>(reader);
    if (!emitUntilTime(documents, skipped, *matcher)) {
        // Past the opening of the first document the file is laid out as this program writes,
        // so a difference there is one of content: no decoding can make it equivalent.
        return {std::nullopt, matcher->matched() > ownHead.size()};
    }
    return {storedTime(*matcher), true};
}

}  // namespace ostrak
