#include "ostrak/knowledge_index.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <system_error>
#include <type_traits>
#include <unordered_set>

#include "files/folder_listing.hpp"
#include "files/guarded_reader.hpp"
#include "files/mapped_file.hpp"
#include "files/paths.hpp"
#include "files/verified_directory.hpp"
#include "json/index_json.hpp"
#include "messages.hpp"
#include "ostrak/workspace.hpp"
#include "station/layout.hpp"
#include "station/presence.hpp"
#include "text/case_folding.hpp"
#include "text/text.hpp"

namespace ostrak {

namespace {

constexpr std::int64_t maximumEntries = 10000;
constexpr std::int64_t maximumFileSize = Workspace::maximumNoteBytes;
constexpr std::int64_t maximumTotalSize = 16777216;
constexpr std::size_t maximumDocuments = 1000;
constexpr std::size_t maximumTitleLength = 120;
using layout::indexReadLimit;
constexpr std::size_t maximumResults = 50;
constexpr std::size_t storedBudget =
    static_cast<std::size_t>(indexReadLimit) - indexjson::storedFrame;

bool isHidden(std::string_view name) {
    return name.starts_with('.');
}

bool hasIndexableExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    std::string extension(name.substr(dot + 1));
    for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == "md" || extension == "txt";
}

std::string_view withoutExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// The first non-empty line with "#" and " " trimmed from both ends, or else the file name
// without its extension; at most 120 characters. A CR before a line feed ends the line too.
std::string titleOf(std::string_view text, std::string_view fileName) {
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        const bool lineFeed = end != std::string_view::npos;
        if (!lineFeed) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (lineFeed && line.ends_with('\r')) line.remove_suffix(1);
        start = end + 1;
        if (line.empty()) continue;
        const auto first = line.find_first_not_of("# ");
        if (first == std::string_view::npos) return {};
        line = line.substr(first, line.find_last_not_of("# ") - first + 1);
        return std::string(text::firstGraphemes(line, maximumTitleLength));
    }
    return std::string(text::firstGraphemes(withoutExtension(fileName), maximumTitleLength));
}

// One rebuild: walks the knowledge folder depth first, skipping hidden entries, counting what
// cannot be indexed, and stopping at the first folder it cannot list (which fails the rebuild).
// Entries of a folder are visited in byte order of their names so the result is deterministic.
//
// The walk holds one folder descriptor at a time: each folder is opened relative to its parent
// without following links, and the way back up reopens ".." and checks it is still the folder
// that was left, so a folder moved or swapped for a link mid-walk is never entered or mistaken.
// The 10,000-entry budget bounds memory: a folder keeps only the first names (in byte order)
// that the budget can still reach, and when a folder is listed, what its ancestors still hold
// beyond the remaining budget is dropped, since the walk can never get to it. One path text is
// extended and shortened, so memory grows with depth, not with its square.
//
// A walk takes every file it meets, or, when the stored index's files (the incumbents) go first,
// only the incumbents (a first walk) or only the others (a second walk, with what the first left
// of the budgets). Entries that are no file to index (links, folders with names that are not
// UTF-8, those past the entry budget) are counted by the walk that takes the others. What is
// counted can also be recorded, with its reason: one entry per count. A sizing walk reads no
// file: it only finds out, from the sizes the folder listing gives, whether every file could fit.
enum class Take { everything, incumbents, newcomers, sizing };

class IndexBuilder {
public:
    explicit IndexBuilder(const Path& root, std::vector<SkippedEntry>* record = nullptr)
        : m_rootLength(root.native().size() + 1), m_record(record) {
        if (m_record) m_record->clear();
    }

    // Whether a document was left out for the index's capacity (its document or byte budget).
    bool full() const { return m_full; }

    void walk(const Path& knowledge, Take take = Take::everything,
              const std::unordered_set<std::string>* incumbents = nullptr) {
        m_take = take;
        m_incumbents = incumbents;
        m_entries = 0;
        m_stopped = false;
        auto walk = files::VerifiedDirectory::walk(paths::standardized(knowledge));
        if (!walk.missing.empty()) throw OstrakError(message::knowledgeUnreadable);
        m_path = paths::standardized(knowledge).native();
        m_knowledgeLength = m_path.size() + 1;
        Level top;
        if (!list(walk.deepest, top.entries)) throw OstrakError(message::knowledgeUnreadable);
        walkLevel(walk.deepest, top);
        m_incumbents = nullptr;  // the caller's set; no later walk reads it
        if (m_failed) throw OstrakError(message::knowledgePartlyUnreadable);
    }

