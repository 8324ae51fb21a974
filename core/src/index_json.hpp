#pragma once

#include <optional>
#include <vector>

#include "ostrak/knowledge_index.hpp"

// The stored form of the knowledge index, which can reach 16 MB of text and is read on every
// service pass, so it is parsed in place (simdjson) rather than through a document tree.
namespace ostrak::indexjson {

// When `stored` holds exactly the bytes this program would write for `documents` and `skipped`,
// returns the stored update time; otherwise nothing (the caller then decodes and compares). It
// compares piece by piece, so no second copy of the index is ever built.
std::optional<Timestamp> storedTimeIfIdentical(const Bytes& stored,
                                               const std::vector<IndexedDocument>& documents,
                                               std::int64_t skipped);

}  // namespace ostrak::indexjson
