// Faults and races the real system rarely shows on demand, injected at the C library: linked
// with -Wl,--wrap for fsync (which descriptors a write flushes; a link planted right after),
// fstat (a file that grows after it was measured), readdir (a listing that fails halfway, as a
// network file system can; a folder moved while it is listed) and uuid_generate_random (a
// temporary name known in advance).
#include <dirent.h>

#include <cerrno>

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
