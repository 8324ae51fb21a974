#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class KnowledgeIndexTest : public ::testing::Test {
protected:
    TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "站");
    Path knowledge = workspace.knowledgeURL();
    Path indexFile = workspace.root() / "system/indexes/knowledge.json";

    std::string relative(const std::string& inKnowledge) const {
        return "users/" + workspace.configuration().ownerID.text() + "/knowledge/" + inKnowledge;
    }
    void put(const std::string& inKnowledge, const std::string& content) const {
        fs::create_directories((knowledge / inKnowledge).parent_path());
        writeFile(knowledge / inKnowledge, content);
    }
    std::vector<std::string> paths(const KnowledgeIndex& index) const {
        std::vector<std::string> out;
        for (const auto& document : index.documents) out.push_back(document.relativePath);
        return out;
    }
};

TEST_F(KnowledgeIndexTest, AnUnchangedTreeIsNotRewritten) {
    const auto first = workspace.rebuildIndex();
    EXPECT_TRUE(first.documents.empty());
    EXPECT_EQ(first.skipped, 0);
    const auto written = fs::last_write_time(indexFile);
    ::usleep(20000);
    const auto second = workspace.rebuildIndex();
    EXPECT_EQ(second.updatedAt, first.updatedAt);
    EXPECT_EQ(fs::last_write_time(indexFile), written);
    // With content, too: the stored index is recognised and returned whole.
    put("notes/a.md", "# A/B\n正文 with \"quotes\" and \\ and /slashes/\n");
    const auto third = workspace.rebuildIndex();
    EXPECT_GT(third.updatedAt, first.updatedAt);
    const auto fourth = workspace.rebuildIndex();
    EXPECT_EQ(fourth.updatedAt, third.updatedAt);
    EXPECT_EQ(fourth.documents, third.documents);
    EXPECT_EQ(workspace.loadIndex().documents, third.documents);
    EXPECT_NE(readFile(indexFile).find("A\\/B"), std::string::npos);
}

// What makes a stored index "unchanged" is exactly its content: a new skip count with the same
// documents is stored, and bytes after the closing brace make it another file.
TEST_F(KnowledgeIndexTest, OnlyTheSameContentCountsAsUnchanged) {
    put("notes/a.md", "# 标题\n正文");
    workspace.rebuildIndex();
    fs::create_symlink(knowledge / "notes/a.md", knowledge / "notes/link.md");
    EXPECT_EQ(workspace.rebuildIndex().skipped, 1);
    EXPECT_EQ(workspace.loadIndex().skipped, 1);
    writeFile(indexFile, readFile(indexFile) + "garbage");
    workspace.rebuildIndex();
    EXPECT_EQ(readFile(indexFile).find("garbage"), std::string::npos);
}

TEST_F(KnowledgeIndexTest, AnIndexWrittenInAnotherLayoutStillCountsAsUnchanged) {
    put("notes/a.md", "# 标题\n正文");
    const auto first = workspace.rebuildIndex();
    // Same content, compact and with other key order and escapes.
    writeFile(indexFile, R"({"updatedAt":42.5,"skipped":0,"documents":[{"title":"\u6807\u9898",)"
                         R"("text":"# 标题\n正文","relativePath":")" +
                             relative("notes/a.md") + R"("}]})");
    const auto second = workspace.rebuildIndex();
    EXPECT_EQ(second.updatedAt, Timestamp{42.5});
    EXPECT_EQ(second.documents, first.documents);
}

TEST_F(KnowledgeIndexTest, IndexesMarkdownAndTextOnly) {
    put("Plan.MD", "plan");
    put("a.TXT", "text");
    put("a.markdown", "no");
    put("a.rtf", "no");
    put("inbox/readme.md", "");
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(paths(index), (std::vector<std::string>{relative("Plan.MD"), relative("a.TXT"),
                                                      relative("inbox/readme.md")}));
    EXPECT_EQ(index.skipped, 0);
    ASSERT_EQ(index.documents.size(), 3u);
    EXPECT_EQ(index.documents[2].title, "readme");
    EXPECT_EQ(index.documents[2].text, "");
}

