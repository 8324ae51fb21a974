// Faults and races the real system rarely shows on demand, injected at the C library: linked
// with -Wl,--wrap for fsync (which descriptors a write flushes; a link planted right after),
// fstat (a file that grows after it was measured), readdir (a listing that fails halfway, as a
// network file system can; a folder moved while it is listed) and uuid_generate_random (a
// temporary name known in advance).
//
// Then every system call a write makes, failed in turn: the n-th call of the guarded layer
// (openat, write, fsync, renames, links, unlinks, mkdirat, fchmod) fails with EIO, then with
// ENOSPC, for n = 1, 2, ... until an operation completes without reaching a fault. Each faulted
// run must report the failure or have done the whole write, leave the target with its old
// bytes or its whole new ones, and leave no temporary file; the run after the last fault point
// succeeds. The service's pass is one of those operations: a fault must show in its heartbeat.
#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <nlohmann/json.hpp>

#include "agent.hpp"
#include "testing.hpp"

extern "C" int __real_fsync(int descriptor);
extern "C" int __real_fstat(int descriptor, struct stat* status);
extern "C" dirent* __real_readdir(DIR* directory);
extern "C" void __real_uuid_generate_random(unsigned char* out);

namespace {

std::vector<std::pair<ino_t, bool>> flushed;  // inode, and whether it is a directory
int readdirCallsBeforeFailure = -1;           // negative: never fail
std::function<void(DIR*)> onReaddir;          // sees every listing step while set
bool predictableUuids = false;                // every new UUID is 11111111-...
std::function<void()> afterFileFlush;         // runs once, after the next fsync of a file
bool understateSizes = false;                 // fstat reports regular files as one byte long

bool readOnly = false;           // every call that would change the disk fails with EROFS
bool modesIgnored = false;       // new files 0644, folders 0755, fchmod changes nothing (umask=022)
bool noLinks = false;            // neither RENAME_NOREPLACE nor hard links (exFAT)
bool noExclusiveRename = false;  // hard links, but no RENAME_NOREPLACE (some FUSE file systems)
int unlinkFailures = 0;          // how many of the next unlinkat calls fail with EIO
long callsBeforeFault = -1;      // negative: no fault
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

extern "C" void __wrap_uuid_generate_random(unsigned char* out) {
    if (!predictableUuids) return __real_uuid_generate_random(out);
    for (int i = 0; i < 16; ++i) out[i] = 0x11;
}

extern "C" dirent* __wrap_readdir(DIR* directory) {
    if (onReaddir) onReaddir(directory);
    if (readdirCallsBeforeFailure == 0) {
        errno = EIO;
        return nullptr;
    }
    if (readdirCallsBeforeFailure > 0) --readdirCallsBeforeFailure;
    return __real_readdir(directory);
}

extern "C" int __wrap_fsync(int descriptor) {
    if (failsNow()) return -1;
    struct stat status {};
    if (::fstat(descriptor, &status) == 0) {
        flushed.emplace_back(status.st_ino, S_ISDIR(status.st_mode));
    }
    const int result = __real_fsync(descriptor);
    if (afterFileFlush && S_ISREG(status.st_mode)) std::exchange(afterFileFlush, nullptr)();
    return result;
}

extern "C" int __wrap_fstat(int descriptor, struct stat* status) {
    const int result = __real_fstat(descriptor, status);
    if (result == 0 && understateSizes && S_ISREG(status->st_mode)) status->st_size = 1;
    return result;
}

// After the file's data is flushed and the new name published, the directory holding the name
// is flushed too, so the saved file survives a power loss.
class InjectedFaults : public ::testing::Test, protected Station {};

TEST_F(InjectedFaults, FlushesTheFileThenItsDirectory) {
    for (const bool exclusive : {true, false}) {
        flushed.clear();
        SafeFiles::writeData("content", dir / (exclusive ? "a" : "b"), exclusive);
        struct stat data {
        }, directory{};
        ::stat((dir / (exclusive ? "a" : "b")).c_str(), &data);
        ::stat(dir.path().c_str(), &directory);
        EXPECT_EQ(flushed, (std::vector<std::pair<ino_t, bool>>{{data.st_ino, false},
                                                                {directory.st_ino, true}}));
    }
    // Only the heartbeat, a liveness signal rewritten every five seconds, is not flushed.
    flushed.clear();
    workspace.saveHeartbeat({workspace.configuration().id, Timestamp::now(), 1, 0, 0, {}});
    EXPECT_EQ(flushed, (std::vector<std::pair<ino_t, bool>>{}));
    workspace.rename("新名字");
    EXPECT_EQ(flushed.size(), 2u);
}

// A listing that fails halfway is not the end of the folder: the rebuild publishes nothing and
// says so, and a half-listed location is not taken for empty.
TEST_F(InjectedFaults, AListingThatFailsHalfwayIsAFailure) {
    for (int i = 0; i < 5; ++i) workspace.writeNote("笔记" + std::to_string(i), "内容");
    workspace.rebuildIndex();
    const std::string stored = readFile(workspace.root() / "system/indexes/knowledge.json");
    workspace.writeNote("新笔记", "内容");

    for (const int calls : {0, 3}) {
        readdirCallsBeforeFailure = calls;
        const std::string message = messageOf([&] { workspace.rebuildIndex(); });
        readdirCallsBeforeFailure = -1;
        EXPECT_TRUE(message == "知识库目录无法读取。" || message == expected::partlyUnreadable)
            << message;
        EXPECT_EQ(readFile(workspace.root() / "system/indexes/knowledge.json"), stored);
    }

    fs::create_directory(dir / "occupied");  // empty, but the listing fails
    readdirCallsBeforeFailure = 0;
    EXPECT_MESSAGE(expected::occupied, Workspace::create(dir / "occupied", "站"));
    readdirCallsBeforeFailure = -1;
    EXPECT_FALSE(fs::exists(dir / "occupied/station.json"));
}

// Someone who guesses the next temporary name and plants it, as a hard link to another file of
// the user, gets no write through it: the temporary file is created exclusively.
TEST_F(InjectedFaults, APlantedTemporaryNameIsNeverWrittenThrough) {
    writeFile(dir / "victim", "precious");
    predictableUuids = true;
    const std::string planted = ".ostrak-" + Uuid::random().text();
    fs::create_hard_link(dir / "victim", dir / planted);
    EXPECT_MESSAGE("无法创建临时文件。", SafeFiles::writeData("overwritten", dir / "data", false));
    predictableUuids = false;
    EXPECT_EQ(readFile(dir / "victim"), "precious");
    EXPECT_FALSE(fs::exists(dir / "data"));
}

// A link planted at the destination while the data is written is refused, not written over or
// through; a file that grew past the limit after it was measured is refused when read.
TEST_F(InjectedFaults, ChangesBetweenCheckAndUseAreCaught) {
    writeFile(dir / "elsewhere", "keep");
    afterFileFlush = [&] { fs::create_symlink(dir / "elsewhere", dir / "data"); };
    EXPECT_MESSAGE(expected::link, SafeFiles::writeData("new", dir / "data", false));
    afterFileFlush = nullptr;
    EXPECT_TRUE(fs::is_symlink(dir / "data"));
    EXPECT_EQ(readFile(dir / "elsewhere"), "keep");

    writeFile(dir / "grown", std::string(11, 'x'));
    understateSizes = true;  // as if measured before it grew
    EXPECT_MESSAGE("文件超过读取限制。", SafeFiles::readData(dir / "grown", 10));
    understateSizes = false;
}

// A folder moved away while the walk is inside it: coming back up through ".." must not land
// in the folder it was moved to and read that folder's files under the old names.
TEST_F(InjectedFaults, AFolderMovedMidWalkIsNotMistakenForItsParent) {
    const Path inbox = workspace.knowledgeURL() / "inbox";
    fs::create_directories(inbox / "deep");
    writeFile(inbox / "deep/a.md", "deep");
    writeFile(inbox / "z.md", "inbox note");
    fs::create_directories(dir / "outside");
    writeFile(dir / "outside/z.md", "secret outside");
    // Around the outside folder the names go on as in the knowledge folder, so a walk that
    // took it for the inbox would finish without noticing anything.
    fs::create_directories(dir / "notes");
    // While the walk lists "deep", "deep" moves into the outside folder.
    struct stat deep {};
    ASSERT_EQ(::stat((inbox / "deep").c_str(), &deep), 0);
    bool moved = false;
    onReaddir = [&](DIR* listed) {
        struct stat status {};
        if (moved || ::fstat(::dirfd(listed), &status) != 0 || status.st_ino != deep.st_ino) return;
        moved = true;
        fs::rename(inbox / "deep", dir / "outside/deep");
    };
    const std::string message = messageOf([&] {
        for (const auto& document : workspace.rebuildIndex().documents) {
            EXPECT_EQ(document.text.find("secret"), std::string::npos) << document.relativePath;
        }
    });
    onReaddir = nullptr;
    EXPECT_TRUE(moved);
    EXPECT_EQ(message, expected::partlyUnreadable);
}

extern "C" int __real_openat(int folder, const char* name, int flags, ...);
extern "C" int __wrap_openat(int folder, const char* name, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if (readOnly && (flags & (O_CREAT | O_WRONLY | O_RDWR)) != 0) {
        errno = EROFS;
        return -1;
    }
    return failsNow() ? -1 : __real_openat(folder, name, flags, modesIgnored ? 0644 : mode);
}

// The real call unless this is the one to fail, or the disk is read-only (each of these
// calls changes it).
#define FAULTY(result, call, parameters, arguments)       \
    extern "C" result __real_##call parameters;           \
    extern "C" result __wrap_##call parameters {          \
        if (readOnly) {                                   \
            errno = EROFS;                                \
            return -1;                                    \
        }                                                 \
        return failsNow() ? -1 : __real_##call arguments; \
    }

