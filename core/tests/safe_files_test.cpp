#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

namespace fs = std::filesystem;
using testing::entries;
using testing::modeOf;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string linkMessage = "数据路径不能经过符号链接，请选择真实目录。";
const std::string unfitMessage = "文件类型、归属或大小不符合工作站要求。";

TEST(CheckAncestors, RefusesLinksAndWhatCannotBeExamined) {
    TempDir dir;
    fs::create_directories(dir / "real/inner");
    fs::create_directory_symlink(dir / "real", dir / "linked");
    writeFile(dir / "file", "x");
    const std::string location = "请选择用户目录中的数据位置。";
    const std::pair<Path, std::string> cases[] = {
        {"relative/dir", location},
        {"", location},
        {"/", location},
        {"/tmp/..", location},
        {dir / "linked", linkMessage},
        {dir / "linked/inner/new/deeper", linkMessage},
        {dir / "file/below", "无法检查数据路径的权限。"},
        {dir / "linked/../real/inner", noError},  // ".." is resolved textually
        {dir / "not/yet/there", noError}};
    for (const auto& [path, message] : cases) {
        EXPECT_EQ(messageOf([&] { SafeFiles::checkAncestors(path); }), message) << path;
    }
}

TEST(Directory, CreatesMissingLevelsPrivatelyAndRefusesFilesAndLinks) {
    TempDir dir;
    SafeFiles::directory(dir / "a/b/c");
    for (const char* level : {"a", "a/b", "a/b/c"}) EXPECT_EQ(modeOf(dir / level), 0700u) << level;
    EXPECT_NO_THROW(SafeFiles::directory(dir / "a/b/c"));
    writeFile(dir / "file", "x");
    EXPECT_EQ(messageOf([&] { SafeFiles::directory(dir / "file"); }), "所选位置不是目录。");
    fs::create_directory_symlink(dir.path(), dir / "link");
    EXPECT_EQ(messageOf([&] { SafeFiles::directory(dir / "link/new"); }), linkMessage);
    EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST(PrivateRoot, RefusesOpenOrForeignRootsWithoutChangingThem) {
    TempDir dir;
    fs::create_directory(dir / "root");
    for (const mode_t open : {0750, 0701}) {
        ::chmod((dir / "root").c_str(), open);
        EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot(dir / "root", false); }),
                  "工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。");
        EXPECT_EQ(modeOf(dir / "root"), open);
    }
    SafeFiles::privateRoot(dir / "root", true);
    EXPECT_EQ(modeOf(dir / "root"), 0700u);
    writeFile(dir / "file", "x");
    for (const Path& foreign : {dir / "file", dir / "missing", Path("/usr")}) {
        if (foreign == "/usr" && testing::runningAsRoot()) continue;
        EXPECT_EQ(messageOf([&] { SafeFiles::privateRoot(foreign, true); }),
                  "工作站数据目录必须属于当前系统用户。");
    }
}

TEST(ReadData, TakesOnlyRegularFilesWithinTheLimit) {
    TempDir dir;
    writeFile(dir / "file", std::string(100, 'x'));
    writeFile(dir / "empty", "");
    fs::create_symlink(dir / "file", dir / "link");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    EXPECT_EQ(SafeFiles::readData(dir / "file", 100).size(), 100u);
    EXPECT_EQ(SafeFiles::readData(dir / "empty", 0), "");
    const std::pair<Path, std::string> refused[] = {
        {dir / "file", unfitMessage},
        {dir / "missing", "文件无法读取，请检查目录和权限。"},
        {dir / "link", linkMessage},
        {dir.path(), unfitMessage},
        {dir / "fifo", unfitMessage}};
    for (const auto& [path, message] : refused) {
        EXPECT_EQ(messageOf([&] { SafeFiles::readData(path, 99); }), message) << path;
    }
}

