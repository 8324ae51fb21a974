#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include <unicode/uloc.h>

#include "testing.hpp"

// Texts that put every byte that needs escaping before, on and after sixteen-byte boundaries.
static std::vector<std::string> awkwardTexts() {
    std::vector<std::string> texts = {"", "/", "a/b\\c\"d", "知识/库\n第二行\r\n",
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
    // Long runs of two- and six-byte escapes, compared in several 64 KiB pieces.
    std::string slashes(70000, '/');
    std::string mixed;
    for (int i = 0; i < 30000; ++i) mixed += "a\x01/";
    texts.push_back(slashes);
    texts.push_back(mixed);
    texts.push_back(std::string(2000, '\x01'));  // every byte a six-byte escape
    return texts;
}

static std::vector<std::string> paths(const KnowledgeIndex& index) {
    std::vector<std::string> out;
    for (const auto& document : index.documents) out.push_back(document.relativePath);
    return out;
}

class KnowledgeIndexTest : public ::testing::Test, protected Station {};

// The stored index reads back the same through this program and an independent parser, with
// "/" escaped in short strings and in the sixteen-byte runs of long ones. It is left alone when
// its content is exactly the new one, whatever escapes and layout it was written with; a
// changed skip count, one changed byte or bytes after the end are not the same content.
TEST_F(KnowledgeIndexTest, StoresAwkwardTextFaithfullyAndOnlyWhenItChanged) {
    const auto texts = awkwardTexts();
    for (std::size_t i = 0; i < texts.size(); ++i)
        put("inbox/" + std::to_string(i) + ".md", texts[i]);
    const auto first = workspace.rebuildIndex();
    EXPECT_EQ(workspace.rebuildIndex().updatedAt, first.updatedAt);  // the same bytes: kept
    const std::string written = readFile(indexFile);
    const auto stored = nlohmann::json::parse(written);
    ASSERT_EQ(stored["documents"].size(), texts.size());
    for (const auto& document : stored["documents"]) {
        const auto name = fs::path(document["relativePath"].get<std::string>()).stem().native();
        EXPECT_EQ(document["text"], texts[std::stoul(name)]) << name;
        // Byte for byte as JSON escapes it, with "/" as "\/" besides.
        std::string expected = "\"text\" : ";
        for (const char c : nlohmann::json(texts[std::stoul(name)]).dump())
            expected += c == '/' ? "\\/" : std::string(1, c);
        EXPECT_NE(written.find(expected + ",\n"), std::string::npos) << name;
    }
    // The same bytes with another update time, short or long, are still the same index; with
    // a time that is not a JSON number they are not an index at all.
    const auto timeAt = written.rfind(' ') + 1;
    for (const std::string& time :
         std::vector<std::string>{"7", "42.5", "1765180000.1234567", "1.7651800001234567e+09",
                                  "1765180000.5" + std::string(49, '0')}) {
        writeFile(indexFile, written.substr(0, timeAt) + time + "\n}\n");
        EXPECT_EQ(workspace.rebuildIndex().updatedAt.seconds, std::stod(time)) << time;
    }
    for (const std::string time : {"inf", "05", ".5", "5."}) {
        writeFile(indexFile, written.substr(0, timeAt) + time + "\n}\n");
        workspace.rebuildIndex();
        EXPECT_NO_THROW(workspace.loadIndex()) << time;
    }
    // The same index in another layout from the first path on (its first byte escaped, no
    // "/" escaped) is kept, although its opening is this program's and its length is not.
    std::string relaid = written.substr(0, timeAt);
    const auto pathStart = relaid.find("\"relativePath\" : \"") + 18;
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                  static_cast<unsigned char>(relaid[pathStart]));
    relaid.replace(pathStart, 1, escaped);
    for (std::size_t at = 0; (at = relaid.find("\\/", at)) != std::string::npos;)
        relaid.erase(at, 1);
    writeFile(indexFile, relaid + "1234.5\n}\n");
    EXPECT_EQ(workspace.rebuildIndex().updatedAt, Timestamp{1234.5});
    writeFile(indexFile, written);
    EXPECT_EQ(stored["updatedAt"].get<double>(), first.updatedAt.seconds);
    EXPECT_EQ(readFile(indexFile).find("x/x"), std::string::npos);
    EXPECT_EQ(workspace.loadIndex().documents, first.documents);
    fs::create_symlink(knowledge / "inbox/0.md", knowledge / "notes/link.md");
    EXPECT_EQ(workspace.rebuildIndex().skipped, 1);
    EXPECT_EQ(workspace.loadIndex().skipped, 1);
    writeFile(indexFile, readFile(indexFile) + "garbage");
    workspace.rebuildIndex();
    EXPECT_EQ(readFile(indexFile).find("garbage"), std::string::npos);
    const std::string whole = readFile(indexFile);
    for (const std::string escape : {"\\/", "\\u001f"}) {  // a file that ends inside one
        writeFile(indexFile, whole.substr(0, whole.rfind(escape) + escape.size() / 2));
        workspace.rebuildIndex();
        EXPECT_EQ(workspace.loadIndex().documents, workspace.rebuildIndex().documents) << escape;
    }
    const std::string storedBefore = readFile(indexFile);
    std::string changed = texts.back();
    changed.back() = 'y';  // one byte of one text
    put("inbox/" + std::to_string(texts.size() - 1) + ".md", changed);
    workspace.rebuildIndex();
    EXPECT_NE(readFile(indexFile), storedBefore);

    fs::remove_all(knowledge / "inbox");
    fs::remove(knowledge / "notes/link.md");
    put("notes/a.md", "# 标题\n正文");
    const auto single = workspace.rebuildIndex();
    writeFile(indexFile, R"({"updatedAt":42.5,"skipped":0,"documents":[{"title":"\u6807\u9898",)"
                         R"("text":"# 标题\n正文","relativePath":")" +
                             relative("notes/a.md") + R"("}]})");
    const auto compact = workspace.rebuildIndex();
    EXPECT_EQ(compact.updatedAt, Timestamp{42.5});
    EXPECT_EQ(compact.documents, single.documents);
}

