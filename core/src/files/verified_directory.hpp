#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/unique_fd.hpp"
#include "ostrak/types.hpp"

namespace ostrak::files {

// A directory reached from "/" without passing through a symbolic link, held by descriptor.
//
// Calling sequence
//   auto walk = VerifiedDirectory::walk(path);     // resolve as deep as the path exists
//   walk.deepest.makeChild("new") ...              // or openFile / link / rename / list ...
//   walk.deepest.sync();                           // after publishing a name in it
//
// walk() resolves an absolute, standardized path one component at a time: each level is opened
// with openat(level above, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC). Every later
// operation is made relative to the descriptor of a verified level, so a folder swapped for a
// link (or moved elsewhere) after the walk cannot redirect it: the descriptor keeps naming the
// folder that was verified, wherever it now is.
//
// What it refuses (OstrakError with the guarded layer's messages)
//   - a symbolic link at any level, the last one included   -> the symbolic-link message
//   - a level that cannot be examined for another reason     -> the "cannot check" message
// A missing level ends the walk without error: the result names the levels still missing.
// A regular file (or other non-directory) at some level also ends the walk; `blockedByFile`
// tells it, and the caller decides (a file as the last component is what a read expects).
//
// Errno contract: the members that wrap one system call return its result and leave errno as
// the call set it; they throw nothing but std::bad_alloc. walk() takes an absolute path and
// refuses a relative one with the "choose a location" message. Descriptors are owned here and
// closed on destruction.
class VerifiedDirectory {
public:
    struct Walk;

    static Walk walk(const Path& path);

    VerifiedDirectory(VerifiedDirectory&&) noexcept = default;
    VerifiedDirectory& operator=(VerifiedDirectory&&) noexcept = default;

    int descriptor() const noexcept { return m_fd.get(); }
    // fstat of the held folder; the caller checks owner and mode here, not through the path.
    bool status(struct stat& status) const noexcept;

    // The existing child folder `name`, or an error: a link is refused with the link message,
    // anything else but a folder with "所选位置不是目录。", a failed call as std::system_error.
    VerifiedDirectory child(std::string_view name) const;
    // Creates the child folder with `mode` (an existing one is taken as it is) and opens it.
    VerifiedDirectory makeChild(std::string_view name, mode_t mode) const;

    // The folder above this one, provided it is still `expected` (same device and inode): a
    // walk that let go of a parent's descriptor comes back up this way, and a folder moved
    // elsewhere meanwhile is noticed instead of entered. Nothing when it is not.
    std::optional<VerifiedDirectory> parent(const struct stat& expected) const noexcept;

    // openat relative to this folder, never following a link as the last component.
    UniqueFd open(std::string_view name, int flags, mode_t mode = 0) const;
    // fstatat without following a link; false with errno when the call fails.
    bool statEntry(std::string_view name, struct stat& status) const;
    // A descriptor of this folder that can be listed (fdopendir) or flushed.
    UniqueFd openForReading() const noexcept;
    // Flushes the folder's entries (a name just published) to stable storage; best effort.
    void sync() const noexcept;

private:
    explicit VerifiedDirectory(UniqueFd fd) noexcept : m_fd(std::move(fd)) {}
    UniqueFd m_fd;
};

struct VerifiedDirectory::Walk {
    VerifiedDirectory deepest;         // the deepest level that exists (at least "/")
    std::vector<std::string> missing;  // the names below it that could not be entered, in order
    bool blockedByFile = false;        // missing.front() exists but is not a folder
};

}  // namespace ostrak::files
