#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ostrak/safe_files.hpp"
#include "ostrak/timestamp.hpp"
#include "ostrak/uuid.hpp"

namespace ostrak {

// What a running service last said about itself: "system/state/heartbeat.json".
struct ServiceHeartbeat {
    Uuid stationID;
    Timestamp timestamp;
    std::int32_t pid = 0;
    std::int64_t indexed = 0, skipped = 0;
    std::optional<std::string> issue;

    // Fresh when its age at `at` is at least -5 and under 20 seconds.
    bool isFresh(Timestamp at) const;
};

template <>
struct JsonCodec<ServiceHeartbeat> {
    static ServiceHeartbeat decode(const Bytes& json);
    static Bytes encode(const ServiceHeartbeat& heartbeat);
};

// Holds the exclusive flock on "system/state/service.lock" for as long as it lives, so at most
// one service works on a workstation. Constructing opens (creating it with mode 0600, never
// through a link) and locks without waiting, or throws with no descriptor left open. The
// destructor unlocks and closes once; the kernel also drops the lock when the process dies.
// A lock on a file that no longer has the name (removed or replaced before or after the lock
// was taken) locks nothing another service would see: the constructor retries on the file that
// has the name, and isCurrent() tells a holder that its file lost the name since.
class ServiceLock {
public:
    explicit ServiceLock(const Path& lockFile);
    ~ServiceLock();
    ServiceLock(const ServiceLock&) = delete;
    ServiceLock& operator=(const ServiceLock&) = delete;

    int descriptor() const noexcept { return m_descriptor; }
    // Whether the lock file's path still names the locked file.
    bool isCurrent() const;

private:
    Path m_lockFile;
    int m_descriptor = -1;
};

}  // namespace ostrak
