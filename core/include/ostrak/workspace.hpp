#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ostrak/heartbeat.hpp"
#include "ostrak/knowledge_index.hpp"
#include "ostrak/station.hpp"
#include "ostrak/types.hpp"
#include "ostrak/version.hpp"

namespace ostrak {

// An opened workstation: its standardized root directory and its identity. A plain value that
// holds no open file or lock; copies are independent.
//
// Layout under the root (OWNER = ownerID text): "station.json", "users/OWNER/knowledge/{inbox,
// notes,attachments}", "users/OWNER/{skills,memory}", "groups", "templates/experts",
// "system/{indexes,state,config,logs,cache}", "exports", "backups".
class Workspace {
public:
    static constexpr std::string_view version = projectVersion;
    // The largest note, in bytes (256 KB): a longer one is refused, and a larger file of the
    // knowledge folder is left out of the index.
    static constexpr std::size_t maximumNoteBytes = 262144;

    // Trims white space and line breaks; accepts 1 to 48 user-perceived characters with no
    // control or format character. Returns the trimmed name.
    static std::string validName(std::string_view name);
    // Makes a new workstation in an empty or absent directory.
    static Workspace create(const Path& location, std::string_view name);
    // Opens and vouches for an existing workstation; writes nothing.
    static Workspace open(const Path& location);
    // Whether the workstation at `location` cannot be seen now: its folder, a folder above it
    // or its identity file is missing or cannot be looked at (a disk unplugged, a network or
    // FUSE mount whose server went away, a folder made unreadable). Looks, writes nothing.
    static bool isUnreachable(const Path& location);

    const Path& root() const noexcept { return m_root; }
    const StationConfiguration& configuration() const noexcept { return m_configuration; }
    std::vector<std::string> requiredDirectories() const;
    Path knowledgeURL() const;

    // Creates whichever required directories are missing (mode 0700), leaving others as they are.
    void ensureDirectories() const;
    // Removes ".ostrak-" files a killed writer left (15 minutes old or more) from the folders
    // the system writes: the root, system/state, system/indexes and the notes folder.
    void removeStaleTemporaries() const;
    // Rewrites the identity with the new name; on failure value and file keep the old name.
    void rename(std::string_view newName);
    // Creates a new Markdown note exclusively in the notes folder and returns its path.
    Path writeNote(std::string_view title, std::string_view body) const;

    // Walks the knowledge folder within its limits and stores the result unless the stored
    // index already holds the same documents and skip count (then that one is returned).
    KnowledgeIndex rebuildIndex() const;
    KnowledgeIndex loadIndex() const;
    // The stored index's counts, read from its layout without decoding its documents when this
    // program wrote it (else by loading it); none when there is none or it cannot be read.
    std::optional<IndexCounts> storedIndexCounts() const;
    // What a rebuild now would count as skipped, one entry per counted item (as many as its skip
    // count), by path; walks exactly as the rebuild does and writes nothing.
    std::vector<SkippedEntry> skippedEntries() const;
    // The file of a document, refused unless it lies inside the knowledge folder.
    Path documentURL(const IndexedDocument& document) const;

    std::unique_ptr<ServiceLock> acquireServiceLock() const;
    void saveHeartbeat(const ServiceHeartbeat& heartbeat) const;
    // The stored heartbeat, refused when another station wrote it.
    ServiceHeartbeat heartbeat() const;

    // Compact JSON for support: version, schema, system, service freshness and the number of
    // indexed documents (left out when the index cannot be read). Nothing personal.
    Bytes diagnosticReport() const;
    // Writes that report to `destination`, replacing a file there; refuses a destination in this
    // workstation's folder or the installation pointer's, where it would replace their files.
    void exportDiagnostics(const Path& destination) const;

private:
    Workspace(Path root, StationConfiguration configuration);

    Path m_root;
    StationConfiguration m_configuration;
};

}  // namespace ostrak