// The counts a status line shows are read from the stored index's layout, never fooled by a note
// that spells out that layout in its text; another layout is loaded instead; none is none.
TEST_F(KnowledgeIndexTest, CountsTheStoredIndexWithoutDecodingIt) {
    EXPECT_EQ(workspace.storedIndexCounts(), std::nullopt);
    put("a.md", "x\n      \"relativePath\" : \"y\n    {\n");
    put("b.md", "b");
    fs::create_symlink(knowledge / "b.md", knowledge / "c.md");
    workspace.rebuildIndex();
    EXPECT_EQ(workspace.storedIndexCounts(), (IndexCounts{2, 1}));
    writeFile(indexFile, "{\"documents\":[{\"relativePath\":\"" + relative("b.md") +
                             "\",\"title\":\"b\",\"text\":\"b\"}],\"skipped\":3,"
                             "\"updatedAt\":1}");
    EXPECT_EQ(workspace.storedIndexCounts(), (IndexCounts{1, 3}));
}

TEST_F(KnowledgeIndexTest, IndexesMarkdownAndTextWithTitlesFromTheFirstLine) {
    const std::tuple<std::string, std::string, std::string> notes[] = {
        {"Plan.MD", "", "Plan"},
        {"a.TXT", "text", "text"},
        {"b.md", "\n\n## word ##\nrest", "word"},
        {"c.md", "\n# # #  \ntext", ""},
        {"d.md", "\r\n标题一\r\n第二行", "标题一"},
        {"f.md", "\t# tab stays\n", "\t# tab stays"},
        {"g.md", std::string(130, 'x') + "\n", std::string(120, 'x')}};
    for (const auto& [file, text, title] : notes) put(file, text);
    put("a.markdown", "no");
    put("a.rtf", "no");
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(index.skipped, 0);
    ASSERT_EQ(index.documents.size(), std::size(notes));
    std::map<std::string, IndexedDocument> found;
    for (const auto& document : index.documents) found[document.relativePath] = document;
    for (const auto& [file, text, title] : notes) {
        EXPECT_EQ(found[relative(file)].title, title) << file;
        EXPECT_EQ(found[relative(file)].text, text) << file;
    }
}

