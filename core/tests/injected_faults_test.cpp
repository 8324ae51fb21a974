// Faults the real system rarely shows on demand, injected at the C library: linked with
// -Wl,--wrap=fsync (which descriptors a write flushes) and -Wl,--wrap=readdir (a listing that
// fails halfway, as a network file system can).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

#include <dirent.h>

#include <cerrno>

extern "C" int __real_fsync(int descriptor);
extern "C" dirent* __real_readdir(DIR* directory);

namespace {

struct Flushed {
    dev_t device;
    ino_t inode;
    bool directory;
};
std::vector<Flushed> flushed;
int readdirCallsBeforeFailure = -1;  // negative: never fail

}  // namespace

extern "C" dirent* __wrap_readdir(DIR* directory) {
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
        flushed.push_back({status.st_dev, status.st_ino, S_ISDIR(status.st_mode)});
    }
    return __real_fsync(descriptor);
}

namespace ostrak {
namespace {

// After the file's data is flushed and the new name published, the directory holding the name
// is flushed too, so the saved file survives a power loss.
TEST(InjectedFaults, FlushesTheFileThenItsDirectory) {
    for (const bool exclusive : {true, false}) {
        testing::TempDir dir;
        flushed.clear();
        SafeFiles::writeData("content", dir / "file", exclusive);
        struct stat file {
        }, directory{};
        ::stat((dir / "file").c_str(), &file);
        ::stat(dir.path().c_str(), &directory);
        ASSERT_EQ(flushed.size(), 2u);
        EXPECT_EQ(flushed[0].inode, file.st_ino);
        EXPECT_FALSE(flushed[0].directory);
        EXPECT_EQ(flushed[1].inode, directory.st_ino);
        EXPECT_TRUE(flushed[1].directory);
    }
}

// A listing that fails halfway is not the end of the folder: the rebuild publishes nothing and
// says so, and a half-listed location is not taken for empty.
TEST(InjectedFaults, AListingThatFailsHalfwayIsAFailure) {
    testing::TempHome home;
    testing::TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "站");
    for (int i = 0; i < 5; ++i) workspace.writeNote("笔记" + std::to_string(i), "内容");
    workspace.rebuildIndex();
    const std::string stored =
        testing::readFile(workspace.root() / "system/indexes/knowledge.json");
    workspace.writeNote("新笔记", "内容");

    for (const int calls : {0, 3}) {
        readdirCallsBeforeFailure = calls;
        const std::string message = messageOf([&] { workspace.rebuildIndex(); });
        readdirCallsBeforeFailure = -1;
        EXPECT_TRUE(message == "知识库目录无法读取。" ||
                    message == "部分知识目录无法读取，索引未更新。")
            << message;
        EXPECT_EQ(testing::readFile(workspace.root() / "system/indexes/knowledge.json"), stored);
    }

    std::filesystem::create_directory(dir / "occupied");  // empty, but the listing fails
    readdirCallsBeforeFailure = 0;
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "occupied", "站"); }),
              "该目录已有资料。请打开已有工作站，或选择一个空目录。");
    readdirCallsBeforeFailure = -1;
    EXPECT_FALSE(std::filesystem::exists(dir / "occupied/station.json"));
}

}  // namespace
}  // namespace ostrak
