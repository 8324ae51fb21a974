#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::TempHome;
using testing::writeFile;

TEST(SupportDirectory, FollowsTheDataHomeOfTheUser) {
    TempHome home;
    EXPECT_EQ(Installation::supportDirectory(), home.path() / ".local/share/PlovikWorkstation");
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(Installation::supportDirectory(), home.path() / ".local/share/PlovikWorkstation");
    ::setenv("XDG_DATA_HOME", (home.path() / "xdg").c_str(), 1);
    EXPECT_EQ(Installation::supportDirectory(), home.path() / "xdg/PlovikWorkstation");
    EXPECT_FALSE(std::filesystem::exists(home.path() / "xdg"));
}

TEST(Pointer, SavesAndReopensTheSameWorkstation) {
    TempHome home;
    TempDir dir;
    EXPECT_FALSE(Installation::hasSavedWorkspace());
    const auto created = Workspace::create(dir / "station", "站");
    Installation::save(created);
    EXPECT_TRUE(Installation::hasSavedWorkspace());
    const auto pointer = Installation::supportDirectory() / "installation.json";
    EXPECT_EQ(testing::modeOf(Installation::supportDirectory()), 0700u);
    EXPECT_NE(readFile(pointer).find(created.configuration().id.text()), std::string::npos);
    const auto loaded = Installation::load();
    EXPECT_EQ(loaded.root(), created.root());
    EXPECT_EQ(loaded.configuration().id, created.configuration().id);
}

TEST(Pointer, RefusesAWorkstationWhoseIdentityChanged) {
    TempHome home;
    TempDir dir;
    const auto first = Workspace::create(dir / "first", "站");
    Installation::save(first);
    const auto pointer = Installation::supportDirectory() / "installation.json";
    const std::string saved = readFile(pointer);
    // Another workstation now stands where the pointer leads.
    std::filesystem::rename(dir / "first", dir / "moved");
    Workspace::create(dir / "first", "站");
    EXPECT_EQ(messageOf([] { Installation::load(); }), "工作站身份发生变化，已停止自动连接。");
    EXPECT_EQ(readFile(pointer), saved);
    std::filesystem::remove_all(dir / "first");
    EXPECT_EQ(messageOf([] { Installation::load(); }), "工作站数据目录必须属于当前系统用户。");
}

TEST(Pointer, ReportsBrokenPointersOnlyWhenLoading) {
    TempHome home;
    std::filesystem::create_directories(Installation::supportDirectory());
    const auto pointer = Installation::supportDirectory() / "installation.json";
    EXPECT_EQ(messageOf([] { Installation::load(); }), "文件无法读取，请检查目录和权限。");
    writeFile(pointer, "{\"root\": 5}");
    EXPECT_TRUE(Installation::hasSavedWorkspace());
    EXPECT_EQ(messageOf([] { Installation::load(); }),
              "工作站文件格式有误。原始资料已保留，请勿重新初始化。");
    writeFile(pointer, std::string(8193, ' '));
    EXPECT_EQ(messageOf([] { Installation::load(); }), "文件类型、归属或大小不符合工作站要求。");
}

}  // namespace
}  // namespace ostrak
