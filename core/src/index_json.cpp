#include "index_json.hpp"

#include <charconv>
#include <simdjson.h>
#include <stdexcept>

#include "json_writer.hpp"

namespace ostrak {

namespace {

struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Emits the stored form through `sink` in pieces (one per document), up to and including the
// "updatedAt" key; the caller adds the time and the closing brace. Stops when sink says so.
template <class Sink>
bool streamUntilTime(const std::vector<IndexedDocument>& documents, std::int64_t skipped,
                     Sink&& sink) {
    JsonWriter writer;
    writer.beginObject().key("documents").beginArray();
    for (const auto& document : documents) {
        writer.beginObject()
            .key("relativePath")
            .string(document.relativePath)
            .key("text")
            .string(document.text)
            .key("title")
            .string(document.title)
            .endObject();
        if (!sink(writer.output())) return false;
        writer.clear();
    }
    writer.endArray().key("skipped").integer(skipped).key("updatedAt");
    return sink(writer.output());
}

std::string_view stringOf(simdjson::dom::element value) { return value.get_string(); }

IndexedDocument decodeDocument(simdjson::dom::object object) {
    IndexedDocument document;
    bool path = false, text = false, title = false;
    for (const auto field : object) {
        if (field.key == "relativePath") {
            document.relativePath = stringOf(field.value);
            path = true;
        } else if (field.key == "text") {
            document.text = stringOf(field.value);
            text = true;
        } else if (field.key == "title") {
            document.title = stringOf(field.value);
            title = true;
        }
    }
    if (!path || !text || !title) throw DecodingError("document member missing");
    return document;
}

}  // namespace

KnowledgeIndex JsonCodec<KnowledgeIndex>::decode(const Bytes& bytes) {
    // The guarded reader leaves spare capacity, so the parser reads the bytes in place. Its
    // errors are exceptions, which the guarded reader turns into the format message.
    simdjson::dom::parser parser;
    const simdjson::dom::object object = parser.parse(bytes).get_object();
    KnowledgeIndex index;
    bool documents = false, skipped = false, updatedAt = false;
    for (const auto field : object) {
        if (field.key == "documents") {
            const simdjson::dom::array array = field.value.get_array();
            index.documents.clear();
            index.documents.reserve(array.size());
            for (const auto element : array) {
                index.documents.push_back(decodeDocument(element.get_object()));
            }
            documents = true;
        } else if (field.key == "skipped") {
            index.skipped = field.value.get_int64();
            skipped = true;
        } else if (field.key == "updatedAt") {
            index.updatedAt = {field.value.get_double()};
            updatedAt = true;
        }
    }
    if (!documents || !skipped || !updatedAt) throw DecodingError("index member missing");
    return index;
}

Bytes JsonCodec<KnowledgeIndex>::encode(const KnowledgeIndex& index) {
    Bytes output;
    std::size_t textBytes = 0;
    for (const auto& document : index.documents) textBytes += document.text.size() + 128;
    output.reserve(textBytes + textBytes / 8 + 256);
    streamUntilTime(index.documents, index.skipped, [&](std::string_view piece) {
        output.append(piece);
        return true;
    });
    JsonWriter tail;
    tail.number(index.updatedAt.seconds);
    output.append(tail.output()).append("\n}\n");
    return output;
}

std::optional<Timestamp> indexjson::storedTimeIfIdentical(
    const Bytes& stored, const std::vector<IndexedDocument>& documents, std::int64_t skipped) {
    std::size_t offset = 0;
    const bool prefixMatches = streamUntilTime(documents, skipped, [&](std::string_view piece) {
        if (stored.compare(offset, piece.size(), piece) != 0) return false;
        offset += piece.size();
        return true;
    });
    if (!prefixMatches) return std::nullopt;
    double seconds = 0;
    const char* end = stored.data() + stored.size();
    const auto parsed = std::from_chars(stored.data() + offset, end, seconds);
    if (parsed.ec != std::errc()) return std::nullopt;
    if (std::string_view(parsed.ptr, static_cast<std::size_t>(end - parsed.ptr)) != "\n}\n") {
        return std::nullopt;
    }
    return Timestamp{seconds};
}

}  // namespace ostrak
