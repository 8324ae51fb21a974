#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ostrak/safe_files.hpp"
#include "ostrak/timestamp.hpp"

namespace ostrak {

// One indexed Markdown or text file of the knowledge folder.
struct IndexedDocument {
    std::string relativePath;  // from the workstation root, "/"-separated
    std::string title;         // at most 120 characters
    std::string text;          // the whole file, UTF-8
    bool operator==(const IndexedDocument&) const = default;
};

// The first matches of a search, and how many documents match in all.
struct SearchMatches {
    std::vector<IndexedDocument> documents;  // in index order
    std::size_t total = 0;
};

// How many documents the stored index holds, and how many items it left out.
struct IndexCounts {
    std::int64_t documents = 0;
    std::int64_t skipped = 0;
    bool operator==(const IndexCounts&) const = default;
};

// An entry of the knowledge folder that a walk counted as not indexed, and why.
struct SkippedEntry {
    std::string relativePath;  // from the knowledge folder; bytes that are not UTF-8 as "\xNN"
    std::string reason;        // one of the texts in skipReason
    bool operator==(const SkippedEntry&) const = default;
};

namespace skipReason {
inline constexpr std::string_view link = "符号链接";
inline constexpr std::string_view tooLarge = "超过 256 KB";
inline constexpr std::string_view capacity = "超出 1,000 篇或 16 MB 的索引容量";
inline constexpr std::string_view notUtf8 = "不是 UTF-8 文本";
inline constexpr std::string_view maybeGbk = "不是 UTF-8 文本，可能是 GBK 编码";
inline constexpr std::string_view nameNotUtf8 = "名称不是 UTF-8";
inline constexpr std::string_view entryBudget = "目录条目超过 10,000 项，其余未检查";
}  // namespace skipReason

// The stored index "system/indexes/knowledge.json": documents sorted by relative path, how many
// entries were counted as not indexable, and when the current content first appeared.
//
// Which files it holds when not all fit its limits (1,000 documents, 16 MB of text): first the
// files the stored index already holds, each still subject to every check (size, UTF-8, the
// document and byte budgets), then the others; both in the walk's order. So a note once found
// stays found while it exists and fits, and what the limits leave out is the newest material.
// With no readable stored index, every file is taken in the walk's order.
struct KnowledgeIndex {
    std::vector<IndexedDocument> documents;
    std::int64_t skipped = 0;
    Timestamp updatedAt;

    // Documents whose title, or else text, holds the trimmed query under full case folding;
    // at most 50, in index order. Never throws.
    std::vector<IndexedDocument> search(std::string_view query) const;

    // The same matches, every one counted: the first `limit` of them kept (0 keeps all).
    SearchMatches searchCounting(std::string_view query, std::size_t limit) const;
};

template <>
struct JsonCodec<KnowledgeIndex> {
    static KnowledgeIndex decode(const Bytes& json);
    static Bytes encode(const KnowledgeIndex& index);
};

}  // namespace ostrak
