#include <gtest/gtest.h>

#include <filesystem>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

using testing::entries;
using testing::readFile;
using testing::TempDir;

const std::string bodyMessage = "笔记内容不能为空，且不超过 256 KB。";
const std::string wholeMessage = "包含标题的完整笔记不能超过 256 KB。";

std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

class Notes : public ::testing::Test {
protected:
    TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "站");
    Path notes() const { return workspace.knowledgeURL() / "notes"; }
};

TEST_F(Notes, WritesTheTitleLineAndTheBodyAsGiven) {
    const Path note = workspace.writeNote("  # 周报 ", "\n第一行\n\n");
    EXPECT_EQ(note.parent_path(), notes());
    EXPECT_EQ(note.extension(), ".md");
    EXPECT_TRUE(Uuid::parse(note.stem().native()));
    EXPECT_EQ(note.stem().native(), Uuid::parse(note.stem().native())->text());
    EXPECT_EQ(readFile(note), "# # 周报\n\n\n第一行\n\n\n");
    EXPECT_EQ(testing::modeOf(note), 0600u);
}

TEST_F(Notes, SameNoteTwiceGivesTwoFiles) {
    workspace.writeNote("标题", "正文");
    workspace.writeNote("标题", "正文");
    EXPECT_EQ(entries(notes()).size(), 2u);
}

TEST_F(Notes, ChecksTitleBeforeBody) {
    EXPECT_EQ(messageOf([&] { workspace.writeNote("", "正文"); }),
              "名字请使用 1–48 个字，不含换行或控制字符。");
    EXPECT_EQ(messageOf([&] { workspace.writeNote("\n", " \n "); }),
              "名字请使用 1–48 个字，不含换行或控制字符。");
    EXPECT_EQ(messageOf([&] { workspace.writeNote("标题", " \n\t\u3000"); }), bodyMessage);
    EXPECT_TRUE(entries(notes()).empty());
}

TEST_F(Notes, CountsTheLimitsInUtf8Bytes) {
    // 87,382 Chinese characters are 262,146 bytes: refused although far fewer characters.
    EXPECT_EQ(messageOf([&] { workspace.writeNote("t", repeat("知", 87382)); }), bodyMessage);
    // Exactly 262,144 body bytes pass the body check, but never the whole-note check.
    EXPECT_EQ(messageOf([&] { workspace.writeNote("t", std::string(262144, 'x')); }), wholeMessage);
    // "# t\n\n" + body + "\n" is 6 bytes more than the body.
    EXPECT_EQ(messageOf([&] { workspace.writeNote("t", std::string(262139, 'x')); }), wholeMessage);
    EXPECT_TRUE(entries(notes()).empty());
    const Path largest = workspace.writeNote("t", std::string(262138, 'x'));
    EXPECT_EQ(std::filesystem::file_size(largest), 262144u);
}

TEST_F(Notes, RefusesAMissingNotesFolderWithoutCreatingIt) {
    std::filesystem::remove(notes());
    EXPECT_EQ(messageOf([&] { workspace.writeNote("标题", "正文"); }),
              "目标目录不可写或不属于当前用户。");
    EXPECT_FALSE(std::filesystem::exists(notes()));
}

}  // namespace
}  // namespace ostrak
