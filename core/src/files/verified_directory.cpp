#include "files/verified_directory.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "messages.hpp"
#include "ostrak/error.hpp"

namespace ostrak::files {

namespace {

constexpr int levelFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string nameText(std::string_view name) {
    return std::string(name);
}

// Why openat of a level failed, told from the entry itself (the failed call alone cannot tell a
// link from a file: both give ENOTDIR or ELOOP).
enum class Obstacle { missing, link, file };

Obstacle classify(int parent, const std::string& name, int openError) {
    if (openError == ENOENT) return Obstacle::missing;
    struct stat status;
    if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return Obstacle::missing;
        throw OstrakError(message::pathUncheckable);
    }
    if (S_ISLNK(status.st_mode)) return Obstacle::link;
    if (!S_ISDIR(status.st_mode)) return Obstacle::file;
    throw OstrakError(message::pathUncheckable);  // a folder we may not enter
}

}  // namespace

VerifiedDirectory::Walk VerifiedDirectory::walk(const Path& path) {
    if (!path.is_absolute()) throw OstrakError(message::pathNotUsable);
    UniqueFd current(::open("/", levelFlags));
    if (!current) throw OstrakError(message::pathUncheckable);
    Walk result{VerifiedDirectory(UniqueFd()), {}, false};
    bool stopped = false;
    for (const auto& component : path.relative_path()) {
        std::string name = component.native();
        if (name.empty()) continue;
        if (stopped) {
            result.missing.push_back(std::move(name));
            continue;
        }
        UniqueFd next(::openat(current.get(), name.c_str(), levelFlags));
        if (next) {
            current = std::move(next);
            continue;
        }
        switch (classify(current.get(), name, errno)) {
            case Obstacle::link:
                throw OstrakError(message::pathThroughLink);
            case Obstacle::file:
                result.blockedByFile = true;
                break;
            case Obstacle::missing:
                break;
        }
        stopped = true;
        result.missing.push_back(std::move(name));
    }
    result.deepest = VerifiedDirectory(std::move(current));
    return result;
}

bool VerifiedDirectory::status(struct stat& status) const noexcept {
    return ::fstat(m_fd.get(), &status) == 0;
}

VerifiedDirectory VerifiedDirectory::child(std::string_view name) const {
    const std::string text = nameText(name);
    UniqueFd fd(::openat(m_fd.get(), text.c_str(), levelFlags));
    if (fd) return VerifiedDirectory(std::move(fd));
    const int error = errno;
    switch (classify(m_fd.get(), text, error)) {
        case Obstacle::link:
            throw OstrakError(message::pathThroughLink);
        case Obstacle::file:
            throw OstrakError(message::notDirectory);
        case Obstacle::missing:
            break;
    }
    throw std::system_error(error, std::generic_category());
}

VerifiedDirectory VerifiedDirectory::makeChild(std::string_view name, mode_t mode) const {
    const std::string text = nameText(name);
    if (::mkdirat(m_fd.get(), text.c_str(), mode) != 0 && errno != EEXIST) {
        throw std::system_error(errno, std::generic_category());
    }
    return child(name);  // made by us or by someone faster: checked the same way
}

std::optional<VerifiedDirectory> VerifiedDirectory::parent(
    const struct stat& expected) const noexcept {
    UniqueFd fd(::openat(m_fd.get(), "..", levelFlags));
    struct stat status;
    if (!fd || ::fstat(fd.get(), &status) != 0 || status.st_dev != expected.st_dev ||
        status.st_ino != expected.st_ino) {
        return std::nullopt;
    }
    return VerifiedDirectory(std::move(fd));
}

UniqueFd VerifiedDirectory::open(std::string_view name, int flags, mode_t mode) const {
    const std::string text = nameText(name);
    return UniqueFd(::openat(m_fd.get(), text.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
}

bool VerifiedDirectory::statEntry(std::string_view name, struct stat& status) const {
    const std::string text = nameText(name);
    return ::fstatat(m_fd.get(), text.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

UniqueFd VerifiedDirectory::openForReading() const noexcept {
    return UniqueFd(::openat(m_fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

void VerifiedDirectory::sync() const noexcept {
    if (UniqueFd fd = openForReading()) ::fsync(fd.get());
}

}  // namespace ostrak::files