TEST_F(KnowledgeIndexTest, TitlesComeFromTheFirstNonEmptyLine) {
    const Path note = workspace.writeNote("周报", "正文");
    put("b.md", "\n\n## word ##\nrest");
    put("c.md", "\n# # #  \ntext");
    put("d.md", "\r\n标题一\r\n第二行");
    put("e.md", "\n\n\n");
    put("f.md", "\t# tab stays\n");
    put("g.md", std::string(130, 'x') + "\n");
    const auto index = workspace.rebuildIndex();
    std::map<std::string, std::string> titles;
    for (const auto& document : index.documents) titles[document.relativePath] = document.title;
    EXPECT_EQ(titles[relative("notes/" + note.filename().native())], "周报");
    EXPECT_EQ(titles[relative("b.md")], "word");
    EXPECT_EQ(titles[relative("c.md")], "");
    EXPECT_EQ(titles[relative("d.md")], "标题一");
    EXPECT_EQ(titles[relative("e.md")], "e");
    EXPECT_EQ(titles[relative("f.md")], "\t# tab stays");
    EXPECT_EQ(titles[relative("g.md")], std::string(120, 'x'));
    for (const auto& document : index.documents) {
        if (document.relativePath.ends_with(note.filename().native())) {
            EXPECT_EQ(document.text, "# 周报\n\n正文\n");
        }
    }
}

TEST_F(KnowledgeIndexTest, CountsWhatItCannotIndex) {
    put("exact.md", std::string(262144, 'x'));
    put("over.md", std::string(262145, 'x'));
    put("latin1.md", "caf\xe9");
    put("bad\xff.md", "fine inside");
    put("other\xfe/inside.md", "never seen");
    put("other\xfe/more.md", "never seen");
    put("linked/one.md", "1");
    put("linked/two.md", "2");
    fs::create_directory_symlink(knowledge / "linked", knowledge / "alias");
    put(".hidden/secret.md", "hidden");
    put(".hidden.md", "hidden");
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(paths(index),
              (std::vector<std::string>{relative("exact.md"), relative("linked/one.md"),
                                        relative("linked/two.md")}));
    // over.md, latin1.md, bad\xff.md, the other\xfe folder once, and the link.
    EXPECT_EQ(index.skipped, 5);
}

TEST_F(KnowledgeIndexTest, KeepsToTheDocumentAndByteBudgets) {
    for (int i = 0; i < 1001; ++i) put("inbox/" + std::to_string(i) + ".md", "x");
    auto index = workspace.rebuildIndex();
    EXPECT_EQ(index.documents.size(), 1000u);
    EXPECT_EQ(index.skipped, 1);

    fs::remove_all(knowledge / "inbox");
    // 64 files fill the 16 MiB budget but for 10 bytes: a 20-byte file no longer fits, a
    // 10-byte file after it still does.
    put("big/100.md", std::string(262134, 'b'));
    for (int i = 101; i < 164; ++i)
        put("big/" + std::to_string(i) + ".md", std::string(262144, 'b'));
    put("big/200.md", std::string(20, 's'));
    put("big/300.md", std::string(10, 's'));
    index = workspace.rebuildIndex();
    EXPECT_EQ(index.documents.size(), 65u);
    EXPECT_EQ(index.documents.back().relativePath, relative("big/300.md"));
    EXPECT_EQ(index.skipped, 1);
}

// The budget counts folders too: "attachments", "inbox", its files, then "notes". Exactly
// 10,000 entries are all examined; one more is counted as skipped.
TEST_F(KnowledgeIndexTest, StopsAfterTenThousandEntriesAndStillStores) {
    for (int i = 0; i < 9997; ++i) put("inbox/" + std::to_string(10000 + i) + ".dat", "");
    EXPECT_EQ(workspace.rebuildIndex().skipped, 0);
    put("inbox/20000.dat", "");
    EXPECT_EQ(workspace.rebuildIndex().skipped, 1);
    EXPECT_TRUE(fs::exists(indexFile));
}

// When the budget runs out inside a folder, the entries examined are its first names in byte
// order, whatever order the file system lists them in.
TEST_F(KnowledgeIndexTest, TheBudgetKeepsTheFirstNamesInByteOrder) {
    for (int i = 0; i < 9900; ++i) put("attachments/" + std::to_string(10000 + i) + ".dat", "");
    std::vector<std::string> expected;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "inbox/" + std::to_string(1000 + i) + ".md";
        put(name, "note");
        if (expected.size() < 98) expected.push_back(relative(name));
    }
    // attachments (1) + its files (9,900) + inbox (1) leave 98 entries of the inbox examined.
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(paths(index), expected);
    EXPECT_EQ(index.skipped, 1);
}

TEST_F(KnowledgeIndexTest, AnUnreadableFolderKeepsThePreviousIndex) {
    if (testing::runningAsRoot()) GTEST_SKIP() << "root ignores permission bits";
    put("notes/a.md", "a");
    workspace.rebuildIndex();
    const std::string before = readFile(indexFile);
    put("inbox/deep/locked/b.md", "b");
    ::chmod((knowledge / "inbox/deep/locked").c_str(), 0);
    EXPECT_EQ(messageOf([&] { workspace.rebuildIndex(); }), "部分知识目录无法读取，索引未更新。");
    EXPECT_EQ(readFile(indexFile), before);
}