// Each entry counted as skipped is listed with its reason, in walk order, and listing writes
// nothing.
TEST_F(KnowledgeIndexTest, CountsWhatItCannotIndexAndSaysWhy) {
    put("exact.md", std::string(262144, 'x'));
    put("over.md", std::string(262145, 'x'));
    put("latin1.md",
        "M\xfcller und Stra\xdf"
        "e");  // Latin-1 is not taken for GBK
    put("gbk.txt", "\xd6\xd0\xce\xc4 GBK");
    put("bad\xff.md", "fine inside");
    put("back\\xFF\xff.md", "a backslash of its own and a byte that is not UTF-8");
    put("other\xfe/inside.md", "never seen");
    put("other\xfe/more.md", "never seen");
    put("linked/one.md", "1");
    fs::create_directory_symlink(knowledge / "linked", knowledge / "alias");
    put(".hidden/secret.md", "hidden");
    put(".hidden.md", "hidden");
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(paths(index),
              (std::vector<std::string>{relative("exact.md"), relative("linked/one.md")}));
    const std::vector<SkippedEntry> expected{
        {"alias", "符号链接"},
        {"back\\\\xFF\\xFF.md", "名称不是 UTF-8"},
        {"bad\\xFF.md", "名称不是 UTF-8"},
        {"gbk.txt", "不是 UTF-8 文本，可能是 GBK 编码"},
        {"latin1.md", "不是 UTF-8 文本"},
        {"other\\xFE", "名称不是 UTF-8"},  // the folder once, not entered
        {"over.md", "超过 256 KB"},
    };
    EXPECT_EQ(index.skipped, 7);
    fs::remove(indexFile);
    EXPECT_EQ(workspace.skippedEntries(), expected);
    EXPECT_FALSE(fs::exists(indexFile));
}

TEST_F(KnowledgeIndexTest, KeepsToTheByteBudget) {
    // 64 files fill the 16 MiB budget but for 10 bytes: a 20-byte file no longer fits, a
    // 10-byte file after it still does.
    put("big/100.md", std::string(262134, 'b'));
    for (int i = 101; i < 164; ++i)
        put("big/" + std::to_string(i) + ".md", std::string(262144, 'b'));
    put("big/200.md", std::string(20, 's'));
    put("big/300.md", std::string(10, 's'));
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(index.documents.size(), 65u);
    EXPECT_EQ(index.documents.back().relativePath, relative("big/300.md"));
    EXPECT_EQ(index.skipped, 1);
}

