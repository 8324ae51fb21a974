#include "ostrak/safe_files.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <limits>
#include <system_error>

#include "files/guarded_reader.hpp"
#include "files/located.hpp"
#include "files/paths.hpp"
#include "files/streamed_write.hpp"
#include "files/unique_fd.hpp"
#include "files/verified_directory.hpp"
#include "messages.hpp"
#include "ostrak/uuid.hpp"

namespace ostrak::SafeFiles {

namespace {

using files::VerifiedDirectory;

[[noreturn]] void fail(const std::string& message) {
    throw OstrakError(message);
}

[[noreturn]] void throwErrno(int error) {
    throw std::system_error(error, std::generic_category());
}

Path checkedText(const Path& path) {
    Path standardized = paths::standardized(path);
    const std::string& text = standardized.native();
    if (text.empty() || text.front() != '/' || text == "/") fail(message::pathNotUsable);
    return standardized;
}

// A walk that has passed checkAncestors' rules: a file may only stand as the last component.
VerifiedDirectory::Walk checkedWalk(const Path& standardized) {
    auto walk = VerifiedDirectory::walk(standardized);
    if (walk.blockedByFile && walk.missing.size() > 1) fail(message::pathUncheckable);
    return walk;
}

bool isOwnedFolder(const VerifiedDirectory& folder) {
    struct stat status;
    return folder.status(status) && S_ISDIR(status.st_mode) && status.st_uid == ::getuid();
}

// The temporary file of one write, inside the verified folder of the destination. Calling
// sequence: the constructor creates it exclusively (mode 0600, no link followed); the caller
// writes and flushes through descriptor(); then published() after a rename (the name is gone)
// or nothing. On destruction the descriptor is closed and, unless published, the temporary
// name is removed from that same folder, so no ".ostrak-" file outlives the write on any path.
class TemporaryFile {
public:
    explicit TemporaryFile(const VerifiedDirectory& folder)
        : m_folder(folder), m_name(".ostrak-" + Uuid::random().text()) {
        m_fd = m_folder.open(m_name, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (!m_fd) fail(errno == EROFS ? message::readOnlyDisk : message::temporaryUncreatable);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        m_fd.reset();
        if (!m_published) ::unlinkat(m_folder.descriptor(), m_name.c_str(), 0);
    }

    int descriptor() const noexcept { return m_fd.get(); }
    const std::string& name() const noexcept { return m_name; }
    void published() noexcept { m_published = true; }

private:
    const VerifiedDirectory& m_folder;
    std::string m_name;
    UniqueFd m_fd;
    bool m_published = false;
};

void writeAll(int descriptor, std::string_view data) {
    const char* next = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            throwErrno(errno);
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
}

void refuseLinkAt(const VerifiedDirectory& folder, const std::string& name) {
    struct stat status;
    if (folder.statEntry(name, status) && S_ISLNK(status.st_mode)) fail(message::pathThroughLink);
}

// Gives the temporary file its final name only if nothing has that name yet, leaving one name
// in the folder. A file system without RENAME_NOREPLACE gets a hard link and an unlink of the
// temporary name instead; there a temporary name that cannot be removed is a failure too, or
// a second name of the new file would stay behind a reported success.
void publishExclusively(const VerifiedDirectory& folder, const std::string& temporary,
                        const std::string& name) {
    const int dir = folder.descriptor();
    if (::renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS) fail(message::publishFailed);
    if (::linkat(dir, temporary.c_str(), dir, name.c_str(), 0) != 0) {
        // Neither way exists here (FAT, exFAT): no file can be published without replacing.
        const bool noLinks = errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS;
        fail(noLinks ? message::fileSystemNotPrivate : message::publishFailed);
    }
    if (::unlinkat(dir, temporary.c_str(), 0) != 0) {
        ::unlinkat(dir, name.c_str(), 0);
        fail(message::publishFailed);
    }
}

// Why a folder of this user's could not be given its mode: a read-only disk, or a file system
// that keeps no modes at all (FAT refuses the change, FUSE drivers may not implement it).
const std::string& modeRefusal(int error) {
    switch (error) {
        case EROFS:
            return message::readOnlyDisk;
        case EPERM:
        case ENOSYS:
        case EOPNOTSUPP:
            return message::fileSystemNotPrivate;
        default:
            return message::rootModeUnsettable;
    }
}

}  // namespace

void detail::throwFormatError() {
    fail(message::fileFormat);
}

std::optional<Located> locate(const Path& path) {
    const Path standardized = checkedText(path);
    auto walk = VerifiedDirectory::walk(standardized.parent_path());
    if (walk.blockedByFile) fail(message::pathUncheckable);
    if (!walk.missing.empty()) return std::nullopt;
    std::string name = standardized.filename().native();
    struct stat status;
    if (walk.deepest.statEntry(name, status)) {
        if (S_ISLNK(status.st_mode)) fail(message::pathThroughLink);
    } else if (errno != ENOENT) {
        fail(message::pathUncheckable);
    }
    return Located{std::move(walk.deepest), std::move(name)};
}

void checkAncestors(const Path& path) {
    checkedWalk(checkedText(path));
}

void directory(const Path& path) {
    auto walk = checkedWalk(checkedText(path));
    if (walk.blockedByFile) fail(message::notDirectory);
    VerifiedDirectory level = std::move(walk.deepest);
    try {
        for (const auto& name : walk.missing) level = level.makeChild(name, 0700);
    } catch (const std::system_error& failure) {
        const int error = failure.code().value();
        if (error == EROFS) fail(message::readOnlyDisk);
        // A folder this user may not write in (a mount point left to root, say).
        if (error == EACCES || error == EPERM) fail(message::targetDirectoryUnusable);
        throw;
    }
}

void privateRoot(const Path& path, bool initialize) {
    auto walk = checkedWalk(checkedText(path));
    if (!walk.missing.empty() || !isOwnedFolder(walk.deepest)) fail(message::rootNotOwned);
    const VerifiedDirectory& root = walk.deepest;
    if (initialize) {
        // fchmod needs a descriptor opened for reading; the held one only names the folder.
        const UniqueFd readable = root.openForReading();
        if (readable ? ::fchmod(readable.get(), 0700) != 0
                     : ::chmod(("/proc/self/fd/" + std::to_string(root.descriptor())).c_str(),
                               0700) != 0) {
            fail(modeRefusal(errno));
        }
        return;
    }
    struct stat status;
    if (!root.status(status)) fail(message::rootNotOwned);
    if ((status.st_mode & 077) != 0) fail(message::rootOpenToOthers);
}

GuardedReader::GuardedReader(const Path& path, std::int64_t maximum) : m_maximum(maximum) {
    auto located = locate(path);
    if (!located) fail(message::fileUnreadable);
    open(located->folder, located->name);
}

GuardedReader::GuardedReader(const VerifiedDirectory& folder, std::string_view name,
                             std::int64_t maximum)
    : m_maximum(maximum) {
    open(folder, name);
}

void GuardedReader::open(const VerifiedDirectory& folder, std::string_view name) {
    m_fd = folder.open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!m_fd) fail(message::fileUnreadable);
    struct stat status;
    if (::fstat(m_fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::getuid() || status.st_size < 0 || status.st_size > m_maximum) {
        fail(message::fileUnacceptable);
    }
    m_size = status.st_size;
}

std::size_t GuardedReader::read(char* buffer, std::size_t length) {
    // Reading stops at maximum + 1 bytes, so a file that grew since fstat costs no more.
    const auto left = static_cast<std::size_t>(m_maximum + 1 - m_consumed);
    length = std::min(length, left);
    for (;;) {
        if (length == 0) return 0;
        const ssize_t got = ::read(m_fd.get(), buffer, length);
        if (got >= 0) {
            m_consumed += got;
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) throwErrno(errno);
    }
}

void GuardedReader::finish() const {
    if (m_consumed > m_maximum) fail(message::fileOverLimit);
}

Bytes readData(const Path& path, std::int64_t maximum) {
    GuardedReader reader(path, maximum);
    return readAll(reader);
}

namespace {

// Asks for the pages of a fresh buffer in one call rather than a fault for each, where it spans
// several: for one or two, often there already, the call would cost more. Pages at the ends
// shared with other allocations are only made present, never changed.
void prefault(char* buffer, std::size_t length) {
    constexpr std::uintptr_t page = 4096;
    if (length < 3 * page) return;
    const auto start = reinterpret_cast<std::uintptr_t>(buffer) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + length + page - 1) & ~(page - 1);
    ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
}

}  // namespace

Bytes readAll(GuardedReader& reader) {
    // Read through a small buffer and appended, into pages asked for at once (copying there
    // costs less than the kernel filling the result itself); the spare capacity lets a JSON
    // parser read the result in place.
    Bytes data;
    data.reserve(static_cast<std::size_t>(reader.size()) + 1 + 64);
    prefault(data.data(), data.capacity());
    char chunk[16384];
    while (const std::size_t got = reader.read(chunk, sizeof chunk)) data.append(chunk, got);
    reader.finish();
    return data;
}

// How much a streamed write produces before it hands that part to the disk.
constexpr std::int64_t writeBehind = 1 << 20;

void writeStreamed(const Path& destination, bool exclusive,
                   const std::function<void(const ChunkWriter&)>& produce, std::int64_t maximum,
                   Flush flush) {
    auto located = locate(destination);
    if (!located || !isOwnedFolder(located->folder)) fail(message::targetDirectoryUnusable);
    const VerifiedDirectory& folder = located->folder;
    const std::string& name = located->name;

    TemporaryFile temporary(folder);
    std::int64_t written = 0, handedToDisk = 0;
    produce([&](std::string_view chunk) {
        // What its reader would refuse is never published: the temporary file goes.
        written += static_cast<std::int64_t>(chunk.size());
        if (written > maximum) fail(message::fileOverLimit);
        writeAll(temporary.descriptor(), chunk);
        // Long content starts on its way to the disk while the rest is produced, so the
        // flush below waits only for its last part. A hint: fsync still decides.
        if (written - handedToDisk >= writeBehind) {
            ::sync_file_range(temporary.descriptor(), handedToDisk, written - handedToDisk,
                              SYNC_FILE_RANGE_WRITE);
            handedToDisk = written;
        }
    });
    if (flush == Flush::always && ::fsync(temporary.descriptor()) != 0) throwErrno(errno);

    refuseLinkAt(folder, name);  // a link planted while the data was written is still refused
    if (exclusive) {
        publishExclusively(folder, temporary.name(), name);
    } else if (::renameat(folder.descriptor(), temporary.name().c_str(), folder.descriptor(),
                          name.c_str()) != 0) {
        fail(message::publishFailed);
    }
    temporary.published();
    // The new name must itself reach the disk, or a power loss can take the saved file away
    // again. The publish has happened, so a failure here changes nothing.
    if (flush == Flush::always) folder.sync();
}

void writeData(const Bytes& data, const Path& destination, bool exclusive) {
    writeStreamed(
        destination, exclusive, [&](const ChunkWriter& write) { write(data); },
        std::numeric_limits<std::int64_t>::max());
}

}  // namespace ostrak::SafeFiles
