#include "ostrak/installation.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "files/bounded_write.hpp"
#include "files/paths.hpp"
#include "json/json_reading.hpp"
#include "json/json_writer.hpp"
#include "messages.hpp"
#include "ostrak/error.hpp"
#include "ostrak/safe_files.hpp"
#include "ostrak/workspace.hpp"
#include "station/pointer.hpp"

namespace ostrak {

namespace {

constexpr std::int64_t pointerReadLimit = 8192;

// The record behind "installation.json".
struct Pointer {
    std::string root;
    Uuid stationID;
};

Path absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return Path(value);
}

Path pointerFile() {
    return Installation::supportDirectory() / "installation.json";
}

}  // namespace

template <>
struct JsonCodec<Pointer> {
    static Pointer decode(const Bytes& bytes) {
        const auto object = json::parseObject(bytes);
        return {json::stringMember(object, "root"), json::uuidMember(object, "stationID")};
    }
    static Bytes encode(const Pointer& pointer) {
        JsonWriter writer;
        writer.beginObject()
            .key("root")
            .string(pointer.root)
            .key("stationID")
            .string(pointer.stationID.text())
            .endObject();
        return writer.take();
    }
};

namespace Installation {

Path homeDirectory() {
    if (Path home = absoluteFromEnvironment("HOME"); !home.empty()) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        return Path(found->pw_dir);
    }
    return {};
}

Path supportDirectory() {
    Path data = absoluteFromEnvironment("XDG_DATA_HOME");
    if (data.empty()) data = homeDirectory() / ".local" / "share";
    return data / "PlovikWorkstation";
}

bool hasSavedWorkspace() {
    struct stat status;
    return ::stat(pointerFile().c_str(), &status) == 0;
}

bool pointerFits(const Path& root) {
    const Pointer pointer{root.native(), Uuid{}};
    return static_cast<std::int64_t>(JsonCodec<Pointer>::encode(pointer).size()) <=
           pointerReadLimit;
}

void save(const Workspace& workspace) {
    const Pointer pointer{workspace.root().native(), workspace.configuration().id};
    SafeFiles::directory(supportDirectory());
    SafeFiles::writeWithinLimit(pointer, pointerFile(), false, pointerReadLimit,
                                message::pathNotUsable);
}

void refuseReplacingMissing(const Path& location) {
    if (!hasSavedWorkspace()) return;
    Path saved;
    try {
        saved = savedRoot();
    } catch (const OstrakError&) {
        return;  // no pointer to keep
    }
    if (paths::standardized(location) != saved || !paths::isMissing(saved)) return;
    throw OstrakError(message::workstationMissing(saved.native()));
}

Path savedRoot() {
    return Path(SafeFiles::read<Pointer>(pointerFile(), pointerReadLimit).root);
}

Workspace load() {
    const auto pointer = SafeFiles::read<Pointer>(pointerFile(), pointerReadLimit);
    Workspace workspace = Workspace::open(Path(pointer.root));
    if (workspace.configuration().id != pointer.stationID) {
        throw OstrakError(message::identityChanged);
    }
    return workspace;
}

}  // namespace Installation
}  // namespace ostrak
