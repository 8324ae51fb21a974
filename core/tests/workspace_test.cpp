#include "testing.hpp"

using expected::occupied;
static const std::string& nameMessage = expected::name;

static std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// Names are counted in user-perceived characters: an emoji with a skin tone is one.
TEST(ValidName, TrimsAndCountsCharactersAndRefusesControlAndFormatCharacters) {
    EXPECT_EQ(Workspace::validName("  书房 \n"), "书房");
    EXPECT_EQ(Workspace::validName("\u3000my station\u00a0"), "my station");
    EXPECT_EQ(Workspace::validName(repeat("知", 48)), repeat("知", 48));
    EXPECT_EQ(Workspace::validName(repeat("👍🏽", 48)), repeat("👍🏽", 48));
    for (const std::string& bad :
         {repeat("知", 49), repeat("👍🏽", 49), std::string("👨‍👩‍👧"),
          std::string(""), std::string("\n\t"), std::string("a\nb"), std::string("a\u200bb"),
          std::string("\ufeffab"), std::string("a\x01z"), std::string("\xff\xfe")}) {
        EXPECT_MESSAGE(nameMessage, Workspace::validName(bad)) << bad;
    }
}

// What cannot be taken is refused with nothing touched; an empty folder open to others is taken
// and made private, like every folder created on the way.
TEST(Create, TakesOnlyEmptyFoldersAndMakesThemPrivate) {
    TempDir dir;
    fs::create_directory(dir / "hidden");
    writeFile(dir / "hidden/.directory", "view settings");
    writeFile(dir / "file", "x");
    Workspace::create(dir / "twice", "站");
    fs::create_directory_symlink(dir.path(), dir / "link");
    const std::string unusable = "请选择用户目录中的数据位置。";
    const std::pair<Path, std::string> refused[] = {
        {dir / "hidden", occupied},   {dir / "file", occupied},
        {dir / "twice", occupied},    {dir / "bad\xff\xfe", unusable},
        {"relative/place", unusable}, {dir / "link/station", expected::link}};
    for (const auto& [path, message] : refused) {
        EXPECT_MESSAGE(message, Workspace::create(path, "站")) << path;
    }
    EXPECT_MESSAGE(nameMessage, Workspace::create(dir / "bad-name", "\n"));
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"file", "hidden", "link", "twice"}));
    EXPECT_EQ(entries(dir / "hidden"), std::vector<std::string>{".directory"});
    const auto workspace = Workspace::create(dir / "new/parents/station", "  研究站 ");
    EXPECT_EQ(workspace.configuration().name, "研究站");
    EXPECT_EQ(modeOf(dir / "new"), 0700u);
    fs::create_directory(dir / "empty");
    ::chmod((dir / "empty").c_str(), 0755);
    Workspace::create(dir / "empty/", "站");
    EXPECT_EQ(modeOf(dir / "empty"), 0700u);
}

// Opening restores missing folders only when asked; a rename rewrites only the name.
TEST(Open, ReopensAndRenamesKeepingTheIdentity) {
    TempDir dir;
    auto created = Workspace::create(dir / "station", "站");
    fs::remove(dir / "station/system/logs");
    const auto opened = Workspace::open(dir / "station/./");
    EXPECT_FALSE(fs::exists(dir / "station/system/logs"));
    EXPECT_EQ(opened.root(), created.root());
    opened.ensureDirectories();
    EXPECT_EQ(modeOf(dir / "station/system/logs"), 0700u);
    created.rename(" 新名字 ");
    EXPECT_MESSAGE(nameMessage, created.rename("a\tb"));
    const auto before = opened.configuration();
    const auto stored = Workspace::open(dir / "station").configuration();
    EXPECT_EQ(created.configuration().name, "新名字");
    EXPECT_EQ(std::tie(stored.name, stored.id, stored.ownerID, stored.createdAt),
              std::tie(created.configuration().name, before.id, before.ownerID, before.createdAt));
    // A folder open to others is refused and left as it is.
    ::chmod((dir / "station").c_str(), 0755);
    EXPECT_MESSAGE("工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。",
                   Workspace::open(dir / "station"));
    EXPECT_EQ(modeOf(dir / "station"), 0755u);
}

TEST(Open, ChecksTheIdentityInOrder) {
    TempDir dir;
    Workspace::create(dir / "station", "站");
    const auto identity = dir / "station/station.json";
    const std::string a = "6F2D5C1A-0000-4000-8000-000000000001";
    const std::string b = "6F2D5C1A-0000-4000-8000-000000000002";
    const auto station = [&](const std::string& schema, const std::string& id,
                             const std::string& name) {
        return R"({"createdAt":1,"id":")" + id + R"(","name":")" + name + R"(","ownerID":")" + b +
               R"(","schema":)" + schema + "}";
    };
    const std::string other = "此工作站由其他版本创建，请使用兼容版本打开。";
    const std::pair<std::string, std::string> cases[] = {
        {station("2", a, "站"), other},
        {station("0", a, "站"), other},
        {station("1", b, "\\n"), nameMessage},
        {station("1", b, "站"), "工作站身份损坏，已保留原始资料。"},
        {station("1", a, "  站  "), noError}};
    for (const auto& [content, message] : cases) {
        writeFile(identity, content);
        EXPECT_MESSAGE(message, Workspace::open(dir / "station")) << content;
    }
    EXPECT_EQ(Workspace::open(dir / "station").configuration().name, "  站  ");
    // A folder with no identity is no workstation, whatever its modes: it is told so.
    fs::remove(identity);
    fs::permissions(dir / "station", fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::add);
    EXPECT_MESSAGE("该目录不是工作站：缺少 station.json。", Workspace::open(dir / "station"));
}

