#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "files/folder_listing.hpp"
#include "files/verified_directory.hpp"
#include "ostrak/error.hpp"
#include "ostrak/safe_files.hpp"
#include "ostrak/uuid.hpp"

namespace ostrak::SafeFiles {

void removeStaleTemporaries(const Path& folder, std::chrono::seconds minimumAge) {
    if (!folder.is_absolute()) return;
    std::optional<files::VerifiedDirectory::Walk> walk;
    try {
        walk = files::VerifiedDirectory::walk(folder.lexically_normal());
    } catch (const OstrakError&) {
        return;  // a folder behind a link is nobody's to clean
    }
    if (!walk->missing.empty()) return;
    files::FolderListing listing(walk->deepest);
    if (!listing.opened()) return;
    const std::time_t cutoff = std::time(nullptr) - minimumAge.count();
    const int descriptor = listing.descriptor();
    while (const dirent* entry = listing.next()) {
        // Only names this layer makes: ".ostrak-" and a UUID. A person's ".ostrak-notes" stays.
        const std::string_view name = entry->d_name;
        if (!name.starts_with(".ostrak-") || !Uuid::parse(name.substr(8))) continue;
        struct stat status;
        if (::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(status.st_mode) || status.st_uid != ::getuid()) continue;
        if (status.st_mtime > cutoff) continue;
        ::unlinkat(descriptor, entry->d_name, 0);
    }
}

}  // namespace ostrak::SafeFiles
