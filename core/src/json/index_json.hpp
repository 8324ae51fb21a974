#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "ostrak/knowledge_index.hpp"

namespace ostrak::files {
class MappedFile;
}

// The stored form of the knowledge index, which can reach 16 MB of text and is read on every
// service pass, so it is parsed in place (simdjson) rather than through a document tree.
namespace ostrak::indexjson {

// Compares the stored index file with the bytes this program would write for `documents` and
// `skipped`. The file is read through the guarded reader and compared piece by piece, so an
// unchanged index costs no second copy of its 16 MB in memory. Throws the guarded read's errors.
struct Comparison {
    std::optional<Timestamp> identical;  // the stored update time when the bytes are the same
    // The file differs where it is laid out as this program writes (well past its opening), so
    // it differs in content: decoding it to look for an equivalent index would find none.
    bool differsInContent = false;
};
Comparison compareStored(const Path& file, std::int64_t maximum,
                         const std::vector<IndexedDocument>& documents, std::int64_t skipped);

// The skip count at the end of a stored index laid out as this program writes, read from its
// last bytes alone; nothing for another layout. Throws the guarded read's errors.
std::optional<std::int64_t> storedSkipCount(const Path& file, std::int64_t maximum);

// The document and skip counts of a stored index laid out as this program writes it, found by
// its line breaks and its last bytes without decoding a document; nothing for another layout.
std::optional<std::pair<std::int64_t, std::int64_t>> ownLayoutCounts(std::string_view stored);

// Whether a stored index in any layout: decodes `stored` (into buffers reused from document
// to document) and compares. Throws when it is not a well-formed index.
std::optional<Timestamp> storedTimeIfEquivalent(const Bytes& stored,
                                                const std::vector<IndexedDocument>& documents,
                                                std::int64_t skipped);

// Decodes a stored index, read through a mapping (in place) or read whole. Throws when it is not
// a well-formed index.
KnowledgeIndex decode(const files::MappedFile& file);
KnowledgeIndex decode(const Bytes& stored);

// The relative paths of a stored index, in order, read in place; titles and texts are passed
// over, not kept. Throws when it is not a well-formed index.
std::vector<std::string> storedPaths(const files::MappedFile& file);
std::vector<std::string> storedPaths(const Bytes& stored);

// Stores the index (replacing the file) in the form JsonCodec<KnowledgeIndex>::encode gives,
// written through in pieces rather than built whole in memory first. An index longer than
// `maximum` bytes is refused and the stored one stays.
void write(const KnowledgeIndex& index, const Path& file, std::int64_t maximum);

// The bytes one document adds to the stored form, and the most the rest of the file (its
// opening, the counts and the time) can take: the stored size of an index is within the sum.
std::size_t storedSize(const IndexedDocument& document);
inline constexpr std::size_t storedFrame = 256;

// How many documents a well-formed stored index holds (nothing kept). Throws when
// it is not a well-formed index.
std::int64_t storedDocumentCount(const Bytes& stored);

}  // namespace ostrak::indexjson