// Past the limits, what the stored index holds goes first: a note once found stays found while
// it exists and fits, whatever sorts before it, and what is left out is the newest material.
TEST_F(KnowledgeIndexTest, PastItsLimitsKeepsWhatItHeldAndLeavesOutTheNewest) {
    std::vector<std::string> held;
    for (int i = 0; i < 999; ++i) held.push_back("notes/5" + std::to_string(1000 + i) + ".md");
    held.push_back("notes/9-confirmed.md");
    for (const auto& name : held) put(name, "held");
    fs::create_directory_symlink(knowledge / "notes", knowledge / "alias");  // counted once
    ASSERT_EQ(workspace.rebuildIndex().documents.size(), 1000u);
    const auto putMany = [&](const std::string& prefix, int count) {
        for (int i = 0; i < count; ++i) put(prefix + std::to_string(1000 + i) + ".md", "new");
    };
    struct Step {
        std::string what;
        std::function<void()> change;
        std::int64_t skipped;
        std::string gone, admitted;  // a held note left out, a newcomer taken in its place
    };
    const std::vector<Step> steps{
        {"200 new notes that sort first", [&] { putMany("notes/0", 200); }, 201, "", ""},
        {"2,500 files imported into inbox/, one of them GBK",
         [&] {
             putMany("inbox/", 2500);
             put("inbox/0-gbk.txt", "\xd6\xd0\xce\xc4");
         },
         2702, "", ""},
        {"a held note grown past 256 KB", [&] { put(held[0], std::string(262145, 'x')); },
         2702,  // it is counted, and a newcomer takes its place
         held[0], "inbox/1000.md"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const auto index = workspace.rebuildIndex();
        EXPECT_EQ(index.documents.size(), 1000u);
        EXPECT_EQ(index.skipped, step.skipped);
        const auto now = paths(index);
        const auto holds = [&](const std::string& name) {
            return std::binary_search(now.begin(), now.end(), relative(name));
        };
        for (const auto& name : held) EXPECT_EQ(holds(name), name != step.gone) << name;
        if (!step.admitted.empty()) {
            EXPECT_TRUE(holds(step.admitted));
        }
        const auto skipped = workspace.skippedEntries();
        EXPECT_EQ(skipped.size(), static_cast<std::size_t>(step.skipped));
        for (const auto& entry : skipped) {
            // Left out for the capacity, text that is not UTF-8 is still named as such.
            const auto reason = entry.relativePath == "inbox/0-gbk.txt" ? skipReason::maybeGbk
                                : entry.relativePath == "alias"         ? skipReason::link
                                : entry.relativePath == step.gone       ? skipReason::tooLarge
                                                                        : skipReason::capacity;
            EXPECT_EQ(entry.reason, reason) << entry.relativePath;
        }
        EXPECT_EQ(workspace.loadIndex().documents, index.documents);
    }
}

// Control bytes are stored six times longer ("\u0001"): a full knowledge base of them, in
// folders named with them, would make an index past what loadIndex reads. The documents that
// would take it there are counted as skipped, and what is stored loads again.
TEST_F(KnowledgeIndexTest, StoresNoIndexItsReaderWouldRefuse) {
    const std::string folder(250, '\x01');
    const std::string deep = "c/" + folder + "/" + folder + "/" + folder + "/";
    for (int i = 0; i < 1000; ++i)
        put(deep + std::to_string(i) + ".md", std::string(16700, '\x01'));
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(index.documents.size() + static_cast<std::size_t>(index.skipped), 1000u);
    EXPECT_GT(index.skipped, 0);
    EXPECT_LE(fs::file_size(indexFile), 104857600u);
    EXPECT_EQ(workspace.loadIndex().documents.size(), index.documents.size());
}

// The 10,000-entry budget counts folders too. Exactly 10,000 entries are all examined, one more
// is skipped; where it runs out inside a folder, the entries examined are its first names in
// byte order, whatever order the file system lists them in.
TEST_F(KnowledgeIndexTest, StopsAfterTenThousandEntriesInByteOrder) {
    // attachments (1) + its files (9,899) + inbox (1) leave 99 entries: 98 notes and "notes".
    for (int i = 0; i < 9899; ++i) put("attachments/" + std::to_string(10000 + i) + ".dat", "");
    std::vector<std::string> expected;
    for (int i = 0; i < 98; ++i) {
        const std::string name = "inbox/" + std::to_string(1000 + i) + ".md";
        put(name, "note");
        expected.push_back(relative(name));
    }
    EXPECT_EQ(workspace.rebuildIndex().skipped, 0);  // "notes" is the 10,000th
    // A name before all others and a hundred after them: 99 examined, the first in byte order.
    put("inbox/0999.md", "note");
    expected.insert(expected.begin(), relative("inbox/0999.md"));
    for (int i = 0; i < 100; ++i) put("inbox/" + std::to_string(2000 + i) + ".md", "note");
    const auto index = workspace.rebuildIndex();
    EXPECT_EQ(paths(index), expected);
    EXPECT_EQ(index.skipped, 1);
    EXPECT_EQ(workspace.skippedEntries(),
              (std::vector<SkippedEntry>{{"inbox/2000.md", "目录条目超过 10,000 项，其余未检查"}}));
}

// A locked folder and a file of another user need an unprivileged run with such a file
// (scripts/test run as root provides both); without them the test says it was skipped.
TEST_F(KnowledgeIndexTest, AnUnreadableOrForeignEntryKeepsThePreviousIndex) {
    put("notes/a.md", "a");
    workspace.rebuildIndex();
    const std::string before = readFile(indexFile);
    const auto foreign = environmentValue("OSTRAK_TEST_FOREIGN_FILE");
    const bool canTry = !runningAsRoot() && !foreign.empty();
    if (canTry) {
        put("inbox/deep/locked/b.md", "b");
        ::chmod((knowledge / "inbox/deep/locked").c_str(), 0);
        EXPECT_MESSAGE(expected::partlyUnreadable, workspace.rebuildIndex());
        ::chmod((knowledge / "inbox/deep/locked").c_str(), 0700);
        fs::create_hard_link(foreign, knowledge / "notes/foreign.md");
        EXPECT_MESSAGE(expected::unfit, workspace.rebuildIndex());
        EXPECT_EQ(readFile(indexFile), before);
    }
    fs::remove_all(knowledge);
    EXPECT_MESSAGE("知识库目录无法读取。", workspace.rebuildIndex());
    if (!canTry)
        GTEST_SKIP() << "a locked folder and a foreign file need a run as a user "
                        "with OSTRAK_TEST_FOREIGN_FILE (scripts/test as root sets both)";
}

TEST_F(KnowledgeIndexTest, LoadingRefusesBrokenIndexes) {
    EXPECT_MESSAGE(expected::unreadable, workspace.loadIndex());
    for (
        const char* broken :
        {"{", R"({"documents":[],"skipped":0})",
         R"({"documents":[{"title":"t","text":"x"}],"skipped":0,"updatedAt":1})",
         R"({"documents":[],"skipped":"0","updatedAt":1})",
         R"({"documents":[],"skipped":0.5,"updatedAt":1})",
         R"({"documents":[],"skipped":0,"updatedAt":1} trailing)",
         R"({"documents":[{"relativePath":"a","title":"t","text":"\ud800"}],"skipped":0,"updatedAt":1})",
         R"({"documents":[{"relativePath":"a","title":"t","text":"\udc00x"}],"skipped":0,"updatedAt":1})",
         R"({"documents":[{"relativePath":"a","title":"t","text":"\q"}],"skipped":0,"updatedAt":1})",
         R"({"documents":[{"relativePath":"a","title":"t","text":"\u12"}],"skipped":0,"updatedAt":1})",
         "{\"documents\":[{\"relativePath\":\"a\",\"title\":\"\x01\",\"text\":\"\"}],"
         "\"skipped\":0,\"updatedAt\":1}"}) {
        writeFile(indexFile, broken);
        EXPECT_MESSAGE(expected::format, workspace.loadIndex()) << broken;
    }
    // Escapes this program never writes read as any JSON parser reads them.
    const std::string escaped =
        R"({"updatedAt":1,"skipped":0,"documents":[{"relativePath":"a","title":"\"\\",)"
        R"("text":"\ud83d\udc4d\b\f\t\r\/\u00e9\"end\\","extra":[1,{"x":null}]}]})";
    writeFile(indexFile, escaped);
    const auto loaded = workspace.loadIndex();
    EXPECT_EQ(loaded.documents.at(0).title, "\"\\");
    EXPECT_EQ(loaded.documents.at(0).text,
              nlohmann::json::parse(escaped)["documents"][0]["text"].get<std::string>());
    // A count is read by the same rule as in every other stored file: a whole number however
    // it is written.
    writeFile(indexFile, R"({"documents":[],"skipped":2e0,"updatedAt":1})");
    EXPECT_EQ(workspace.loadIndex().skipped, 2);
}

