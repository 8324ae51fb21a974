#include "ostrak/heartbeat.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "files/bounded_write.hpp"
#include "files/located.hpp"
#include "files/unique_fd.hpp"
#include "json/json_reading.hpp"
#include "json/json_writer.hpp"
#include "messages.hpp"
#include "ostrak/workspace.hpp"
#include "station/layout.hpp"

namespace ostrak {

namespace {
constexpr std::int64_t heartbeatReadLimit = 4096;
Path stateFile(const Workspace& workspace, const char* name) {
    return layout::stateFolder(workspace.root()) / name;
}
}  // namespace

bool ServiceHeartbeat::isFresh(Timestamp at) const {
    const double age = at.seconds - timestamp.seconds;
    return age >= -5 && age < 20;
}

ServiceHeartbeat JsonCodec<ServiceHeartbeat>::decode(const Bytes& bytes) {
    const auto object = json::parseObject(bytes);
    ServiceHeartbeat heartbeat{
        .stationID = json::uuidMember(object, "stationID"),
        .timestamp = json::timestampMember(object, "timestamp"),
        .pid = json::integerMember<std::int32_t>(object, "pid"),
        .indexed = json::integerMember<std::int64_t>(object, "indexed"),
        .skipped = json::integerMember<std::int64_t>(object, "skipped"),
        .issue = std::nullopt,
    };
    if (const auto issue = object.find("issue"); issue != object.end() && !issue->is_null()) {
        heartbeat.issue = json::stringMember(object, "issue");
    }
    return heartbeat;
}

Bytes JsonCodec<ServiceHeartbeat>::encode(const ServiceHeartbeat& heartbeat) {
    JsonWriter writer;
    writer.beginObject().key("indexed").integer(heartbeat.indexed);
    if (heartbeat.issue) writer.key("issue").string(*heartbeat.issue);
    writer.key("pid").integer(heartbeat.pid);
    writer.key("skipped").integer(heartbeat.skipped);
    writer.key("stationID").string(heartbeat.stationID.text());
    writer.key("timestamp").number(heartbeat.timestamp.seconds);
    writer.endObject();
    return writer.take();
}

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the name in `located` is, right now, the file open as `descriptor`.
bool namesFile(const SafeFiles::Located& located, int descriptor) {
    struct stat opened, named;
    return ::fstat(descriptor, &opened) == 0 && located.folder.statEntry(located.name, named) &&
           sameFile(opened, named);
}

}  // namespace

ServiceLock::ServiceLock(const Path& lockFile) : m_lockFile(lockFile) {
    const auto located = SafeFiles::locate(lockFile);
    if (!located) throw OstrakError(message::lockUnopenable);
    // Another holder may remove the name between this open and the flock; a few tries take the
    // file that has the name then.
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueFd fd = located->folder.open(located->name, O_RDWR | O_CREAT | O_NONBLOCK, 0600);
        struct stat status;
        if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_uid != ::getuid()) {
            throw OstrakError(message::lockUnopenable);
        }
        // Only a lock held elsewhere is "already running"; any other failure is a lock not taken.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            throw OstrakError(errno == EWOULDBLOCK ? message::lockHeld : message::lockUnopenable);
        }
        if (namesFile(*located, fd.get())) {
            m_descriptor = fd.release();
            return;
        }
    }
    throw OstrakError(message::lockUnopenable);
}

bool ServiceLock::isCurrent() const {
    try {
        const auto located = SafeFiles::locate(m_lockFile);
        return located && namesFile(*located, m_descriptor);
    } catch (...) {
        return false;  // the folder or the name became a link, or cannot be checked
    }
}

ServiceLock::~ServiceLock() {
    ::flock(m_descriptor, LOCK_UN);
    ::close(m_descriptor);
}

std::unique_ptr<ServiceLock> Workspace::acquireServiceLock() const {
    return std::make_unique<ServiceLock>(stateFile(*this, "service.lock"));
}

void Workspace::saveHeartbeat(const ServiceHeartbeat& heartbeat) const {
    if (!std::isfinite(heartbeat.timestamp.seconds)) throw OstrakError(message::stateUnwritable);
    // Published unflushed: it is rewritten every five seconds, and after a crash a stale or
    // missing heartbeat is the truth, which its readers already judge by its age.
    SafeFiles::writeWithinLimit(heartbeat, stateFile(*this, "heartbeat.json"), false,
                                heartbeatReadLimit, message::stateUnwritable,
                                SafeFiles::Flush::never);
}

ServiceHeartbeat Workspace::heartbeat() const {
    auto heartbeat =
        SafeFiles::read<ServiceHeartbeat>(stateFile(*this, "heartbeat.json"), heartbeatReadLimit);
    if (heartbeat.stationID != m_configuration.id) {
        throw OstrakError(message::heartbeatOtherStation);
    }
    return heartbeat;
}

}  // namespace ostrak