FAULTY(ssize_t, write, (int fd, const void* data, size_t length), (fd, data, length))
FAULTY(int, renameat, (int from, const char* old, int to, const char* name), (from, old, to, name))
// Without links, as exFAT: the kernel refuses RENAME_NOREPLACE, and a link is not permitted.
#define WITHOUT_LINKS(call, error, parameters, arguments)                    \
    extern "C" int __real_##call parameters;                                 \
    extern "C" int __wrap_##call parameters {                                \
        if (readOnly || noLinks || (noExclusiveRename && error == EINVAL)) { \
            errno = readOnly ? EROFS : error;                                \
            return -1;                                                       \
        }                                                                    \
        return failsNow() ? -1 : __real_##call arguments;                    \
    }
WITHOUT_LINKS(renameat2, EINVAL,
              (int from, const char* old, int to, const char* name, unsigned flags),
              (from, old, to, name, flags))
WITHOUT_LINKS(linkat, EPERM, (int from, const char* old, int to, const char* name, int flags),
              (from, old, to, name, flags))
extern "C" int __real_unlinkat(int folder, const char* name, int flags);
extern "C" int __wrap_unlinkat(int folder, const char* name, int flags) {
    if (readOnly || unlinkFailures > 0) {
        if (!readOnly) --unlinkFailures;
        errno = readOnly ? EROFS : EIO;
        return -1;
    }
    return failsNow() ? -1 : __real_unlinkat(folder, name, flags);
}
FAULTY(int, mkdirat, (int folder, const char* name, mode_t mode),
       (folder, name, modesIgnored ? 0755 : mode))