TEST(ReadRecord, TurnsEveryDecodingProblemIntoTheFormatMessage) {
    TempDir dir;
    const auto station = [](const std::string& createdAt, const std::string& schema) {
        return R"({"createdAt":)" + createdAt +
               R"(,"id":"6F2D5C1A-0000-4000-8000-000000000001","name":"站",)"
               R"("ownerID":"6F2D5C1A-0000-4000-8000-000000000002","schema":)" +
               schema + "}";
    };
    // Integers far outside any integer type are format errors, not wrapped values.
    for (const std::string& broken :
         {std::string(R"({"createdAt":1.5,"name":"站","schema":1})"), std::string("[]"),
          std::string("{"), station("\"x\"", "1"), station("1.5", "1e300"),
          station("1.5", "9.3e18"), station("1.5", "1") + "x"}) {
        writeFile(dir / "station.json", broken);
        EXPECT_EQ(
            messageOf([&] { SafeFiles::read<StationConfiguration>(dir / "station.json", 4096); }),
            "工作站文件格式有误。原始资料已保留，请勿重新初始化。")
            << broken;
        EXPECT_EQ(readFile(dir / "station.json"), broken);
    }
    writeFile(dir / "station.json", station("1.5", "1"));
    EXPECT_EQ(SafeFiles::read<StationConfiguration>(dir / "station.json", 4096).name, "站");
    EXPECT_EQ(messageOf([&] { SafeFiles::read<StationConfiguration>(dir / "station.json", 5); }),
              unfitMessage);
}

// The stored form, byte for byte: sorted keys, two-space indent, "/" escaped, upper-case UUIDs.
TEST(WriteRecord, WritesTheStoredFormExactly) {
    TempDir dir;
    const StationConfiguration station{1, *Uuid::parse("6f2d5c1a-0000-4000-8000-000000000001"),
                                       *Uuid::parse("6F2D5C1A-0000-4000-8000-000000000002"),
                                       "a/b \"q\"", Timestamp{12.25}};
    SafeFiles::write(station, dir / "station.json", true);
    EXPECT_EQ(readFile(dir / "station.json"), R"({
  "createdAt" : 12.25,
  "id" : "6F2D5C1A-0000-4000-8000-000000000001",
  "name" : "a\/b \"q\"",
  "ownerID" : "6F2D5C1A-0000-4000-8000-000000000002",
  "schema" : 1
}
)");
    EXPECT_EQ(SafeFiles::read<StationConfiguration>(dir / "station.json", 4096).name, station.name);
    EXPECT_EQ(modeOf(dir / "station.json"), 0600u);
}

TEST(WriteData, ReplacesOrCreatesExclusivelyAndLeavesNothingElse) {
    TempDir dir;
    writeFile(dir / "data", "old");
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("new", dir / "data", true); }),
              "文件保存失败或目标已存在，原稿未覆盖。");
    EXPECT_EQ(readFile(dir / "data"), "old");
    SafeFiles::writeData("new", dir / "data", false);
    EXPECT_EQ(readFile(dir / "data"), "new");
    EXPECT_EQ(modeOf(dir / "data"), 0600u);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"data"});
}

// (A write cut short by the file-size limit is the service's test, through the index.)
TEST(WriteData, RefusesUnusableDestinationsAndKeepsTheOldFile) {
    TempDir dir;
    fs::create_directory(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "link");
    fs::create_symlink(dir / "real/target", dir / "real/final");
    const std::pair<Path, std::string> refused[] = {
        {dir / "missing/file", "目标目录不可写或不属于当前用户。"},
        {dir / "link/file", linkMessage},
        {dir / "real/final", linkMessage}};
    for (const auto& [path, message] : refused) {
        EXPECT_EQ(messageOf([&] { SafeFiles::writeData("x", path, false); }), message) << path;
    }
    EXPECT_EQ(entries(dir / "real"), std::vector<std::string>{"final"});
    if (testing::runningAsRoot()) GTEST_SKIP() << "root ignores the read-only folder";
    writeFile(dir / "real/data", "old");
    ::chmod((dir / "real").c_str(), 0500);
    EXPECT_EQ(messageOf([&] { SafeFiles::writeData("new", dir / "real/data", false); }),
              "无法创建临时文件。");
    ::chmod((dir / "real").c_str(), 0700);
    EXPECT_EQ(readFile(dir / "real/data"), "old");
}

}  // namespace
}  // namespace ostrak
