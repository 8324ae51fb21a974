#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"

namespace ostrak {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

// Texts that put every byte that needs escaping before, on and after sixteen-byte boundaries.
std::vector<std::string> awkwardTexts() {
    std::vector<std::string> texts = {"",
                                      "/",
                                      "\"",
                                      "\\",
                                      "a/b\\c\"d",
                                      "知识/库\n第二行\r\n",
                                      "emoji 👍🏽 and \u2028 separator"};
    std::string controls;
    for (char c = 1; c < 0x20; ++c) controls += c;
    texts.push_back(controls + "end");
    for (std::size_t at : {0u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u}) {
        for (char special : {'\n', '"', '\\', '/', '\x1f'}) {
            std::string text(40, 'x');
            text[at] = special;
            texts.push_back(text);
        }
    }
    return texts;
}

TEST(IndexFormat, RoundTripsThroughTwoIndependentParsers) {
    KnowledgeIndex index;
    int n = 0;
    for (const auto& text : awkwardTexts()) {
        index.documents.push_back({"users/x/knowledge/" + std::to_string(n++) + ".md", text, text});
    }
    index.skipped = 3;
    index.updatedAt = Timestamp{818270553.2002587};
    const Bytes bytes = JsonCodec<KnowledgeIndex>::encode(index);

    const auto decoded = JsonCodec<KnowledgeIndex>::decode(bytes);
    EXPECT_EQ(decoded.documents, index.documents);
    EXPECT_EQ(decoded.skipped, 3);
    EXPECT_EQ(decoded.updatedAt, index.updatedAt);

    const auto other = nlohmann::json::parse(bytes);
    ASSERT_EQ(other["documents"].size(), index.documents.size());
    for (std::size_t i = 0; i < index.documents.size(); ++i) {
        EXPECT_EQ(other["documents"][i]["text"].get<std::string>(), index.documents[i].text) << i;
    }
    EXPECT_EQ(other["updatedAt"].get<double>(), index.updatedAt.seconds);
    // Slashes are always escaped, in short strings and in the sixteen-byte runs of long ones.
    EXPECT_EQ(bytes.find("a/b"), std::string::npos);
    EXPECT_EQ(bytes.find("x/x"), std::string::npos);
    EXPECT_NE(bytes.find("x\\/x"), std::string::npos);
    EXPECT_LT(bytes.find("\"documents\""), bytes.find("\"skipped\""));
    EXPECT_LT(bytes.find("\"skipped\""), bytes.find("\"updatedAt\""));
    EXPECT_LT(bytes.find("\"relativePath\""), bytes.find("\"text\""));
    EXPECT_LT(bytes.find("\"text\""), bytes.find("\"title\""));
}

TEST(IndexFormat, AwkwardContentIsRecognisedAsUnchanged) {
    testing::TempDir dir;
    auto workspace = Workspace::create(dir / "station", "站");
    int n = 0;
    for (const auto& text : awkwardTexts()) {
        testing::writeFile(workspace.knowledgeURL() / "inbox" / (std::to_string(n++) + ".md"),
                           text);
    }
    const auto first = workspace.rebuildIndex();
    EXPECT_EQ(first.documents.size(), awkwardTexts().size());
    const auto stored = readFile(workspace.root() / "system/indexes/knowledge.json");
    const auto second = workspace.rebuildIndex();
    EXPECT_EQ(second.updatedAt, first.updatedAt);
    EXPECT_EQ(second.documents, first.documents);
    // One byte of difference in the stored text is noticed and the file replaced.
    testing::writeFile(workspace.knowledgeURL() / "inbox/0.md", "changed");
    const auto third = workspace.rebuildIndex();
    EXPECT_NE(third.updatedAt, first.updatedAt);
    EXPECT_NE(readFile(workspace.root() / "system/indexes/knowledge.json"), stored);
}

}  // namespace
}  // namespace ostrak