// Limits count UTF-8 bytes; the whole note is the body and 6 bytes of "# t\n\n" and "\n". A
// saved note is a new file named by a UUID, starting with its title line.
TEST(Notes, ChecksTheLimitsAndWritesANewFileWithTheTitleLine) {
    TempDir dir;
    const auto workspace = Workspace::create(dir / "station", "站");
    const std::string body = "笔记内容不能为空，且不超过 256 KB。";
    const std::string whole = "包含标题的完整笔记不能超过 256 KB。";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"\n", " \n ", nameMessage},
        {"标题", " \n\t\u3000", body},
        {"t", repeat("知", 87382), body},  // 262,146 bytes in far fewer characters
        {"t", std::string(262144, 'x'), whole},
        {"t", std::string(262139, 'x'), whole}};
    for (const auto& [title, text, message] : cases) {
        EXPECT_MESSAGE(message, workspace.writeNote(title, text)) << title;
    }
    EXPECT_TRUE(entries(workspace.knowledgeURL() / "notes").empty());
    const Path note = workspace.writeNote("  # 周报 ", "\n第一行\n\n");
    EXPECT_EQ(note.parent_path(), workspace.knowledgeURL() / "notes");
    const auto id = Uuid::parse(note.stem().native());
    EXPECT_EQ(note.filename().native(), (id ? id->text() : "not a UUID") + ".md");
    EXPECT_EQ(readFile(note), "# # 周报\n\n\n第一行\n\n\n");
    EXPECT_NE(workspace.writeNote("  # 周报 ", "\n第一行\n\n"), note);
    EXPECT_EQ(fs::file_size(workspace.writeNote("t", std::string(262138, 'x'))), 262144u);
    fs::remove_all(workspace.knowledgeURL() / "notes");
    EXPECT_MESSAGE("目标目录不可写或不属于当前用户。", workspace.writeNote("标题", "正文"));
    EXPECT_FALSE(fs::exists(workspace.knowledgeURL() / "notes"));
}

// The pointer lives in the user's data home (a relative XDG_DATA_HOME is ignored, as the XDG
// rules say) and leads back to the same workstation, or says why not and keeps itself.
TEST(Pointer, ReopensTheSameWorkstationOrSaysWhyNot) {
    TempHome home;
    TempDir dir;
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(Installation::supportDirectory(), home.path() / ".local/share/PlovikWorkstation");
    ::setenv("XDG_DATA_HOME", (home.path() / "xdg").c_str(), 1);
    EXPECT_EQ(Installation::supportDirectory(), home.path() / "xdg/PlovikWorkstation");
    EXPECT_FALSE(fs::exists(home.path() / "xdg"));
    EXPECT_FALSE(Installation::hasSavedWorkspace());
    const auto created = Workspace::create(dir / "first", "站");
    Installation::save(created);
    EXPECT_EQ(modeOf(Installation::supportDirectory()), 0700u);
    EXPECT_EQ(Installation::load().configuration().id, created.configuration().id);
    const auto pointer = Installation::supportDirectory() / "installation.json";
    const std::string saved = readFile(pointer);
    // Another workstation now stands where the pointer leads, then none.
    fs::rename(dir / "first", dir / "moved");
    Workspace::create(dir / "first", "站");
    EXPECT_MESSAGE("工作站身份发生变化，已停止自动连接。", Installation::load());
    EXPECT_EQ(readFile(pointer), saved);
    // Gone (a disk not plugged in): said so, and no new workstation takes its place there.
    fs::remove_all(dir / "first");
    const std::string missing = "找不到工作站目录：" + (dir / "first").native() +
                                "。如果它在移动硬盘或网络位置上，请先连接。";
    EXPECT_MESSAGE(missing, Installation::load());
    EXPECT_MESSAGE(missing, Installation::refuseReplacingMissing(dir.path() / "." / "first/"));
    Installation::refuseReplacingMissing(dir / "elsewhere");
    EXPECT_MESSAGE("找不到工作站目录：" + (dir / "gone/station").native() +
                       "。如果它在移动硬盘或网络位置上，请先连接。",
                   Workspace::open(dir / "gone/station"));
    // Gone while it is open (the app keeps it): saving, renaming and searching say so too.
    const auto open = Workspace::create(dir / "open", "站");
    fs::rename(dir / "open", dir / "unplugged");
    const std::string gone = "找不到工作站目录：" + (dir / "open").native() +
                             "。如果它在移动硬盘或网络位置上，请先连接。";
    EXPECT_MESSAGE(gone, open.writeNote("标题", "正文"));
    EXPECT_MESSAGE(gone, Workspace(open).rename("新"));
    EXPECT_MESSAGE(gone, open.rebuildIndex());
    writeFile(pointer, std::string(8193, ' '));
    EXPECT_MESSAGE(expected::unfit, Installation::load());
    writeFile(pointer, "{\"root\": 5}");
    EXPECT_TRUE(Installation::hasSavedWorkspace());
    EXPECT_MESSAGE(expected::format, Installation::load());
    fs::remove(pointer);
    EXPECT_MESSAGE(expected::unreadable, Installation::load());
    // A location legal on disk whose pointer would pass its reader's limit ("/" is stored
    // escaped) is refused before anything is made there.
    Path deep = dir.path();
    for (int level = 0; level < 33; ++level) deep /= std::string(255, 'a');
    EXPECT_MESSAGE("请选择用户目录中的数据位置。", Workspace::create(deep, "站"));
    EXPECT_FALSE(fs::exists(dir / std::string(255, 'a')));
}
