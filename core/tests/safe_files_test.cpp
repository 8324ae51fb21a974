#include "testing.hpp"

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
        {dir / "linked", expected::link},
        {dir / "linked/inner/new/deeper", expected::link},
        {dir / "file/below", "无法检查数据路径的权限。"},
        {dir / "linked/../real/inner", noError},  // ".." is resolved textually
        {dir / "not/yet/there", noError}};
    for (const auto& [path, message] : cases) {
        EXPECT_MESSAGE(message, SafeFiles::checkAncestors(path)) << path;
    }
}

TEST(Directory, CreatesMissingLevelsPrivatelyAndRefusesFilesAndLinks) {
    TempDir dir;
    SafeFiles::directory(dir / "a/b/c");
    for (const char* level : {"a", "a/b", "a/b/c"}) EXPECT_EQ(modeOf(dir / level), 0700u) << level;
    EXPECT_NO_THROW(SafeFiles::directory(dir / "a/b/c"));
    writeFile(dir / "file", "x");
    EXPECT_MESSAGE("所选位置不是目录。", SafeFiles::directory(dir / "file"));
    fs::create_directory_symlink(dir.path(), dir / "link");
    EXPECT_MESSAGE(expected::link, SafeFiles::directory(dir / "link/new"));
    EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST(PrivateRoot, RefusesOpenOrForeignRootsWithoutChangingThem) {
    TempDir dir;
    fs::create_directory(dir / "root");
    for (const mode_t open : {0750, 0701}) {
        ::chmod((dir / "root").c_str(), open);
        EXPECT_MESSAGE("工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。",
                       SafeFiles::privateRoot(dir / "root", false));
        EXPECT_EQ(modeOf(dir / "root"), open);
    }
    SafeFiles::privateRoot(dir / "root", true);
    EXPECT_EQ(modeOf(dir / "root"), 0700u);
    writeFile(dir / "file", "x");
    for (const Path& foreign : {dir / "file", dir / "missing", Path("/usr")}) {
        if (foreign == "/usr" && runningAsRoot()) continue;
        EXPECT_MESSAGE(expected::notOwned, SafeFiles::privateRoot(foreign, true));
    }
}

TEST(ReadData, TakesOnlyRegularFilesWithinTheLimit) {
    TempDir dir;
    writeFile(dir / "file", std::string(100, 'x'));
    fs::create_symlink(dir / "file", dir / "link");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    EXPECT_EQ(SafeFiles::readData(dir / "file", 100).size(), 100u);
    const std::pair<Path, std::string> refused[] = {{dir / "file", expected::unfit},
                                                    {dir / "missing", expected::unreadable},
                                                    {dir / "link", expected::link},
                                                    {dir.path(), expected::unfit},
                                                    {dir / "fifo", expected::unfit}};
    for (const auto& [path, message] : refused) {
        EXPECT_MESSAGE(message, SafeFiles::readData(path, 99)) << path;
    }
}

// The stored form, byte for byte: sorted keys, two-space indent, "/" escaped, upper-case UUIDs.
// Reading it back turns every decoding problem into the format message and keeps the file;
// integers far outside any integer type are format errors, not wrapped values.
TEST(Records, AreWrittenInTheStoredFormAndReadOnlyWhenWhole) {
    TempDir dir;
    const Path file = dir / "station.json";
    const StationConfiguration station{1, *Uuid::parse("6f2d5c1a-0000-4000-8000-000000000001"),
                                       *Uuid::parse("6F2D5C1A-0000-4000-8000-000000000002"),
                                       "a/b \"q\"", Timestamp{12.25}};
    SafeFiles::write(station, file, true);
    const std::string stored = R"({
  "createdAt" : 12.25,
  "id" : "6F2D5C1A-0000-4000-8000-000000000001",
  "name" : "a\/b \"q\"",
  "ownerID" : "6F2D5C1A-0000-4000-8000-000000000002",
  "schema" : 1
}
)";
    EXPECT_EQ(readFile(file), stored);
    EXPECT_EQ(SafeFiles::read<StationConfiguration>(file, 4096).name, station.name);
    const auto replaced = [&](const std::string& from, const std::string& to) {
        return std::string(stored).replace(stored.find(from), from.size(), to);
    };
    for (const std::string& broken :
         {std::string(R"({"createdAt":1.5,"name":"站","schema":1})"), std::string("[]"),
          std::string("{"), replaced("12.25", "\"x\""), replaced(": 1\n", ": 1e300\n"),
          replaced(": 1\n", ": 9.3e18\n"), replaced(": 1\n", ": 1.5\n"), stored + "x"}) {
        writeFile(file, broken);
        EXPECT_MESSAGE(expected::format, SafeFiles::read<StationConfiguration>(file, 4096))
            << broken;
        EXPECT_EQ(readFile(file), broken);
    }
}

// A write replaces the file, or creates it only where none is; refused destinations keep the
// old file. (Failed system calls are the fault-point test's; the file-size limit the service's.)
TEST(WriteData, ReplacesOrCreatesExclusivelyAndRefusesUnusableDestinations) {
    TempDir dir;
    writeFile(dir / "data", "old");
    EXPECT_MESSAGE("文件保存失败或目标已存在，原稿未覆盖。",
                   SafeFiles::writeData("new", dir / "data", true));
    EXPECT_EQ(readFile(dir / "data"), "old");
    SafeFiles::writeData("new", dir / "data", false);
    EXPECT_EQ(readFile(dir / "data"), "new");
    EXPECT_EQ(modeOf(dir / "data"), 0600u);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"data"});
    fs::create_directory(dir / "real");
    fs::create_directory_symlink(dir / "real", dir / "link");
    fs::create_symlink(dir / "real/target", dir / "real/final");
    const std::pair<Path, std::string> refused[] = {
        {dir / "missing/file", "目标目录不可写或不属于当前用户。"},
        {dir / "link/file", expected::link},
        {dir / "real/final", expected::link}};
    for (const auto& [path, message] : refused) {
        EXPECT_MESSAGE(message, SafeFiles::writeData("x", path, false)) << path;
    }
    EXPECT_EQ(entries(dir / "real"), std::vector<std::string>{"final"});
}

// What reaches a person: the core's own messages as they stand, the system's in Chinese (never
// the platform's English), whatever the locale.
TEST(DescribeFailure, SaysTheSystemsCausesInChinese) {
    const std::pair<std::exception_ptr, std::string> cases[] = {
        {std::make_exception_ptr(OstrakError("原话")), "原话"},
        {std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category())),
         "磁盘空间不足。"},
        {std::make_exception_ptr(
             fs::filesystem_error("x", "/p", std::error_code(EROFS, std::system_category()))),
         "磁盘是只读的。"},
        {std::make_exception_ptr(std::system_error(EACCES, std::system_category())),
         "没有访问权限。"},
        {std::make_exception_ptr(std::system_error(9999, std::generic_category())),
         "系统错误（错误码 9999）。"},
        {std::make_exception_ptr(std::bad_alloc()), "内存不足。"},
        {std::make_exception_ptr(std::runtime_error("其他")), "其他"},
    };
    for (const auto& [thrown, expected] : cases) {
        try {
            std::rethrow_exception(thrown);
        } catch (const std::exception& failure) {
            EXPECT_EQ(describeFailure(failure), expected);
        }
    }
}
