#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

using testing::entries;
using testing::modeOf;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string linkMessage = "数据路径不能经过符号链接，请选择真实目录。";

TEST(CheckAncestors, RefusesRelativePathsAndTheRoot) {
    for (const char* path : {"relative/dir", "", "/", "/tmp/.."}) {
        EXPECT_EQ(messageOf([&] { SafeFiles::checkAncestors(path); }),
                  "请选择用户目录中的数据位置。")
            << path;
    }
}

TEST(CheckAncestors, RefusesALinkAnywhereOnThePath) {
    TempDir dir;
    std::filesystem::create_directories(dir / "real/inner");
    std::filesystem::create_directory_symlink(dir / "real", dir / "linked");
    // A linked folder near the top, with a real directory below it.
    EXPECT_EQ(messageOf([&] { SafeFiles::checkAncestors(dir / "linked/inner"); }), linkMessage);
    EXPECT_EQ(messageOf([&] { SafeFiles::checkAncestors(dir / "linked/inner/new/deeper"); }),
              linkMessage);
    // The final component itself.
    EXPECT_EQ(messageOf([&] { SafeFiles::checkAncestors(dir / "linked"); }), linkMessage);
    // ".." is resolved textually, so climbing out of the link does not hide it.
    EXPECT_NO_THROW(SafeFiles::checkAncestors(dir / "linked/../real/inner"));
}

TEST(CheckAncestors, AcceptsMissingLaterComponents) {
    TempDir dir;
    EXPECT_NO_THROW(SafeFiles::checkAncestors(dir / "not/yet/there"));
}

TEST(CheckAncestors, ReportsAPathThatCannotBeExamined) {
    TempDir dir;
    writeFile(dir / "file", "x");
    EXPECT_EQ(messageOf([&] { SafeFiles::checkAncestors(dir / "file/below"); }),
              "无法检查数据路径的权限。");
}

TEST(Directory, CreatesMissingLevelsPrivately) {
    TempDir dir;
    SafeFiles::directory(dir / "a/b/c");
    for (const char* level : {"a", "a/b", "a/b/c"}) EXPECT_EQ(modeOf(dir / level), 0700u) << level;
    EXPECT_NO_THROW(SafeFiles::directory(dir / "a/b/c"));
}

TEST(Directory, RefusesAFileAndALink) {
    TempDir dir;
    writeFile(dir / "file", "x");
    EXPECT_EQ(messageOf([&] { SafeFiles::directory(dir / "file"); }), "所选位置不是目录。");
    std::filesystem::create_directory_symlink(dir.path(), dir / "link");
    EXPECT_EQ(messageOf([&] { SafeFiles::directory(dir / "link/new"); }), linkMessage);
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
}

TEST(PrivateRoot, RefusesGroupAccessWithoutChangingIt) {
    TempDir dir;
    std::filesystem::create_directory(dir / "root");
    ::chmod((dir / "root").c_str(), 0750);
    EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot(dir / "root", false); }),
              "工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。");
    EXPECT_EQ(modeOf(dir / "root"), 0750u);
    ::chmod((dir / "root").c_str(), 0701);  // others alone count too
    EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot(dir / "root", false); }),
              "工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。");
    SafeFiles::privateRoot(dir / "root", true);
    EXPECT_EQ(modeOf(dir / "root"), 0700u);
    EXPECT_NO_THROW(SafeFiles::privateRoot(dir / "root", false));
}

TEST(PrivateRoot, RefusesWhatIsNotTheUsersOwnDirectory) {
    TempDir dir;
    writeFile(dir / "file", "x");
    const std::string owned = "工作站数据目录必须属于当前系统用户。";
    EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot(dir / "file", true); }), owned);
    EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot(dir / "missing", true); }), owned);
    if (testing::runningAsRoot()) return;
    EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot("/usr", true); }), owned);
}

TEST(ReadData, HonoursTheLimitExactly) {
    TempDir dir;
    writeFile(dir / "file", std::string(100, 'x'));
    EXPECT_EQ(SafeFiles::readData(dir / "file", 100).size(), 100u);
    EXPECT_EQ(messageOf([&] { SafeFiles::readData(dir / "file", 99); }),
              "文件类型、归属或大小不符合工作站要求。");
    writeFile(dir / "empty", "");
    EXPECT_EQ(SafeFiles::readData(dir / "empty", 0), "");
}

TEST(ReadData, RefusesLinksDirectoriesAndMissingFiles) {
    TempDir dir;
    writeFile(dir / "file", "content");
    std::filesystem::create_symlink(dir / "file", dir / "link");
    const std::string unreadable = "文件无法读取，请检查目录和权限。";
    EXPECT_EQ(messageOf([&] { SafeFiles::readData(dir / "missing", 10); }), unreadable);
    EXPECT_EQ(messageOf([&] { SafeFiles::readData(dir / "link", 10); }), linkMessage);
    EXPECT_EQ(messageOf([&] { SafeFiles::readData(dir.path(), 10); }),
              "文件类型、归属或大小不符合工作站要求。");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    EXPECT_EQ(messageOf([&] { SafeFiles::readData(dir / "fifo", 10); }),
              "文件类型、归属或大小不符合工作站要求。");
}

