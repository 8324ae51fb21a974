#pragma once

#include <dirent.h>

#include <cerrno>

#include "files/verified_directory.hpp"

namespace ostrak::files {

// The entries of a verified folder, in the order the file system gives them ("." and ".."
// included). Owns the directory stream and so its descriptor.
//
// Calling sequence: construct, check opened(), call next() until it returns nothing, then ask
// failed(): a read error is not the end of the folder (a network file system can fail halfway),
// and a caller that needs the whole folder must not take it for one.
class FolderListing {
public:
    explicit FolderListing(const VerifiedDirectory& folder) noexcept {
        UniqueFd readable = folder.openForReading();
        if (!readable) return;
        m_stream = ::fdopendir(readable.get());
        if (m_stream != nullptr) readable.release();  // the stream owns it now
    }
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;
    ~FolderListing() {
        if (m_stream != nullptr) ::closedir(m_stream);
    }

    bool opened() const noexcept { return m_stream != nullptr; }
    // The next entry, or nothing at the end or on a read error (see failed()).
    const dirent* next() noexcept {
        errno = 0;
        const dirent* entry = ::readdir(m_stream);
        if (entry == nullptr) m_error = errno;
        return entry;
    }
    bool failed() const noexcept { return m_error != 0; }
    // The folder's descriptor, for the *at calls on its entries.
    int descriptor() const noexcept { return ::dirfd(m_stream); }

private:
    DIR* m_stream = nullptr;
    int m_error = 0;
};

}  // namespace ostrak::files