TEST_F(KnowledgeIndexTest, AMissingKnowledgeFolderCannotBeRead) {
    fs::remove_all(knowledge);
    EXPECT_EQ(messageOf([&] { workspace.rebuildIndex(); }), "知识库目录无法读取。");
}

TEST_F(KnowledgeIndexTest, AFileOfAnotherUserFailsTheWholeRebuild) {
    const char* foreign = std::getenv("OSTRAK_TEST_FOREIGN_FILE");
    if (foreign == nullptr || testing::runningAsRoot()) {
        GTEST_SKIP() << "needs a file owned by another user (scripts/test run as root provides it)";
    }
    put("notes/a.md", "a");
    workspace.rebuildIndex();
    const std::string before = readFile(indexFile);
    fs::create_hard_link(foreign, knowledge / "notes/foreign.md");
    EXPECT_EQ(messageOf([&] { workspace.rebuildIndex(); }),
              "文件类型、归属或大小不符合工作站要求。");
    EXPECT_EQ(readFile(indexFile), before);
    fs::remove(knowledge / "notes/foreign.md");
}

TEST_F(KnowledgeIndexTest, LoadingRefusesBrokenIndexes) {
    EXPECT_EQ(messageOf([&] { workspace.loadIndex(); }), "文件无法读取，请检查目录和权限。");
    for (const char* broken :
         {"{", R"({"documents":[],"skipped":0})",
          R"({"documents":[{"title":"t","text":"x"}],"skipped":0,"updatedAt":1})",
          R"({"documents":[],"skipped":"0","updatedAt":1})",
          R"({"documents":[],"skipped":0,"updatedAt":1} trailing)"}) {
        writeFile(indexFile, broken);
        EXPECT_EQ(messageOf([&] { workspace.loadIndex(); }),
                  "工作站文件格式有误。原始资料已保留，请勿重新初始化。")
            << broken;
    }
    // A broken index is simply replaced by the next rebuild.
    EXPECT_NO_THROW(workspace.rebuildIndex());
    EXPECT_NO_THROW(workspace.loadIndex());
}

TEST_F(KnowledgeIndexTest, DocumentURLsStayInsideTheKnowledgeFolder) {
    const IndexedDocument inside{relative("notes/a.md"), "", ""};
    EXPECT_EQ(workspace.documentURL(inside), knowledge / "notes/a.md");
    const std::string outside = "来源不在本工作站知识库内。";
    for (const std::string& path :
         {relative("../station.json"), relative("notes/../../x.md"), std::string("station.json"),
          std::string("/etc/passwd"), relative("")}) {
        EXPECT_EQ(messageOf([&] { workspace.documentURL({path, "", ""}); }), outside) << path;
    }
    fs::create_directory_symlink(dir.path(), knowledge / "escape");
    EXPECT_EQ(messageOf([&] {
                  workspace.documentURL({relative("escape/x.md"), "", ""});
              }),
              "数据路径不能经过符号链接，请选择真实目录。");
}

TEST(Search, FoldsCaseAndKeepsIndexOrder) {
    KnowledgeIndex index;
    for (int i = 0; i < 80; ++i) {
        index.documents.push_back({"p/" + std::to_string(100 + i), "标题", "the Straße of Café"});
    }
    index.documents.push_back({"q/1", "\u212Aelvin", "nothing"});
    index.documents.push_back({"q/2", "ＷＩＤＥ", "wide"});
    const auto found = index.search("  STRASSE \n");
    ASSERT_EQ(found.size(), 50u);
    EXPECT_EQ(found.front().relativePath, "p/100");
    EXPECT_EQ(found.back().relativePath, "p/149");
    EXPECT_EQ(index.search("café").size(), 50u);
    EXPECT_TRUE(index.search("cafe").empty());       // accents count
    EXPECT_EQ(index.search("ｗｉｄｅ").size(), 1u);  // fullwidth folds to fullwidth
    EXPECT_EQ(index.search("ｗｉｄｅ")[0].relativePath, "q/2");
    EXPECT_EQ(index.search("kELVIN").size(), 1u);  // the Kelvin sign folds to "k"
    EXPECT_TRUE(index.search(" \n\t").empty());
    EXPECT_TRUE(index.search("p/1").empty());  // paths are not searched
    EXPECT_EQ(index.search("标").size(), 50u);
}

}  // namespace
}  // namespace ostrak