    std::vector<IndexedDocument> takeDocuments() {
        std::sort(m_documents.begin(), m_documents.end(),
                  [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
        return std::move(m_documents);
    }
    std::int64_t skipped() const { return m_skipped; }

private:
    using Folder = files::VerifiedDirectory;

    // An entry of a listed folder with the attributes the walk needs.
    struct Entry {
        std::string name;
        int error = 0;  // errno of the attribute lookup, 0 when the fields below hold them
        mode_t mode = 0;
        off_t size = 0;
    };
    // A listed folder being visited: `next` is the entry under visit.
    struct Level {
        std::vector<Entry> entries;
        std::size_t next = 0;
    };

    std::size_t reachable() const {
        return static_cast<std::size_t>(maximumEntries - m_entries + 1);
    }

    // The folder's visible entries in name order: the first ones the budget can still reach,
    // plus the one that exceeds it. False when the folder cannot be listed to the end (a read
    // error is not the end of the folder).
    bool list(const Folder& folder, std::vector<Entry>& entries) const {
        files::FolderListing listing(folder);
        if (!listing.opened()) return false;
        const std::size_t wanted = reachable();
        std::priority_queue<std::string> smallest;  // the greatest kept name on top
        while (const dirent* found = listing.next()) {
            if (isHidden(found->d_name)) continue;
            if (smallest.size() == wanted) {
                if (smallest.top() <= found->d_name) continue;
                smallest.pop();
            }
            smallest.emplace(found->d_name);
        }
        if (listing.failed()) return false;
        entries.resize(smallest.size());
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
            entry->name = smallest.top();
            smallest.pop();
            struct stat status;
            if (::fstatat(listing.descriptor(), entry->name.c_str(), &status,
                          AT_SYMLINK_NOFOLLOW) != 0) {
                entry->error = errno;
            } else {
                entry->mode = status.st_mode;
                entry->size = status.st_size;
            }
        }
        return true;
    }

    void walkLevel(Folder& folder, Level& level) {
        m_levels.push_back(&level);
        for (level.next = 0; level.next < level.entries.size() && !m_stopped; ++level.next) {
            // Dropping entries of a level never moves the ones before its end: this stays valid.
            const Entry& entry = level.entries[level.next];
            const std::size_t length = m_path.size();
            m_path.append("/").append(entry.name);
            visit(folder, entry);
            m_path.resize(length);
        }
        m_levels.pop_back();
    }

    // After a folder listed `listed` entries, what the levels above still hold after the entry
    // under visit is reachable only within what remains of the budget.
    void dropUnreachable(std::size_t listed) {
        std::size_t keep = reachable() > listed ? reachable() - listed : 0;
        for (auto level = m_levels.rbegin(); level != m_levels.rend(); ++level) {
            auto& entries = (*level)->entries;
            const std::size_t pending = entries.size() - (*level)->next - 1;
            const std::size_t kept = std::min(pending, keep);
            entries.resize((*level)->next + 1 + kept);
            keep -= kept;
        }
    }

    // Enters the child folder of `entry`, walks it, and comes back to `folder` (which is let go
    // while below, and reopened through ".." when the child is done).
    void descend(Folder& folder, const Entry& entry) {
        // A folder whose path the system could not name is one it cannot list.
        if (m_path.size() >= PATH_MAX) {
            m_failed = m_stopped = true;
            return;
        }
        struct stat here;
        if (!folder.status(here)) throw std::system_error(errno, std::generic_category());
        std::optional<Folder> child;
        try {
            child.emplace(folder.child(entry.name));
        } catch (const OstrakError&) {
            m_failed = m_stopped = true;  // swapped for a link or for a file meanwhile
            return;
        } catch (const std::system_error&) {
            m_failed = m_stopped = true;  // gone, or not ours to enter
            return;
        }
        folder = Folder(std::move(*child));
        Level level;
        if (list(folder, level.entries)) {
            dropUnreachable(level.entries.size());
            walkLevel(folder, level);
        } else {
            m_failed = m_stopped = true;
        }
        auto parent = folder.parent(here);
        if (!parent) throw OstrakError(message::knowledgePartlyUnreadable);
        folder = std::move(*parent);
    }

    // Counts the entry at the current path as skipped, and records why when asked to.
    void skip(std::string_view reason) {
        ++m_skipped;
        if (!m_record) return;
        m_record->push_back(
            {text::withInvalidBytesEscaped(m_path.substr(m_knowledgeLength)), std::string(reason)});
    }

    // Counts an entry that is no file to index, once over the walks of one rebuild.
    void skipEntry(std::string_view reason) {
        if (m_take != Take::incumbents) skip(reason);
    }

    // Whether this walk decides about the file at the current path.
    bool takes() const {
        if (m_take == Take::everything || m_take == Take::sizing) return true;
        const bool incumbent = m_incumbents->contains(m_path.substr(m_rootLength));
        return incumbent == (m_take == Take::incumbents);
    }

    // Counts a file left out for the index's capacity. A list of reasons says when such a file
    // is no UTF-8 text, so that it is not left to wait for room it could never take.
    void skipForCapacity() {
        skip(skipReason::capacity);
        m_full = true;
    }
    void skipForCapacity(Folder& folder, const std::string& name) {
        if (m_record) {
            try {
                SafeFiles::GuardedReader reader(folder, name, maximumFileSize);
                const Bytes content = SafeFiles::readAll(reader);
                if (!text::isValidUtf8(content)) {
                    skip(notUtf8Reason(content));
                    m_full = true;
                    return;
                }
            } catch (const std::bad_alloc&) {
                throw;
            } catch (...) {
                // Unread, it is left out for the capacity, as the rebuild does.
            }
        }
        skipForCapacity();
    }

    static std::string_view notUtf8Reason(std::string_view content) {
        return text::looksLikeGbk(content) ? skipReason::maybeGbk : skipReason::notUtf8;
    }

    void visit(Folder& folder, const Entry& entry) {
        if (++m_entries > maximumEntries) {
            skipEntry(skipReason::entryBudget);
            m_stopped = true;
            return;
        }
        if (entry.error != 0) throw std::system_error(entry.error, std::generic_category());
        const std::string& name = entry.name;
        if (S_ISLNK(entry.mode)) {
            skipEntry(skipReason::link);
            return;
        }
        // A name that is not UTF-8 cannot be stored in the index; rather than fail every
        // rebuild for it, such a folder is counted once and not entered, such a file skipped.
        if (S_ISDIR(entry.mode)) {
            if (!text::isValidUtf8(name)) {
                skipEntry(skipReason::nameNotUtf8);
            } else {
                descend(folder, entry);
            }
            return;
        }
        if (!S_ISREG(entry.mode) || !hasIndexableExtension(name) || !takes()) return;
        if (m_take == Take::sizing) {
            size(entry);
            return;
        }
        if (!text::isValidUtf8(name)) {
            skip(skipReason::nameNotUtf8);
            return;
        }
        if (entry.size > maximumFileSize) {
            skip(skipReason::tooLarge);
            return;
        }
        if (m_totalSize + entry.size > maximumTotalSize || m_documents.size() >= maximumDocuments) {
            skipForCapacity(folder, name);
            return;
        }
        SafeFiles::GuardedReader reader(folder, name, maximumFileSize);
        Bytes content = SafeFiles::readAll(reader);
        // The size that counts is what was read: a file may have grown since it was listed.
        const auto size = static_cast<std::int64_t>(content.size());
        if (!text::isValidUtf8(content)) {
            skip(notUtf8Reason(content));
            return;
        }
        if (m_totalSize + size > maximumTotalSize) {
            skipForCapacity();
            return;
        }
        IndexedDocument document{m_path.substr(m_rootLength), titleOf(content, name),
                                 std::move(content)};
        // Escaping can make the stored form six times the text (control bytes); a document
        // that would take the index past what its reader accepts is counted as skipped.
        const std::size_t stored = storedSizeOf(document);
        if (m_storedSize + stored > storedBudget) {
            skipForCapacity();
            return;
        }
        m_documents.push_back(std::move(document));
        m_totalSize += size;
        m_storedSize += stored;
    }

    // Counts a file the sizing walk meets as if it were taken, and stops the walk once the files
    // met could not all fit. Files that turn out not to be UTF-8 would not count, so this may
    // say "no" where they all fit; which files are taken is the same either way.
    void size(const Entry& entry) {
        if (!text::isValidUtf8(entry.name) || entry.size > maximumFileSize) return;
        m_totalSize += entry.size;
        if (++m_sized > maximumDocuments || m_totalSize > maximumTotalSize) {
            m_full = true;
            m_stopped = true;
        }
    }

    // A bound of the document's stored size (every byte escaped to six) while the bounds of
    // all documents fit the budget, as they do for any ordinary knowledge base; past that, the
    // exact sizes, counted once for the documents already taken. Text is scanned for escaping
    // only when the budget could really run out.
    std::size_t storedSizeOf(const IndexedDocument& document) {
        if (!m_exactSizes) {
            const std::size_t bound =
                indexjson::storedFrame +
                6 * (document.relativePath.size() + document.title.size() + document.text.size());
            if (m_storedSize + bound <= storedBudget) return bound;
            m_exactSizes = true;
            m_storedSize = 0;
            for (const auto& taken : m_documents) m_storedSize += indexjson::storedSize(taken);
        }
        return indexjson::storedSize(document);
    }

    std::size_t m_rootLength;
    std::size_t m_knowledgeLength = 0;
    std::vector<SkippedEntry>* m_record;
    std::string m_path;            // of the entry being visited
    std::vector<Level*> m_levels;  // the folders being visited, outermost first
    std::vector<IndexedDocument> m_documents;
    std::int64_t m_skipped = 0;
    std::int64_t m_entries = 0;
    std::int64_t m_totalSize = 0;
    std::size_t m_sized = 0;       // files counted by a sizing walk
    std::size_t m_storedSize = 0;  // bounds until m_exactSizes, then exact
    bool m_exactSizes = false;
    bool m_stopped = false;
    bool m_failed = false;
    bool m_full = false;
    Take m_take = Take::everything;
    const std::unordered_set<std::string>* m_incumbents = nullptr;
};

Path indexFile(const Workspace& workspace) {
    return layout::indexFile(workspace.root());
}

// The stored index when it holds the same documents and skip count, else nothing (also when it
// is missing, unreadable or malformed: then the new index is written).
std::optional<KnowledgeIndex> unchangedStoredIndex(const Path& file,
                                                   std::vector<IndexedDocument>& documents,
                                                   std::int64_t skipped) {
    try {
        // The stored file is normally byte for byte what this program writes; only when it is
        // not does it need decoding to compare.
        const auto comparison = indexjson::compareStored(file, indexReadLimit, documents, skipped);
        if (comparison.identical) {
            return KnowledgeIndex{std::move(documents), skipped, *comparison.identical};
        }
        if (comparison.differsInContent) return std::nullopt;
        const Bytes stored = SafeFiles::readData(file, indexReadLimit);
        if (const auto updatedAt = indexjson::storedTimeIfEquivalent(stored, documents, skipped)) {
            return KnowledgeIndex{std::move(documents), skipped, *updatedAt};
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
    }
    return std::nullopt;
}

// Hands the stored index file to `decode`, mapped, or where the file system cannot map it, read
// whole. Mapped rather than read: a 16 MB buffer read into afresh on every load costs its pages
// to be zeroed and faulted in each time, unless the process's allocator happens to keep them.
// The guarded read's errors are thrown as they are.
template <class Decode>
auto decodeStored(const Path& file, Decode decode) {
    SafeFiles::GuardedReader reader(file, indexReadLimit);
    std::unique_ptr<files::MappedFile> mapped;
    try {
        mapped = std::make_unique<files::MappedFile>(reader);
    } catch (const OstrakError&) {
    }
    if (mapped) return decode(*mapped);
    return decode(SafeFiles::readAll(reader));
}

// The relative paths the stored index holds; none when it is missing or cannot be read. Only
// the paths are kept: the texts are passed over in place.
std::unordered_set<std::string> incumbentsOf(const Workspace& workspace) {
    try {
        auto paths = decodeStored(indexFile(workspace), [](const auto& stored) {
            return indexjson::storedPaths(stored);
        });
        return {std::make_move_iterator(paths.begin()), std::make_move_iterator(paths.end())};
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return {};
    }
}

// Whether the last stored index left anything out, as its last bytes tell; yes when they cannot
// tell.
bool lastIndexSkipped(const Workspace& workspace) {
    try {
        return indexjson::storedSkipCount(indexFile(workspace), indexReadLimit).value_or(1) > 0;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return true;
    }
}

// The walks of one rebuild, their skipped entries recorded when `record` is given. Only a
// knowledge base past the limits reads the stored index, to know what goes first; with none
// (or none readable) the walk of the incumbents takes nothing and the second takes everything.
// Whether it is past them is known from a walk that takes everything; when the last index left
// something out, a sizing walk, which reads no file, tells first whether that walk could do.
std::unique_ptr<IndexBuilder> walkKnowledge(const Workspace& workspace,
                                            std::vector<SkippedEntry>* record = nullptr) {
    const Path knowledge = workspace.knowledgeURL();
    std::unique_ptr<IndexBuilder> builder;
    bool mayFit = true;
    if (lastIndexSkipped(workspace)) {
        IndexBuilder sizing(workspace.root());
        sizing.walk(knowledge, Take::sizing);
        mayFit = !sizing.full();
    }
    if (mayFit) {
        builder = std::make_unique<IndexBuilder>(workspace.root(), record);
        builder->walk(knowledge);
        if (!builder->full()) return builder;
        builder.reset();  // its documents go before the stored index is read
    }
    const auto incumbents = incumbentsOf(workspace);
    builder = std::make_unique<IndexBuilder>(workspace.root(), record);
    builder->walk(knowledge, Take::incumbents, &incumbents);
    builder->walk(knowledge, Take::newcomers, &incumbents);
    return builder;
}

}  // namespace

KnowledgeIndex Workspace::rebuildIndex() const {
    requirePresent(m_root);
    const Timestamp startedAt = Timestamp::now();
    const auto builder = walkKnowledge(*this);
    auto documents = builder->takeDocuments();
    const Path file = indexFile(*this);
    if (auto stored = unchangedStoredIndex(file, documents, builder->skipped())) {
        return std::move(*stored);
    }
    KnowledgeIndex index{std::move(documents), builder->skipped(), startedAt};
    indexjson::write(index, file, indexReadLimit);
    return index;
}

std::vector<SkippedEntry> Workspace::skippedEntries() const {
    std::vector<SkippedEntry> skipped;
    walkKnowledge(*this, &skipped);
    std::stable_sort(skipped.begin(), skipped.end(),
                     [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; });
    return skipped;
}

std::optional<IndexCounts> Workspace::storedIndexCounts() const {
    try {
        const auto counts = decodeStored(indexFile(*this), [](const auto& stored) {
            if constexpr (std::is_same_v<std::decay_t<decltype(stored)>, files::MappedFile>) {
                return indexjson::ownLayoutCounts(stored.bytes());
            } else {
                return indexjson::ownLayoutCounts(std::string_view(stored));
            }
        });
        if (counts) return IndexCounts{counts->first, counts->second};
        const KnowledgeIndex index = loadIndex();
        return IndexCounts{static_cast<std::int64_t>(index.documents.size()), index.skipped};
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        return std::nullopt;
    }
}

KnowledgeIndex Workspace::loadIndex() const {
    return decodeStored(indexFile(*this), [](const auto& stored) {
        try {
            return indexjson::decode(stored);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            SafeFiles::detail::throwFormatError();
        }
    });
}

Path Workspace::documentURL(const IndexedDocument& document) const {
    const Path url = paths::standardized(m_root / document.relativePath);
    if (!url.native().starts_with(knowledgeURL().native() + "/")) {
        throw OstrakError(message::documentOutside);
    }
    SafeFiles::checkAncestors(url);
    return url;
}

namespace {

// Calls `found` with each document whose title or text holds the trimmed query under full case
// folding, in index order, while it returns true.
void forEachMatch(const std::vector<IndexedDocument>& documents, std::string_view query,
                  const std::function<bool(const IndexedDocument&)>& found) {
    const std::string_view trimmed = text::trimmed(query);
    if (trimmed.empty()) return;
    const text::CaseFolder folder;
    std::string needle;
    folder.fold(trimmed, needle);
    std::string folded;
    const auto contains = [&](const std::string& haystack) {
        folder.fold(haystack, folded);
        return ::memmem(folded.data(), folded.size(), needle.data(), needle.size()) != nullptr;
    };
    for (const auto& document : documents) {
        if ((contains(document.title) || contains(document.text)) && !found(document)) return;
    }
}

}  // namespace

std::vector<IndexedDocument> KnowledgeIndex::search(std::string_view query) const {
    std::vector<IndexedDocument> found;
    forEachMatch(documents, query, [&](const IndexedDocument& document) {
        found.push_back(document);
        return found.size() < maximumResults;
    });
    return found;
}

SearchMatches KnowledgeIndex::searchCounting(std::string_view query, std::size_t limit) const {
    SearchMatches matches;
    forEachMatch(documents, query, [&](const IndexedDocument& document) {
        if (limit == 0 || matches.documents.size() < limit) matches.documents.push_back(document);
        ++matches.total;
        return true;
    });
    return matches;
}

}  // namespace ostrak