TEST(ReadRecord, TurnsEveryDecodingProblemIntoTheFormatMessage) {
    TempDir dir;
    const std::string format = "工作站文件格式有误。原始资料已保留，请勿重新初始化。";
    const std::string valid = R"({"createdAt":1.5,"id":"6F2D5C1A-0000-4000-8000-000000000001",
        "name":"站","ownerID":"6F2D5C1A-0000-4000-8000-000000000002","schema":1})";
    for (const std::string& broken :
         {std::string(R"({"createdAt":1.5,"name":"站","schema":1})"), std::string("[]"),
          std::string("{"),
          std::string(R"({"createdAt":"x","id":"6F2D5C1A-0000-4000-8000-)"
                      R"(000000000001","name":"站","ownerID":"6F2D5C1A-)"
                      R"(0000-4000-8000-000000000002","schema":1})"),
          // An integer far outside any integer type is a format error, not a wrapped value.
          std::string(R"({"createdAt":1.5,"id":"6F2D5C1A-0000-4000-8000-000000000001",)"
                      R"("name":"站","ownerID":"6F2D5C1A-0000-4000-8000-000000000002",)"
                      R"("schema":1e300})"),
          std::string(R"({"createdAt":1.5,"id":"6F2D5C1A-0000-4000-8000-000000000001",)"
                      R"("name":"站","ownerID":"6F2D5C1A-0000-4000-8000-000000000002",)"
                      R"("schema":9.3e18})")}) {
        writeFile(dir / "station.json", broken);
        EXPECT_EQ(
            messageOf([&] { SafeFiles::read<StationConfiguration>(dir / "station.json", 65536); }),
            format)
            << broken;
        EXPECT_EQ(readFile(dir / "station.json"), broken);
    }
    writeFile(dir / "station.json", valid);
    const auto station = SafeFiles::read<StationConfiguration>(dir / "station.json", 65536);
    EXPECT_EQ(station.name, "站");
    EXPECT_EQ(station.id.text(), "6F2D5C1A-0000-4000-8000-000000000001");
    // Limits and ownership keep their own messages.
    EXPECT_EQ(messageOf([&] { SafeFiles::read<StationConfiguration>(dir / "station.json", 5); }),
              "文件类型、归属或大小不符合工作站要求。");
}

TEST(WriteData, ExclusiveWriteNeverReplaces) {
    TempDir dir;
    writeFile(dir / "note.md", "old");
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("new", dir / "note.md", true); }),
              "文件保存失败或目标已存在，原稿未覆盖。");
    EXPECT_EQ(readFile(dir / "note.md"), "old");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"note.md"});
}

TEST(WriteData, ReplacingWriteLeavesOnePrivateFile) {
    TempDir dir;
    writeFile(dir / "data", "old");
    SafeFiles::writeData("new", dir / "data", false);
    EXPECT_EQ(readFile(dir / "data"), "new");
    EXPECT_EQ(modeOf(dir / "data"), 0600u);
    SafeFiles::writeData("fresh", dir / "other", true);
    EXPECT_EQ(modeOf(dir / "other"), 0600u);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"data", "other"}));
}

TEST(WriteData, RefusesAnUnusableDestinationDirectory) {
    TempDir dir;
    const std::string unusable = "目标目录不可写或不属于当前用户。";
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("x", dir / "missing/file", false); }), unusable);
    std::filesystem::create_directory(dir / "real");
    std::filesystem::create_directory_symlink(dir / "real", dir / "link");
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("x", dir / "link/file", false); }), linkMessage);
    std::filesystem::create_symlink(dir / "real/target", dir / "real/final");
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("x", dir / "real/final", false); }),
              linkMessage);
    EXPECT_TRUE(entries(dir / "real").size() == 1);
}

TEST(WriteData, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    writeFile(dir / "data", "old content");
    // The file-size limit makes write(2) fail part-way with EFBIG.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    bool platformError = false;
    try {
        SafeFiles::writeData(std::string(4096, 'n'), dir / "data", false);
    } catch (const std::system_error& error) {
        platformError = error.code() == std::errc::file_too_large;
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_TRUE(platformError);
    EXPECT_EQ(readFile(dir / "data"), "old content");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"data"});
}

TEST(WriteData, AReadOnlyDirectoryRefusesTheTemporaryFile) {
    if (testing::runningAsRoot()) GTEST_SKIP() << "root ignores permission bits";
    TempDir dir;
    std::filesystem::create_directory(dir / "locked");
    writeFile(dir / "locked/data", "old");
    ::chmod((dir / "locked").c_str(), 0500);
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("new", dir / "locked/data", false); }),
              "无法创建临时文件。");
    ::chmod((dir / "locked").c_str(), 0700);
    EXPECT_EQ(readFile(dir / "locked/data"), "old");
    EXPECT_EQ(entries(dir / "locked"), std::vector<std::string>{"data"});
}

TEST(WriteRecord, SortsKeysAndEscapesSlashes) {
    TempDir dir;
    const StationConfiguration station{1, *Uuid::parse("6f2d5c1a-0000-4000-8000-000000000001"),
                                       *Uuid::parse("6F2D5C1A-0000-4000-8000-000000000002"),
                                       "a/b \"q\"", Timestamp{12.25}};
    SafeFiles::write(station, dir / "station.json", true);
    const std::string json = readFile(dir / "station.json");
    std::size_t last = 0;
    for (const char* key : {"\"createdAt\"", "\"id\"", "\"name\"", "\"ownerID\"", "\"schema\""}) {
        const std::size_t at = json.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    EXPECT_NE(json.find(R"("a\/b \"q\"")"), std::string::npos) << json;
    EXPECT_NE(json.find("6F2D5C1A-0000-4000-8000-000000000001"), std::string::npos);
    EXPECT_NE(json.find("12.25"), std::string::npos);
    const auto back = SafeFiles::read<StationConfiguration>(dir / "station.json", 65536);
    EXPECT_EQ(back.name, station.name);
    EXPECT_EQ(back.createdAt, station.createdAt);
}

}  // namespace
}  // namespace ostrak