FAULTY(int, fchmod, (int fd, mode_t mode), (fd, modesIgnored ? 0755 : mode))

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

const Operation operations[] = {
    {"writeNote", [](Station& s) { return s.knowledge / "notes"; },
     [](Station& s) { s.workspace.writeNote("标题", std::string(100000, 'n')); },
     [](Station&, const Path& notes) {
         const auto names = entries(notes);
         return names.size() == 2 &&
                readFile(notes / names[0]) == "# 标题\n\n" + std::string(100000, 'n') + "\n";
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
     [](Station&, const Path& report) { return nlohmann::json::accept(readFile(report)); }},
    // The service's pass: the index, then a heartbeat that tells of a failed index.
    {"service pass", [](Station& s) { return s.indexFile; },
     [](Station& s) {
         s.put("notes/new.md", "new");
         const bool good = service::Agent(s.workspace).pass(true);
         callsBeforeFault = -1;  // the checks below read without faults
         const auto beat = s.heartbeat();
         if (good && (!beat || beat->issue || beat->indexed != 2))
             ADD_FAILURE() << "a good pass without its heartbeat";
         if (!good && beat && !beat->issue) ADD_FAILURE() << "a failed pass with a clean heartbeat";
         if (!good) throw std::runtime_error("pass failed");
     },
     [](Station& s, const Path&) { return s.workspace.loadIndex().documents.size() == 2; }},
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

// Where the file system cannot keep files private (modes ignored, as NTFS with umask=022) or
// has no way to publish without replacing (exFAT), a new workstation is refused with the
// file system named, and nothing of it stays behind.
TEST(FaultPoints, AFileSystemThatCannotKeepPrivateIsRefused) {
    TempHome home;
    TempDir dir;
    for (bool* condition : {&modesIgnored, &noLinks}) {
        for (const Path& location : {dir / "new/station", dir / "empty"}) {
            fs::create_directories(dir / "empty");
            *condition = true;
            const std::string message = messageOf([&] { Workspace::create(location, "站"); });
            *condition = false;
            EXPECT_EQ(message,
                      "该位置的文件系统无法保证只有你能访问（例如 FAT、exFAT 或以 "
                      "umask=022 挂载的 NTFS）。请选择 ext4、btrfs、xfs，或以 "
                      "umask=077 挂载的 NTFS 上的目录。")
                << location;
            EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"empty"});
            EXPECT_EQ(entries(dir / "empty"), std::vector<std::string>{});
        }
    }
}

