// Linked with -Wl,--wrap=fsync so the test sees which descriptors a write flushes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"

extern "C" int __real_fsync(int descriptor);

namespace {

struct Flushed {
    dev_t device;
    ino_t inode;
    bool directory;
};
std::vector<Flushed> flushed;

}  // namespace

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
TEST(Durability, FlushesTheFileThenItsDirectory) {
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

}  // namespace
}  // namespace ostrak
