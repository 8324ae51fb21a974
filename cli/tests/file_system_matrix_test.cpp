// plovik and the service on the file systems people keep data on, each mounted as its users
// mount it: scripts/test mounts them (as root, before it drops to the test user) in the folder
// OSTRAK_TEST_DISKS, one folder per row, or leaves NAME.skipped saying why it could not.
#include <sys/stat.h>

#include <filesystem>

#include "testing.hpp"

namespace {

using ostrak::testing::Finished;

const std::string plovik = OSTRAK_PLOVIK_PROGRAM;
const std::string service = OSTRAK_SERVICE_PROGRAM;
const std::string readOnly = "工作站所在的磁盘是只读的，无法写入。";
const std::string notPrivate =
    "该位置的文件系统无法保证只有你能访问（例如 FAT、exFAT 或以 umask=022 挂载的 NTFS）。请选择 "
    "ext4、btrfs、xfs，或以 umask=077 挂载的 NTFS 上的目录。";
const std::string notWritable = "目标目录不可写或不属于当前用户。";

struct Row {
    std::string disk;
    std::string refusal;  // empty: everything works
};

// Everything under `root` that another account could read, or a temporary file left behind.
std::vector<std::string> exposedOrLeftOver(const Path& root) {
    std::vector<std::string> found;
    struct stat status;
    if (::lstat(root.c_str(), &status) != 0 || (status.st_mode & 077) != 0)
        found.push_back(root.native());
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const bool exposed =
            ::lstat(entry.path().c_str(), &status) != 0 || (status.st_mode & 077) != 0;
        if (exposed || entry.path().filename().native().starts_with(".ostrak-"))
            found.push_back(entry.path().native());
    }
    return found;
}

Finished plovikRuns(const std::vector<std::string>& arguments, const std::string& input = {}) {
    return runToEnd(plovik, arguments, 120s, input);
}

// Create, save a note, find it, rename, one pass of the service: all succeed, every file stays
// private and no temporary file is left.
void expectEverythingWorks(const Path& root) {
    const Finished created = plovikRuns({"create", "盘上站", "--at", root.native()});
    ASSERT_EQ(created.status, 0) << created.standardError;
    const Finished saved = plovikRuns({"note", "add", "--title", "盘上笔记"}, "正文 <b> & 更多\n");
    EXPECT_EQ(saved.status, 0) << saved.standardError;
    EXPECT_NE(plovikRuns({"search", "更多"}).standardOutput.find("盘上笔记\t" + root.native()),
              std::string::npos);
    EXPECT_EQ(plovikRuns({"rename", "新名字"}).status, 0);
    EXPECT_EQ(Workspace::open(root).configuration().name, "新名字");
    const Finished pass = runToEnd(service, {"--root", root.native(), "--once"});
    EXPECT_EQ(pass.status, 0) << pass.standardError;
    EXPECT_EQ(exposedOrLeftOver(root), std::vector<std::string>{});
}

// Create is refused with `refusal`: the disk holds what it held before and no pointer is saved.
void expectRefusal(const Path& disk, const Path& root, const std::string& refusal) {
    const auto before = entries(disk);
    const Finished created = plovikRuns({"create", "盘上站", "--at", root.native()});
    EXPECT_EQ(created.status, 1);
    EXPECT_EQ(created.standardError, refusal + "\n");
    EXPECT_EQ(created.standardOutput, "");
    EXPECT_EQ(entries(disk), before);
    EXPECT_FALSE(Installation::hasSavedWorkspace());
}

}  // namespace

TEST(FileSystems, EachWorksOrRefusesWithItsCauseAndLeavesNothing) {
    const auto disks = environmentValue("OSTRAK_TEST_DISKS");
    if (disks.empty()) {
        if (environmentValue("CI") == "true") FAIL() << "scripts/test must mount the test disks";
        GTEST_SKIP() << "no test disks (scripts/test mounts them when run as root)";
    }
    const std::vector<Row> rows{
        {"ext4", {}},
        {"xfs", {}},
        {"btrfs", {}},
        // No RENAME_NOREPLACE through ntfs-3g: every publish takes the link-and-unlink way.
        {"ntfs-umask077", {}},
        {"ntfs-umask022", notPrivate},
        {"vfat", notPrivate},
        // No modes and no hard links.
        {"exfat", notPrivate},
        {"ext4-readonly", readOnly},
        {"ext4-root-owned", notWritable},
    };
    std::vector<std::string> skipped;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.disk);
        const Path disk = Path(disks) / row.disk;
        if (!fs::is_directory(disk)) {
            skipped.push_back(row.disk + ": " + readFile(Path(disks) / (row.disk + ".skipped")));
            continue;
        }
        TempHome home;
        const Path root = disk / "station";
        if (row.refusal.empty()) {
            expectEverythingWorks(root);
            fs::remove_all(root);
        } else {
            expectRefusal(disk, root, row.refusal);
        }
    }
    EXPECT_LT(skipped.size(), rows.size()) << "no disk could be mounted";
    for (const auto& reason : skipped) std::cout << "[ SKIPPED  ] " << reason;
}
