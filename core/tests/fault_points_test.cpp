// Every system call a write makes, failed in turn: linked with -Wl,--wrap for the calls of the
// guarded layer, the n-th of them fails with EIO, then with ENOSPC, for n = 1, 2, ... until an
// operation completes without reaching a fault. Each faulted run must report the failure or
// have done the whole write, leave the target with its old bytes or its whole new ones, and
// leave no temporary file; the run after the last fault point succeeds.
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <nlohmann/json.hpp>

#include "testing.hpp"

namespace {

long callsBeforeFault = -1;  // negative: no fault
int faultError = EIO;
bool faultReached = false;

// True when this call is the one to fail (errno is set then).
bool failsNow() {
    if (callsBeforeFault < 0) return false;
    if (callsBeforeFault-- > 0) return false;
    faultReached = true;
    errno = faultError;
    return true;
}

}  // namespace

extern "C" int __real_openat(int folder, const char* name, int flags, ...);
extern "C" int __wrap_openat(int folder, const char* name, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return failsNow() ? -1 : __real_openat(folder, name, flags, mode);
}

// The real call unless this is the one to fail.
#define FAULTY(result, call, parameters, arguments)       \
    extern "C" result __real_##call parameters;           \
    extern "C" result __wrap_##call parameters {          \
        return failsNow() ? -1 : __real_##call arguments; \
    }

FAULTY(ssize_t, write, (int fd, const void* data, size_t length), (fd, data, length))
FAULTY(int, fsync, (int fd), (fd))
FAULTY(int, renameat, (int from, const char* old, int to, const char* name), (from, old, to, name))
FAULTY(int, renameat2, (int from, const char* old, int to, const char* name, unsigned flags),
       (from, old, to, name, flags))
FAULTY(int, linkat, (int from, const char* old, int to, const char* name, int flags),
       (from, old, to, name, flags))
FAULTY(int, unlinkat, (int folder, const char* name, int flags), (folder, name, flags))
FAULTY(int, mkdirat, (int folder, const char* name, mode_t mode), (folder, name, mode))
FAULTY(int, fchmod, (int fd, mode_t mode), (fd, mode))

namespace {

// Temporary files anywhere below `folder`.
std::vector<Path> leftovers(const Path& folder) {
    std::vector<Path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename().native().starts_with(".ostrak-")) found.push_back(entry.path());
    }
    return found;
}

// One write operation of the core: what it writes, how to run it, and whether the file it
// wrote is whole (the old bytes are the other acceptable state).
struct Operation {
    const char* name;
    std::function<Path(Station&)> target;
    std::function<void(Station&)> run;
    std::function<bool(Station&, const Path&)> isWholeNew;
};

bool parses(const Path& file) {
    return nlohmann::json::accept(readFile(file));
}

const Operation operations[] = {
    {"writeNote", [](Station& s) { return s.knowledge / "notes"; },
     [](Station& s) { s.workspace.writeNote("标题", std::string(100000, 'n')); },
     [](Station&, const Path& notes) {
         int whole = 0;
         for (const auto& name : entries(notes)) {
             if (name == "old.md") continue;
             if (readFile(notes / name) != "# 标题\n\n" + std::string(100000, 'n') + "\n")
                 return false;
             ++whole;
         }
         return whole == 1;
     }},
    {"rebuildIndex", [](Station& s) { return s.indexFile; },
     [](Station& s) {
         s.put("notes/new.md", std::string(200000, 'i'));
         s.workspace.rebuildIndex();
     },
     [](Station& s, const Path&) { return s.workspace.loadIndex().documents.size() == 2; }},
    {"saveHeartbeat", [](Station& s) { return s.heartbeatFile; },
     [](Station& s) {
         s.workspace.saveHeartbeat(
             {s.workspace.configuration().id, Timestamp{7}, 7, 7, 7, std::nullopt});
     },
     [](Station& s, const Path&) { return s.heartbeat() && s.heartbeat()->pid == 7; }},
    // A failed creation may leave empty folders, which a new try takes; never an identity
    // without the folders that make it a workstation to open.
    {"create", [](Station& s) { return s.dir / "second/station.json"; },
     [](Station& s) { Workspace::create(s.dir / "second", "第二站"); },
     [](Station&, const Path& identity) {
         return Workspace::open(identity.parent_path()).configuration().name == "第二站";
     }},
    {"rename", [](Station& s) { return s.workspace.root() / "station.json"; },
     [](Station& s) { s.workspace.rename("新名字"); },
     [](Station& s, const Path&) {
         return Workspace::open(s.workspace.root()).configuration().name == "新名字";
     }},
    {"Installation::save",
     [](Station&) { return Installation::supportDirectory() / "installation.json"; },
     [](Station& s) { Installation::save(s.workspace); },
     [](Station& s, const Path&) {
         return Installation::load().configuration().id == s.workspace.configuration().id;
     }},
    {"exportDiagnostics", [](Station& s) { return s.dir / "report.json"; },
     [](Station& s) { s.workspace.exportDiagnostics(s.dir / "report.json"); },
     [](Station&, const Path& report) { return parses(report); }},
};

// The state of a target before the operation: a file's bytes, or a folder's names.
std::string snapshot(const Path& target) {
    if (!fs::exists(target)) return "(none)";
    if (!fs::is_directory(target)) return readFile(target);
    std::string names;
    for (const auto& name : entries(target)) names += name + "\n";
    return names;
}

}  // namespace

TEST(FaultPoints, EveryFailedCallIsReportedAndLeavesOldOrWholeNewFiles) {
    TempHome home;
    int runs = 0;
    for (const auto& operation : operations) {
        for (const int error : {EIO, ENOSPC}) {
            for (long point = 0;; ++point) {
                Station station;
                writeFile(station.knowledge / "notes/old.md", "old");
                const Path target = operation.target(station);
                const std::string before = snapshot(target);
                faultError = error;
                faultReached = false;
                callsBeforeFault = point;
                // A platform failure passes through as std::system_error: reported too.
                std::string message = noError;
                try {
                    operation.run(station);
                } catch (const std::exception& failure) {
                    message = failure.what();
                }
                callsBeforeFault = -1;
                const bool reached = faultReached;
                SCOPED_TRACE(std::string(operation.name) + " fault at call " +
                             std::to_string(point + 1) + ", errno " + std::to_string(error));
                EXPECT_EQ(leftovers(home.path()), std::vector<Path>{});
                EXPECT_EQ(leftovers(station.dir.path()), std::vector<Path>{});
                const bool unchanged = snapshot(target) == before;
                bool whole = false;
                try {
                    whole = operation.isWholeNew(station, target);
                } catch (...) {
                }
                if (message == noError) {
                    EXPECT_TRUE(whole) << "success reported, but the new file is not whole";
                } else {
                    EXPECT_TRUE(unchanged || whole) << message;
                }
                if (!reached) {
                    EXPECT_EQ(message, noError);  // past the last call: the operation works
                    EXPECT_TRUE(whole);
                    break;
                }
                ++runs;
            }
        }
    }
    EXPECT_GT(runs, 50);
    std::printf("fault points: %d faulted runs over %zu operations\n", runs, std::size(operations));
}
