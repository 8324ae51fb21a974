#include <gtest/gtest.h>

#include <filesystem>

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

const std::string nameMessage = "名字请使用 1–48 个字，不含换行或控制字符。";

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(ValidName, CountsUserPerceivedCharacters) {
    EXPECT_EQ(Workspace::validName(repeat("知", 48)), repeat("知", 48));
    EXPECT_EQ(messageOf([] { Workspace::validName(repeat("知", 49)); }), nameMessage);
    // An emoji with a skin-tone modifier is two scalars and eight bytes, yet one character.
    EXPECT_EQ(Workspace::validName(repeat("👍🏽", 48)), repeat("👍🏽", 48));
    EXPECT_EQ(messageOf([] { Workspace::validName(repeat("👍🏽", 49)); }), nameMessage);
    // A family emoji is also one character, but its zero-width joiners are format characters.
    EXPECT_EQ(messageOf([] { Workspace::validName("👨‍👩‍👧"); }), nameMessage);
}

TEST(ValidName, TrimsAndRefusesControlAndFormatCharacters) {
    EXPECT_EQ(Workspace::validName("  书房 \n"), "书房");
    EXPECT_EQ(Workspace::validName("\u3000ab\u00a0"), "ab");
    for (const char* bad : {"", "   ", "\n\t", "a\nb", "a\tb", "a\u200db", "a\u200bb", "\ufeffab",
                            "a\x01z", "\xff\xfe"}) {
        EXPECT_EQ(messageOf([&] { Workspace::validName(bad); }), nameMessage) << bad;
    }
    EXPECT_EQ(Workspace::validName("my station"), "my station");
}

TEST(Create, MakesAPrivateWorkstationWithEveryDirectory) {
    TempDir dir;
    const auto workspace = Workspace::create(dir / "new/parents/station", "  研究站 ");
    EXPECT_EQ(workspace.root(), dir / "new/parents/station");
    EXPECT_EQ(workspace.configuration().name, "研究站");
    EXPECT_EQ(workspace.configuration().schema, 1);
    EXPECT_NE(workspace.configuration().id, workspace.configuration().ownerID);
    for (const char* level : {"new", "new/parents", "new/parents/station"}) {
        EXPECT_EQ(modeOf(dir / level), 0700u) << level;
    }
    const auto required = workspace.requiredDirectories();
    ASSERT_EQ(required.size(), 14u);
    EXPECT_EQ(required[0],
              "users/" + workspace.configuration().ownerID.text() + "/knowledge/inbox");
    EXPECT_EQ(required.back(), "backups");
    for (const auto& relative : required) {
        EXPECT_EQ(modeOf(workspace.root() / relative), 0700u) << relative;
    }
    EXPECT_EQ(workspace.knowledgeURL(),
              workspace.root() / "users" / workspace.configuration().ownerID.text() / "knowledge");
    EXPECT_EQ(modeOf(workspace.root() / "station.json"), 0600u);
}

TEST(Create, TakesAnEmptyOpenDirectoryAndMakesItPrivate) {
    TempDir dir;
    std::filesystem::create_directory(dir / "empty");
    ::chmod((dir / "empty").c_str(), 0755);
    Workspace::create(dir / "empty/", "站");
    EXPECT_EQ(modeOf(dir / "empty"), 0700u);
}

TEST(Create, RefusesOccupiedLocationsAndTouchesNothing) {
    TempDir dir;
    const std::string occupied = "该目录已有资料。请打开已有工作站，或选择一个空目录。";
    std::filesystem::create_directory(dir / "hidden");
    writeFile(dir / "hidden/.directory", "view settings");
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "hidden", "站"); }), occupied);
    EXPECT_EQ(entries(dir / "hidden"), std::vector<std::string>{".directory"});
    writeFile(dir / "file", "x");
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "file", "站"); }), occupied);
    Workspace::create(dir / "twice", "站");
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "twice", "站"); }), occupied);
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "bad-name", "\n"); }), nameMessage);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad-name"));
}

