#include <fcntl.h>
#include <sys/stat.h>

#include <utility>
#include <vector>

#include "files/located.hpp"
#include "files/paths.hpp"
#include "files/unique_fd.hpp"
#include "json/index_json.hpp"
#include "json/json_writer.hpp"
#include "messages.hpp"
#include "ostrak/installation.hpp"
#include "ostrak/workspace.hpp"
#include "station/environment_facts.hpp"
#include "station/layout.hpp"

namespace ostrak {

namespace {

bool serviceIsFresh(const Workspace& workspace) {
    try {
        return workspace.heartbeat().isFresh(Timestamp::now());
    } catch (...) {
        return false;  // no heartbeat, a broken one, or another station's
    }
}

std::optional<std::int64_t> indexedDocuments(const Workspace& workspace) {
    try {
        const Bytes stored =
            SafeFiles::readData(layout::indexFile(workspace.root()), layout::indexReadLimit);
        return indexjson::storedDocumentCount(stored);
    } catch (...) {
        return std::nullopt;  // no index yet, or one that cannot be read
    }
}

using FileIdentity = std::pair<dev_t, ino_t>;

FileIdentity identityOf(const struct stat& status) {
    return {status.st_dev, status.st_ino};
}

// The identity of an existing folder, reached without links; nothing when there is none.
std::optional<FileIdentity> folderIdentity(const Path& path) {
    try {
        auto walk = files::VerifiedDirectory::walk(paths::standardized(path));
        struct stat status;
        if (!walk.missing.empty() || !walk.deepest.status(status)) return std::nullopt;
        return identityOf(status);
    } catch (...) {
        return std::nullopt;
    }
}

// Whether `folder` is one of `protectedFolders` or lies anywhere below one, climbing from its
// descriptor through ".." to "/" (so no path text, link or rename can hide where it is). A
// level that cannot be examined counts as inside.
bool liesWithin(const files::VerifiedDirectory& folder,
                const std::vector<FileIdentity>& protectedFolders) {
    constexpr int levelFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    UniqueFd current(::openat(folder.descriptor(), ".", levelFlags));
    struct stat status;
    if (!current || ::fstat(current.get(), &status) != 0) return true;
    for (;;) {
        for (const auto& identity : protectedFolders) {
            if (identityOf(status) == identity) return true;
        }
        UniqueFd above(::openat(current.get(), "..", levelFlags));
        struct stat aboveStatus;
        if (!above || ::fstat(above.get(), &aboveStatus) != 0) return true;
        if (identityOf(aboveStatus) == identityOf(status)) return false;  // "/" is its own parent
        current = std::move(above);
        status = aboveStatus;
    }
}

}  // namespace

void Workspace::exportDiagnostics(const Path& destination) const {
    const auto located = SafeFiles::locate(destination);
    if (located) {
        std::vector<FileIdentity> protectedFolders;
        for (const Path& folder : {m_root, Installation::supportDirectory()}) {
            if (const auto identity = folderIdentity(folder)) protectedFolders.push_back(*identity);
        }
        if (liesWithin(located->folder, protectedFolders)) {
            throw OstrakError(message::diagnosticsInsideStation);
        }
    }
    SafeFiles::writeData(diagnosticReport(), destination, false);
}

// A compact report for support that names nothing of the person, the station or its content.
Bytes Workspace::diagnosticReport() const {
    const auto documents = indexedDocuments(*this);
    JsonWriter writer(false);
    writer.beginObject()
        .key("appVersion")
        .string(version)
        .key("schema")
        .integer(m_configuration.schema)
        .key("systemVersion")
        .string(environment::operatingSystem())
        .key("serviceFresh")
        .boolean(serviceIsFresh(*this));
    if (documents) writer.key("indexedDocuments").integer(*documents);
    writer.key("generatedAt").number(Timestamp::now().seconds).endObject();
    return writer.take();
}

}  // namespace ostrak