TEST_F(KnowledgeIndexTest, DocumentURLsStayInsideTheKnowledgeFolder) {
    EXPECT_EQ(workspace.documentURL({relative("notes/a.md"), "", ""}), knowledge / "notes/a.md");
    fs::create_directory_symlink(dir.path(), knowledge / "escape");
    const std::string outside = "来源不在本工作站知识库内。";
    const std::pair<std::string, std::string> cases[] = {
        {relative("notes/../../x.md"), outside},
        {"/etc/passwd", outside},
        {relative(""), outside},
        {relative("../knowledge-old/x.md"), outside},
        {relative("escape/x.md"), expected::link}};
    for (const auto& [path, message] : cases) {
        EXPECT_MESSAGE(message, workspace.documentURL({path, "", ""})) << path;
    }
}

TEST(Search, FoldsCaseAndKeepsIndexOrder) {
    KnowledgeIndex index;
    for (int i = 0; i < 80; ++i) {
        index.documents.push_back({"p/" + std::to_string(100 + i), "标题", "the Straße of Café"});
    }
    index.documents.push_back({"q/1", "\u212Aelvin", "nothing"});
    index.documents.push_back({"q/2", "ＷＩＤＥ", "wide"});
    index.documents.push_back({"q/5", "Zoo", "ÀÞ"});  // the ends of folding ranges
    const auto found = index.search("  STRASSE \n");
    ASSERT_EQ(found.size(), 50u);
    EXPECT_EQ(found.front().relativePath, "p/100");
    EXPECT_EQ(found.back().relativePath, "p/149");
    // Counted: the same first matches, and every one in the total; 0 keeps them all.
    for (const std::size_t limit : {50u, 10u, 0u}) {
        const auto counted = index.searchCounting("  STRASSE \n", limit);
        EXPECT_EQ(counted.total, 80u);
        ASSERT_EQ(counted.documents.size(), limit == 0 ? 80u : limit);
        const auto shared = std::min(counted.documents.size(), found.size());
        EXPECT_TRUE(std::equal(found.begin(), found.begin() + shared, counted.documents.begin()));
    }
    EXPECT_EQ(index.searchCounting("missing", 50).total, 0u);
    const std::pair<const char*, std::size_t> counts[] = {
        {"café", 50},    {"cafe", 0},    // accents count
        {"标", 50},      {"p/1", 0},     // paths are not searched
        {" \n\t", 0},    {"kELVIN", 1},  // the Kelvin sign folds to "k"
        {"ｗｉｄｅ", 1}, {"zoo", 1},    {"àþ", 1}};
    // Characters whose full folding adds a combining mark fold whether written precomposed
    // or not: U+01F0 is "j" + U+030C, U+1E96 "h" + U+0331, U+1FF6 "ω" + U+0342.
    index.documents.push_back({"q/3", "\u01F0 \u1E96 \u1FF6", "x"});
    index.documents.push_back({"q/4", "J\u030C H\u0331 \u03A9\u0342", "x"});
    for (const char* query : {"\u01F0", "J\u030C", "\u1E96", "h\u0331", "\u1FF6", "\u03A9\u0342"}) {
        EXPECT_EQ(index.search(query).size(), 2u) << query;
    }
    for (const auto& [query, count] : counts) EXPECT_EQ(index.search(query).size(), count) << query;
}

// In a Turkish or Azerbaijani locale, dotless and dotted I fold as those languages write them;
// elsewhere "I" folds to "i" and "İ" to "i" with a combining dot.
TEST(Search, FollowsTheTurkicRuleInATurkicLocale) {
    KnowledgeIndex index;
    index.documents.push_back({"a", "ılık", "x"});
    index.documents.push_back({"b", "İstanbul", "x"});
    const std::string before = uloc_getDefault();
    for (const auto& [locale, found] : {std::pair{"tr_TR", 1u}, {"az_AZ", 1u}, {"en_US", 0u}}) {
        UErrorCode status = U_ZERO_ERROR;
        uloc_setDefault(locale, &status);
        EXPECT_EQ(index.search("ILIK").size(), found) << locale;
        EXPECT_EQ(index.search("istanbul").size(), found) << locale;
    }
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault(before.c_str(), &status);
}
