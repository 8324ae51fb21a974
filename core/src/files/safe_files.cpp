#include "ostrak/safe_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <system_error>

#include "files/guarded_reader.hpp"
#include "messages.hpp"
#include "ostrak/uuid.hpp"
#include "files/paths.hpp"
#include "files/streamed_write.hpp"
#include "files/unique_fd.hpp"

namespace ostrak::SafeFiles {

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw OstrakError(message);
}

[[noreturn]] void throwErrno(int error) {
    throw std::system_error(error, std::generic_category());
}

bool existsFollowingLinks(const Path& path, struct stat& status) {
    return ::stat(path.c_str(), &status) == 0;
}

// The temporary file of one write. Calling sequence: create() opens it exclusively (mode 0600);
// the caller writes and flushes through descriptor(); then either published() after a rename
// (the name is gone) or nothing. On destruction the descriptor is closed and, unless published,
// the temporary name is removed, so no ".ostrak-" file outlives the write on any path.
class TemporaryFile {
public:
    explicit TemporaryFile(Path path) : m_path(std::move(path)) {
        m_fd.reset(
            ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!m_fd) fail(message::temporaryUncreatable);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        m_fd.reset();
        if (!m_published) ::unlink(m_path.c_str());  // already gone after a failed link: ignored
    }

    int descriptor() const noexcept { return m_fd.get(); }
    const Path& path() const noexcept { return m_path; }
    void published() noexcept { m_published = true; }

private:
    Path m_path;
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

// After a publish the new name must itself reach the disk, or a power loss can take the
// saved file away again. The publish has happened by then, so a failure here changes nothing.
void syncDirectory(const Path& directory) {
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

}  // namespace

void detail::throwFormatError() {
    fail(message::fileFormat);
}

void checkAncestors(const Path& path) {
    const std::string text = paths::standardized(path).native();
    if (text.empty() || text.front() != '/' || text == "/") fail(message::pathNotUsable);
    std::string prefix;
    std::size_t start = 1;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            prefix.append("/").append(text, start, end - start);
            struct stat status;
            if (::lstat(prefix.c_str(), &status) == 0) {
                if (S_ISLNK(status.st_mode)) fail(message::pathThroughLink);
            } else if (errno != ENOENT) {
                fail(message::pathUncheckable);
            }
        }
        start = end + 1;
    }
}

void directory(const Path& path) {
    checkAncestors(path);
    const Path target = paths::standardized(path);
    struct stat status;
    if (existsFollowingLinks(target, status)) {
        if (!S_ISDIR(status.st_mode)) fail(message::notDirectory);
        return;
    }
    const Path parent = target.parent_path();
    if (!existsFollowingLinks(parent, status)) directory(parent);
    if (::mkdir(target.c_str(), 0700) != 0) throwErrno(errno);
}

void privateRoot(const Path& path, bool initialize) {
    checkAncestors(path);
    const Path root = paths::standardized(path);
    struct stat status;
    if (::lstat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid()) {
        fail(message::rootNotOwned);
    }
    if (initialize) {
        if (::chmod(root.c_str(), 0700) != 0) fail(message::rootModeUnsettable);
        return;
    }
    if ((status.st_mode & 077) != 0) fail(message::rootOpenToOthers);
}

GuardedReader::GuardedReader(const Path& path, std::int64_t maximum) : m_maximum(maximum) {
    checkAncestors(path);
    m_fd.reset(
        ::open(paths::standardized(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!m_fd) fail(message::fileUnreadable);
    struct stat status;
    if (::fstat(m_fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::getuid() || status.st_size < 0 || status.st_size > maximum) {
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
    // The spare capacity lets a JSON parser read the buffer in place.
    Bytes data;
    data.reserve(static_cast<std::size_t>(reader.size()) + 1 + 64);
    std::size_t filled = 0;
    for (;;) {
        if (filled == data.size()) {
            data.resize(std::max(data.capacity() - 64, filled + 4096));
        }
        const std::size_t got = reader.read(data.data() + filled, data.size() - filled);
        if (got == 0) break;
        filled += got;
    }
    data.resize(filled);
    reader.finish();
    return data;
}

void writeStreamed(const Path& destination, bool exclusive,
                   const std::function<void(const ChunkWriter&)>& produce) {
    checkAncestors(destination);
    const Path target = paths::standardized(destination);
    const Path directory = target.parent_path();
    struct stat status;
    if (::lstat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid()) {
        fail(message::targetDirectoryUnusable);
    }

    TemporaryFile temporary(directory / (".ostrak-" + Uuid::random().text()));
    produce([&](std::string_view chunk) { writeAll(temporary.descriptor(), chunk); });
    if (::fsync(temporary.descriptor()) != 0) throwErrno(errno);

    checkAncestors(target);  // a link planted while the data was written is still refused
    if (exclusive) {
        if (::link(temporary.path().c_str(), target.c_str()) != 0) fail(message::publishFailed);
    } else {
        if (::rename(temporary.path().c_str(), target.c_str()) != 0) fail(message::publishFailed);
        temporary.published();
    }
    syncDirectory(directory);
}

void writeData(const Bytes& data, const Path& destination, bool exclusive) {
    writeStreamed(destination, exclusive, [&](const ChunkWriter& write) { write(data); });
}

}  // namespace ostrak::SafeFiles