TEST(Create, RefusesLocationsThatCannotBeStored) {
    TempDir dir;
    const std::string unusable = "请选择用户目录中的数据位置。";
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "bad\xff\xfe", "站"); }), unusable);
    EXPECT_EQ(messageOf([&] { Workspace::open(dir / "bad\xff\xfe"); }), unusable);
    EXPECT_EQ(messageOf([&] { Workspace::create("relative/place", "站"); }), unusable);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{});
    std::filesystem::create_directory_symlink(dir.path(), dir / "link");
    EXPECT_EQ(messageOf([&] { Workspace::create(dir / "link/station", "站"); }),
              "数据路径不能经过符号链接，请选择真实目录。");
}

TEST(Open, ReopensWithoutWritingAndRestoresMissingDirectories) {
    TempDir dir;
    const auto created = Workspace::create(dir / "station", "站");
    std::filesystem::remove(dir / "station/system/logs");
    const auto opened = Workspace::open(dir / "station/./");
    EXPECT_FALSE(std::filesystem::exists(dir / "station/system/logs"));
    EXPECT_EQ(opened.root(), created.root());
    EXPECT_EQ(opened.configuration().id, created.configuration().id);
    opened.ensureDirectories();
    EXPECT_EQ(modeOf(dir / "station/system/logs"), 0700u);
}

TEST(Open, RefusesAWorkstationOpenToOthers) {
    TempDir dir;
    Workspace::create(dir / "station", "站");
    ::chmod((dir / "station").c_str(), 0755);
    EXPECT_EQ(messageOf([&] { Workspace::open(dir / "station"); }),
              "工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。");
    EXPECT_EQ(modeOf(dir / "station"), 0755u);
}

TEST(Open, ChecksTheIdentityInOrder) {
    TempDir dir;
    Workspace::create(dir / "station", "站");
    const auto identity = dir / "station/station.json";
    const std::string a = "6F2D5C1A-0000-4000-8000-000000000001";
    const std::string b = "6F2D5C1A-0000-4000-8000-000000000002";
    auto station = [&](const std::string& schema, const std::string& id, const std::string& name) {
        return R"({"createdAt":1,"id":")" + id + R"(","name":)" + name + R"(,"ownerID":")" + b +
               R"(","schema":)" + schema + "}";
    };
    for (const char* schema : {"2", "0"}) {
        writeFile(identity, station(schema, a, "\"站\""));
        EXPECT_EQ(messageOf([&] { Workspace::open(dir / "station"); }),
                  "此工作站由其他版本创建，请使用兼容版本打开。");
    }
    writeFile(identity, station("1", b, "\"\\n\""));
    EXPECT_EQ(messageOf([&] { Workspace::open(dir / "station"); }), nameMessage);
    writeFile(identity, station("1", b, "\"站\""));
    EXPECT_EQ(messageOf([&] { Workspace::open(dir / "station"); }),
              "工作站身份损坏，已保留原始资料。");
    writeFile(identity, station("1", a, "\"  站  \""));
    EXPECT_EQ(Workspace::open(dir / "station").configuration().name, "  站  ");
    std::filesystem::remove(identity);
    EXPECT_EQ(messageOf([&] { Workspace::open(dir / "station"); }),
              "文件无法读取，请检查目录和权限。");
}

TEST(Open, ACopiedWorkstationKeepsItsIdentity) {
    TempDir dir;
    const auto original = Workspace::create(dir / "station", "站");
    std::filesystem::copy(dir / "station", dir / "copy", std::filesystem::copy_options::recursive);
    ::chmod((dir / "copy").c_str(), 0700);
    EXPECT_EQ(Workspace::open(dir / "copy").configuration().id, original.configuration().id);
}

TEST(Rename, RewritesOnlyTheName) {
    TempDir dir;
    auto workspace = Workspace::create(dir / "station", "站");
    const auto before = workspace.configuration();
    workspace.rename(" 新名字 ");
    EXPECT_EQ(workspace.configuration().name, "新名字");
    const auto stored = Workspace::open(dir / "station").configuration();
    EXPECT_EQ(stored.name, "新名字");
    EXPECT_EQ(stored.id, before.id);
    EXPECT_EQ(stored.ownerID, before.ownerID);
    EXPECT_EQ(stored.createdAt, before.createdAt);
    EXPECT_EQ(messageOf([&] { workspace.rename("a\tb"); }), nameMessage);
    EXPECT_EQ(workspace.configuration().name, "新名字");
    EXPECT_EQ(entries(dir / "station").size(), 7u);  // no temporary file left behind
}

}  // namespace
}  // namespace ostrak
