#include "ostrak/workspace.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>

#include "files/bounded_write.hpp"
#include "files/folder_listing.hpp"
#include "files/paths.hpp"
#include "files/verified_directory.hpp"
#include "messages.hpp"
#include "ostrak/error.hpp"
#include "ostrak/safe_files.hpp"
#include "station/layout.hpp"
#include "station/pointer.hpp"
#include "station/presence.hpp"
#include "text/text.hpp"

namespace ostrak {

namespace {

constexpr std::size_t maximumNameLength = 48;
constexpr std::int64_t identityReadLimit = 65536;
constexpr const char* identityFile = "station.json";

// A location whose path is not UTF-8, or too long for the installation pointer's reader, could
// never be found again through the pointer, so it is refused before anything touches the disk.
Path rootFor(const Path& location) {
    if (!text::isValidUtf8(location.native())) throw OstrakError(message::pathNotUsable);
    Path root = paths::standardized(location);
    if (!Installation::pointerFits(root)) throw OstrakError(message::pathNotUsable);
    return root;
}

// Any entry at all, hidden ones included. A location that cannot be listed to the end (a read
// error halfway through a network folder included) counts as occupied. A location that does
// not exist yet is free.
// The outermost of the folders leading to `root` (itself included) that do not exist yet.
std::optional<Path> outermostMissing(const Path& root) {
    std::optional<Path> outermost;
    for (Path path = root; path != path.parent_path() && paths::isMissing(path);
         path = path.parent_path()) {
        outermost = path;
    }
    return outermost;
}

// Undoes a creation that failed: what it made inside the root (which was empty or absent),
// and the folders it made to get there. Links are removed, never followed.
void removeMade(const Path& root, const std::optional<Path>& outermostMade) noexcept {
    std::error_code ignored;
    if (outermostMade) {
        std::filesystem::remove_all(*outermostMade, ignored);
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(root, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

bool keepsPrivate(const Path& path, mode_t kind) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == kind &&
           (status.st_mode & 077) == 0;
}

// The file system kept the modes it was given (FAT, exFAT and NTFS mounted with umask=022 take
// them without a word, and show every file to every account).
void requireKeptPrivate(const Workspace& workspace) {
    const Path& root = workspace.root();
    bool kept = keepsPrivate(root, S_IFDIR) && keepsPrivate(root / identityFile, S_IFREG);
    for (const auto& relative : workspace.requiredDirectories())
        kept = kept && keepsPrivate(root / relative, S_IFDIR);
    if (!kept) throw OstrakError(message::fileSystemNotPrivate);
}

// A folder (not a link) with no identity file: no workstation, whatever its modes.
bool lacksIdentity(const Path& root) {
    struct stat status;
    return ::lstat(root.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           paths::isMissing(root / identityFile);
}

bool isOccupied(const Path& root) {
    auto walk = files::VerifiedDirectory::walk(root);
    if (!walk.missing.empty()) return walk.blockedByFile;
    files::FolderListing listing(walk.deepest);
    if (!listing.opened()) return true;
    while (const dirent* entry = listing.next()) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") return true;
    }
    return listing.failed();
}

void checkIdentity(const StationConfiguration& station) {
    if (station.schema != 1) throw OstrakError(message::otherSchema);
    Workspace::validName(station.name);
    if (station.id == station.ownerID) throw OstrakError(message::identityDamaged);
}

}  // namespace

Workspace::Workspace(Path root, StationConfiguration configuration)
    : m_root(std::move(root)), m_configuration(std::move(configuration)) {}

std::string Workspace::validName(std::string_view name) {
    const std::string_view trimmed = text::trimmed(name);
    if (trimmed.empty() || text::hasControlOrFormat(trimmed) ||
        text::graphemeCount(trimmed, maximumNameLength) > maximumNameLength) {
        throw OstrakError(message::invalidName);
    }
    return std::string(trimmed);
}

Workspace Workspace::create(const Path& location, std::string_view name) {
    std::string validated = validName(name);
    Path root = rootFor(location);
    SafeFiles::checkAncestors(root);
    if (isOccupied(root)) throw OstrakError(message::locationNotEmpty);
    const std::optional<Path> outermostMade = outermostMissing(root);
    try {
        SafeFiles::directory(root);
        SafeFiles::privateRoot(root, true);
        StationConfiguration station{
            .schema = 1,
            .id = Uuid::random(),
            .ownerID = Uuid::random(),
            .name = std::move(validated),
            .createdAt = Timestamp::now(),
        };
        SafeFiles::writeWithinLimit(station, root / identityFile, true, identityReadLimit,
                                    message::invalidName);
        Workspace workspace(root, std::move(station));
        workspace.ensureDirectories();
        requireKeptPrivate(workspace);
        return workspace;
    } catch (...) {
        removeMade(root, outermostMade);
        throw;
    }
}

Workspace Workspace::open(const Path& location) {
    Path root = rootFor(location);
    SafeFiles::checkAncestors(root);
    requirePresent(root);
    if (lacksIdentity(root)) throw OstrakError(message::notAWorkstation);
    SafeFiles::privateRoot(root, false);
    auto station = SafeFiles::read<StationConfiguration>(root / identityFile, identityReadLimit);
    checkIdentity(station);
    return Workspace(std::move(root), std::move(station));
}

bool Workspace::isUnreachable(const Path& location) {
    const Path root = paths::standardized(location);
    struct stat status;
    return ::lstat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
           ::lstat((root / identityFile).c_str(), &status) != 0;
}

std::vector<std::string> Workspace::requiredDirectories() const {
    const std::string owner = "users/" + m_configuration.ownerID.text();
    return {
        owner + "/knowledge/inbox",
        owner + "/knowledge/notes",
        owner + "/knowledge/attachments",
        owner + "/skills",
        owner + "/memory",
        "groups",
        "templates/experts",
        "system/indexes",
        "system/state",
        "system/config",
        "system/logs",
        "system/cache",
        "exports",
        "backups",
    };
}

Path Workspace::knowledgeURL() const {
    return m_root / "users" / m_configuration.ownerID.text() / "knowledge";
}

void Workspace::ensureDirectories() const {
    for (const auto& relative : requiredDirectories()) SafeFiles::directory(m_root / relative);
}

void Workspace::removeStaleTemporaries() const {
    constexpr std::chrono::minutes staleAfter{15};
    for (const Path& folder : {m_root, layout::stateFolder(m_root), layout::indexesFolder(m_root),
                               knowledgeURL() / "notes"}) {
        SafeFiles::removeStaleTemporaries(folder, staleAfter);
    }
}

void Workspace::rename(std::string_view newName) {
    StationConfiguration renamed = m_configuration;
    renamed.name = validName(newName);
    requirePresent(m_root);
    SafeFiles::writeWithinLimit(renamed, m_root / identityFile, false, identityReadLimit,
                                message::invalidName);
    m_configuration = std::move(renamed);
}

}  // namespace ostrak