// Without RENAME_NOREPLACE a new file is published by a link and the unlink of its temporary
// name; where that unlink fails, the new name goes too and the failure is reported, so that
// saving again makes no second note.
TEST(FaultPoints, WithoutExclusiveRenameNotesAreStillSavedOnce) {
    TempHome home;
    Station station;
    noExclusiveRename = true;
    station.workspace.writeNote("一", "正文");
    unlinkFailures = 1;
    const std::string message = messageOf([&] { station.workspace.writeNote("二", "正文"); });
    noExclusiveRename = false;
    EXPECT_EQ(message, "文件保存失败或目标已存在，原稿未覆盖。");
    EXPECT_EQ(entries(station.knowledge / "notes").size(), 1u);
}

// On a read-only disk every write says so, and changes nothing.
TEST(FaultPoints, AReadOnlyDiskIsNamed) {
    TempHome home;
    for (const auto& operation : operations) {
        if (std::string_view(operation.name) == "service pass") continue;  // its heartbeat's
        Station station;
        const Path target = operation.target(station);
        const std::string before = snapshot(target);
        std::string message = noError;
        readOnly = true;
        try {
            operation.run(station);
        } catch (const std::exception& failure) {
            message = describeFailure(failure);
        }
        readOnly = false;
        EXPECT_EQ(message, "工作站所在的磁盘是只读的，无法写入。") << operation.name;
        EXPECT_EQ(snapshot(target), before) << operation.name;
    }
}

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
                for (const Path& folder : {home.path(), station.dir.path()})
                    EXPECT_EQ(leftovers(folder), std::vector<Path>{});
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
