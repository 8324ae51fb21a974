// The installed plovik as a user runs it: a process in a temporary home, with the private keyring
// and the private user manager that scripts/test starts.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "child_process.hpp"
#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "testing.hpp"

using namespace ostrak;
using namespace ostrak::testing;

namespace {

using Outcome = Finished;
using Environment = std::vector<std::string>;  // name=value changes

Outcome run(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& input = {}, const Environment& changes = {}) {
    return runToEnd(program, arguments, std::chrono::seconds(120), input, environmentWith(changes));
}

std::size_t notesIn(const Path& root) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "users"))
        count += entry.path().extension() == ".md" ? 1 : 0;
    return count;
}

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

int listeningSocket(const std::string& path) {
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = socketAddress(path);
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening, 16) != 0) {
        ADD_FAILURE() << "cannot listen on " << path;
    }
    return listening;
}

// Passes the connections made to `path` on to the user manager's socket at `manager`, holding
// each piece back a while: the manager's answers 50 ms, so that plovik's first call is sent
// before the authentication has ended, and plovik's bytes 20 ms, so that this call reaches the
// manager in one piece with the end of the authentication, as on a busy machine.
class SlowPassage {
public:
    SlowPassage(const std::string& path, const std::string& manager)
        : m_listening(listeningSocket(path)), m_thread([this, manager] { serve(manager); }) {}
    ~SlowPassage() {
        ::shutdown(m_listening, SHUT_RDWR);
        m_thread.join();
        ::close(m_listening);
    }

private:
    void serve(const std::string& manager) {
        for (;;) {
            const int client = ::accept4(m_listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_un address = socketAddress(manager);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                relay(client, server);
            ::close(server);
            ::close(client);
        }
    }

    static void relay(int client, int server) {
        pollfd ends[] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[65536];
        while (::poll(ends, 2, 10000) > 0) {
            for (int from = 0; from < 2; ++from) {
                if (ends[from].revents == 0) continue;
                std::this_thread::sleep_for(std::chrono::milliseconds(from == 0 ? 20 : 50));
                const ssize_t got = ::read(ends[from].fd, buffer, sizeof buffer);
                // A side that has hung up ends the passage; it must not end the test by SIGPIPE.
                if (got <= 0 || ::send(ends[1 - from].fd, buffer, static_cast<std::size_t>(got),
                                       MSG_NOSIGNAL) != got)
                    return;
            }
        }
    }

    int m_listening;
    std::thread m_thread;
};

bool privateKeyring() {
    if (environmentValue("OSTRAK_TEST_PRIVATE_KEYRING") == "1") return true;
    if (environmentValue("CI") == "true") ADD_FAILURE() << "scripts/test must start a keyring";
    return false;
}

// One home with plovik installed in ~/.local, as the README's install puts it.
class PlovikTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = new TempHome;
        const std::string prefix = home->path() / ".local";
        const Outcome installed =
            run("/usr/bin/env", {"cmake", "--install", OSTRAK_BUILD_DIR, "--prefix", prefix});
        if (installed.status == 0)
            program = prefix + "/bin/plovik";
        else
            installFailure = installed.standardError;
    }
    static void TearDownTestSuite() { delete home; }
    // A failed install fails every test: Google Test would report a failure in SetUpTestSuite
    // as tests skipped, and CTest would count them as passed.
    void SetUp() override {
        if (program.empty()) FAIL() << "plovik could not be installed: " << installFailure;
    }

    Outcome plovik(const std::vector<std::string>& arguments, const std::string& input = {},
                   const Environment& changes = {}) {
        return run(program, arguments, input, changes);
    }

    static inline TempHome* home = nullptr;
    static inline std::string program;
    static inline std::string installFailure;
    // A path in the test's own folder.
    std::string at(const std::string& name) const { return (m_data / name).native(); }

    TempDir m_data;
};

struct Step {
    std::vector<std::string> arguments;
    std::string input;
    int status;
    std::string out, err;  // expected within standard output and standard error
    bool keyring = false;
};

}  // namespace

// The walk-through of the README and every action of the app, in order, on one workstation.
TEST_F(PlovikTest, commandsDoWhatTheAppDoes) {
    const std::string root = at("station");
    writeFile(at("first.md"), "\xEF\xBB\xBF# 第一篇\n关于 Linux 的笔记。\n");  // a byte-order mark
    const std::vector<Step> steps{
        {{"--version"}, {}, 0, "plovik " + std::string(Workspace::version) + "\n", {}},
        {{"status"}, {}, 0, "尚未建立", {}},
        {{"create", "测试站", "--at", root}, {}, 0, root + "\n", "本机数据目录已部署。"},
        {{"rename", "新名字"}, {}, 0, {}, "名字已保存。"},
        {{"note", "add", "--title", "第一篇", at("first.md")},
         {},
         0,
         root + "/users/",
         "原稿已保存，并已在本地索引查回。"},
        {{"note", "add", "--title", "第二篇"},
         "<b>&amp; 正文\x1b[31m</b>\u200F\u2028尾",  // ESC, RIGHT-TO-LEFT MARK, LINE SEPARATOR
         0,
         ".md\n",
         "查回"},
        {{"search", "linux"}, {}, 0, "第一篇\t" + root + "/users/", {}},
        {{"search", "正文"}, {}, 0, "<b>&amp; 正文 [31m</b> 尾", {}},
        {{"search", "无此词"}, {}, 0, {}, {}},
        {{"key", "set", "deepseek"},
         "sk-test-123\n",
         0,
         {},
         "已保存在本机钥匙串，尚未验证连接。",
         true},
        {{"key", "status", "deepseek"}, {}, 0, "已保存", {}, true},
        {{"key", "remove", "deepseek"}, {}, 0, {}, "密钥已从钥匙串移除。", true},
        {{"key", "status", "deepseek"}, {}, 1, {}, expected::noKey, true},
        {{"test", "zhipu"}, {}, 1, {}, expected::noKey, true},
        {{"diagnostics", at("diagnostics.json")}, {}, 0, {}, "诊断已导出"},
        {{"open", root}, {}, 0, root + "\n", "已打开工作站“新名字”。"},
    };
    for (const Step& step : steps) {
        if (step.keyring && !privateKeyring()) continue;
        const Outcome outcome = plovik(step.arguments, step.input);
        SCOPED_TRACE(step.arguments.at(0) + " " + step.arguments.back() + "\n" +
                     outcome.standardError);
        EXPECT_EQ(outcome.status, step.status);
        EXPECT_NE(outcome.standardOutput.find(step.out), std::string::npos)
            << outcome.standardOutput;
        EXPECT_NE(outcome.standardError.find(step.err), std::string::npos);
    }
    EXPECT_EQ(notesIn(root), 2u);
    EXPECT_EQ(modeOf(at("diagnostics.json")), 0600);

    // Every command's help, as git and gh give it: on standard output, status 0.
    for (const std::string command :
         {"status", "create", "open", "rename", "note add", "search", "index skipped", "key set",
          "key remove", "key status", "test", "service enable", "service disable", "service status",
          "diagnostics"}) {
        std::vector<std::string> words;
        for (std::size_t at = 0, space; at <= command.size(); at = space + 1) {
            space = std::min(command.find(' ', at), command.size());
            words.push_back(command.substr(at, space - at));
        }
        auto asked = words;
        asked.push_back("--help");
        words.insert(words.begin(), "help");
        for (const auto& arguments : {asked, words}) {
            const Outcome help = plovik(arguments);
            EXPECT_EQ(help.status, 0) << command;
            EXPECT_TRUE(help.standardOutput.starts_with("用法：plovik " + command)) << command;
            EXPECT_EQ(help.standardError, "") << command;
        }
    }
    EXPECT_NE(plovik({"note", "add", "--help"}).standardOutput.find("工作站名字的规则"),
              std::string::npos);
    EXPECT_EQ(plovik({"-V"}).standardOutput, plovik({"--version"}).standardOutput);
    // On an 80-column terminal a result names its file from the knowledge folder, and the line
    // fits the width; in a pipe the whole path stays.
    const Outcome onTerminal = run(
        "/usr/bin/script", {"-qec", "stty cols 80 && '" + program + "' search linux", "/dev/null"});
    EXPECT_NE(onTerminal.standardOutput.find("  notes/"), std::string::npos)
        << onTerminal.standardOutput;
    EXPECT_EQ(onTerminal.standardOutput.find(root), std::string::npos);

    // The documented JSON, parsed as a script would.
    const auto status = nlohmann::json::parse(plovik({"status", "--json"}).standardOutput);
    EXPECT_EQ(status["workstation"]["root"], root);
    EXPECT_EQ(status["workstation"]["name"], "新名字");
    EXPECT_EQ(status["workstation"]["keys"]["deepseek"], false);
    EXPECT_EQ(status["index"]["indexedDocuments"], 2);
    EXPECT_TRUE(status["heartbeat"].is_null());
    // A service that stopped leaves a heartbeat with no process and no age to tell.
    const Workspace station = Installation::load();
    station.saveHeartbeat({station.configuration().id, Timestamp::distantPast(), 0, 2, 0, {}});
    EXPECT_NE(plovik({"status"}).standardOutput.find("心跳：已停止\n"), std::string::npos);
    const auto stopped = nlohmann::json::parse(plovik({"status", "--json"}).standardOutput);
    EXPECT_EQ(stopped["heartbeat"]["stopped"], true);
    EXPECT_TRUE(stopped["heartbeat"]["ageSeconds"].is_null());
    const auto found = nlohmann::json::parse(plovik({"search", "LINUX", "--json"}).standardOutput);
    ASSERT_EQ(found["results"].size(), 1u);
    EXPECT_EQ(found["results"][0]["title"], "第一篇");
    EXPECT_EQ(found["results"][0]["preview"], "# 第一篇 # 第一篇 关于 Linux 的笔记。");

    // More matches than shown: said on standard error and in the JSON; --limit 0 shows all.
    const Workspace workspace = Installation::load();
    for (int i = 0; i < 55; ++i) workspace.writeNote("批量 " + std::to_string(i), "重复的词");
    const Outcome capped = plovik({"search", "重复的词"});
    EXPECT_EQ(std::count(capped.standardOutput.begin(), capped.standardOutput.end(), '\n'), 50);
    EXPECT_EQ(capped.standardError, "仅显示前 50 项，共 55 项匹配。\n");
    for (const auto& [limit, shown] : {std::pair{"0", 55u}, std::pair{"3", 3u}}) {
        const auto json = nlohmann::json::parse(
            plovik({"search", "重复的词", "--json", "--limit", limit}).standardOutput);
        EXPECT_EQ(json["results"].size(), shown);
        EXPECT_EQ(json["total"], 55);
        EXPECT_EQ(json["truncated"], shown < 55u);
    }

    // What the index leaves out, one a line, and as JSON; the same count as the search's notice.
    EXPECT_EQ(plovik({"index", "skipped"}).standardError, "所有条目都已纳入索引。\n");
    const Path inbox = workspace.knowledgeURL() / "inbox";
    writeFile(inbox / "旧\tGBK.txt", "\xd6\xd0\xce\xc4");
    std::filesystem::create_symlink("/etc/passwd", inbox / "passwd.md");
    EXPECT_EQ(plovik({"index", "skipped"}).standardOutput,
              "inbox/passwd.md\t符号链接\ninbox/旧?GBK.txt\t不是 UTF-8 文本，可能是 GBK 编码\n");
    EXPECT_NE(plovik({"search", "x"}).standardError.find("有 2 项未纳入索引"), std::string::npos);
    const auto skipped =
        nlohmann::json::parse(plovik({"index", "skipped", "--json"}).standardOutput);
    EXPECT_EQ(skipped["knowledgeFolder"], workspace.knowledgeURL().native());
    ASSERT_EQ(skipped["skipped"].size(), 2u);
    EXPECT_EQ(skipped["skipped"][1]["relativePath"], "inbox/旧\tGBK.txt");
    EXPECT_EQ(skipped["skipped"][0]["reason"], "符号链接");
}

// The app's refusals with its messages, and those of a command line; none writes anything.
TEST_F(PlovikTest, refusalsSayWhyAndChangeNothing) {
    const std::string root = at("station");
    ASSERT_EQ(plovik({"create", "站", "--at", root}).status, 0);
    writeFile(at("latin1.md"), "caf\xe9");
    writeFile(at("big.md"), std::string(262145, 'a'));
    std::filesystem::create_directory(at("full"));
    writeFile(at("full") + "/x", "x");
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);  // no writer: opening it would wait
    struct Refusal {
        std::vector<std::string> arguments;
        std::string input;
        int status;
        std::string err;
    };
    const std::vector<Refusal> refusals{
        {{}, {}, 2, "缺少命令。"},
        {{"bogus"}, {}, 2, "未知的命令：bogus"},
        {{"service"}, {}, 2, "缺少子命令。"},
        {{"status", "--jso"}, {}, 2, "未知选项：--jso"},
        {{"rename"}, {}, 2, "缺少参数。"},
        {{"search", "a", "b"}, {}, 2, "多余的参数：b"},
        {{"search", "a", "--limit", "-1"}, {}, 2, "--limit 需要一个不小于 0 的整数。"},
        {{"note", "add", "x.md"}, {}, 2, "缺少 --title 标题。"},
        {{"key", "set", "deepseek", "sk-on-the-command-line"}, {}, 2, "密钥不能写在命令行里"},
        {{"key", "set", "openai"}, "sk-x", 2, "未知的服务商：openai"},
        {{"key", "set", "deepseek"}, {}, 1, "没有读到密钥"},
        {{"note", "add", "--title", "", at("first.md")}, "x", 1, "”：文件或目录不存在。"},
        {{"note", "add", "--title", "管道", at("fifo")},
         {},
         1,
         "”不是普通文件，无法作为笔记正文。"},
        {{"note", "add", "--title", "目录", at("full")},
         {},
         1,
         "”不是普通文件，无法作为笔记正文。"},
        {{"note", "add", "--title", ""}, "正文", 1, expected::name},
        {{"note", "add", "--title", "大"},
         std::string(300000, 'a'),
         1,
         "笔记内容不能为空，且不超过 256 KB。"},
        {{"note", "add", "--title", "大", at("big.md")}, {}, 1, "不超过 256 KB"},
        {{"note", "add", "--title", "拉丁", at("latin1.md")}, {}, 1, "不是 UTF-8 文本。"},
        {{"note", "add", "--title", "空"}, {}, 1, "笔记内容不能为空"},
        {{"note", "add", "--title", "零"}, std::string("a\0b", 3), 1, "含有空字符，不是文本。"},
        {{"diagnostics", ""}, {}, 2, "路径不能为空。"},
        {{"rename", "a\x01z"}, {}, 1, expected::name},
        {{"create", "又一个", "--at", at("other")}, {}, 1, "本机已有工作站，位于 " + root},
        {{"open", at("full")}, {}, 1, "该目录不是工作站：缺少 station.json。"},
        {{"diagnostics", root + "/station.json"}, {}, 1, "诊断文件不能保存在工作站数据目录内。"},
    };
    for (const Refusal& refusal : refusals) {
        // In the "C" locale of cron, containers and `env -i`: still nothing on standard error
        // but the refusal (Qt 6.8 would add four lines of its own about the locale).
        const Outcome outcome = plovik(refusal.arguments, refusal.input, {"LC_ALL=C"});
        SCOPED_TRACE((refusal.arguments.empty() ? "" : refusal.arguments.back()) + "\n" +
                     outcome.standardError);
        EXPECT_EQ(outcome.status, refusal.status);
        EXPECT_NE(outcome.standardError.find(refusal.err), std::string::npos);
        EXPECT_EQ(outcome.standardOutput, "");
        // One line; a usage error adds how the command is used.
        const auto lines =
            std::count(outcome.standardError.begin(), outcome.standardError.end(), '\n');
        EXPECT_TRUE(refusal.status == 1
                        ? lines == 1
                        : outcome.standardError.find("\n用法：plovik ") != std::string::npos);
        EXPECT_EQ(notesIn(root), 0u);
    }
    EXPECT_EQ(Installation::load().root(), root);  // still the same workstation

    // A search that cannot rebuild prints nothing half on standard output, JSON or not.
    const Path knowledge = Installation::load().knowledgeURL();
    ::chmod(knowledge.c_str(), 0);
    if (!runningAsRoot()) {
        const Outcome outcome = plovik({"search", "x", "--json"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.standardOutput, "");
        EXPECT_EQ(outcome.standardError, "知识库目录无法读取。\n");
    }
    ::chmod(knowledge.c_str(), 0700);

    // A workstation on a disk that is not plugged in: said so, and not replaced by a new one
    // in the empty mount point; elsewhere a new one may be made.
    Installation::save(Workspace::create(at("usb/station"), "移动硬盘"));
    std::filesystem::remove_all(at("usb/station"));
    const std::string missing =
        "找不到工作站目录：" + at("usb/station") + "。如果它在移动硬盘或网络位置上，请先连接。\n";
    EXPECT_EQ(plovik({"note", "add", "--title", "t"}, "x").standardError, missing);
    EXPECT_EQ(plovik({"create", "新", "--at", at("usb/station")}).standardError, missing);
    EXPECT_FALSE(std::filesystem::exists(at("usb/station")));
    EXPECT_EQ(plovik({"create", "新", "--at", at("elsewhere")}).status, 0);
}

// Ctrl-C, a closed terminal or a kill, whenever they come, never leave a half-written file or
// its temporary behind: a stop during a write takes effect once the write is done.
TEST_F(PlovikTest, StopsNeverLeaveTemporaryFiles) {
    ASSERT_EQ(plovik({"create", "站", "--at", at("station")}).status, 0);
    const Workspace workspace = Installation::load();
    const std::string body(16000, 'x');
    for (int i = 0; i < 900; ++i) workspace.writeNote("笔记 " + std::to_string(i), body);
    const Path indexes = workspace.root() / "system/indexes";
    const Path notes = workspace.knowledgeURL() / "notes";
    int stopped = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const int delay : {0, 10, 30, 60, 120}) {
            workspace.writeNote("新", "每次都有新笔记，索引就要重写");
            ostrak::testing::ChildProcess child(program, {"note", "add", "--title", "中断"}, body,
                                                environmentWith());
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            child.signal(signal);
            const auto status = child.wait(std::chrono::seconds(60));
            ASSERT_TRUE(status) << "still running";
            stopped += *status != 0 ? 1 : 0;
            EXPECT_EQ(temporaries(indexes), std::vector<std::string>{}) << signal << " " << delay;
            EXPECT_EQ(temporaries(notes), std::vector<std::string>{}) << signal << " " << delay;
        }
    }
    EXPECT_GT(stopped, 0);  // the stops came before the end, not all after it
    EXPECT_NO_THROW(workspace.loadIndex());
}

// Without a user manager, or with one that never answers, the service commands say so within
// the answer timeout and never hang.
TEST_F(PlovikTest, serviceCommandsAnswerWithoutAManager) {
    ASSERT_EQ(plovik({"create", "站", "--at", at("station")}).status, 0);
    const std::string runtime = at("run");
    std::filesystem::create_directories(runtime + "/systemd");
    const Environment none{"XDG_RUNTIME_DIR=" + runtime,
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/no-bus"};
    // A socket that takes connections and never says a word.
    const int silent = listeningSocket(runtime + "/systemd/private");
    // A silent manager's socket, and no runtime folder and no bus at all.
    const Environment nothing{"XDG_RUNTIME_DIR=" + runtime + "/missing", none[1]};
    for (const Environment& environment : {none, nothing}) {
        for (const auto& command : {"enable", "disable", "status"}) {
            const auto started = std::chrono::steady_clock::now();
            const Outcome outcome = plovik({"service", command}, {}, environment);
            EXPECT_EQ(outcome.status, 1) << command << environment[0];
            const std::string hint =
                std::string_view(command) == "enable"
                    ? "未找到 systemd 用户管理器。桌面会话通常会自动启动它；通过 "
                      "SSH 登录时请运行 loginctl enable-linger 后重新登录。\n"
                    : "";
            EXPECT_EQ(outcome.standardError, "后台组件未找到\n" + hint)
                << command << environment[0];
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        }
    }
    ::close(silent);
    const Outcome status = plovik(
        {"status"}, {},
        {"XDG_RUNTIME_DIR=" + runtime, "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=tty"});
    EXPECT_NE(status.standardOutput.find("后台：后台组件未找到"), std::string::npos);
    EXPECT_NE(status.standardOutput.find("loginctl enable-linger"), std::string::npos);
}

// A folder mounted by the test user through FUSE (bindfs), as a removable disk: it can be
// pulled (a lazy unmount, as when the cable goes) and plugged in again.
class RemovableDisk {
public:
    RemovableDisk(std::string content, std::string mountPoint)
        : m_content(std::move(content)), m_mountPoint(std::move(mountPoint)) {
        std::filesystem::create_directories(m_content);
        std::filesystem::create_directories(m_mountPoint);
        m_usable = plugIn();
    }
    ~RemovableDisk() { pull(); }
    bool usable() const { return m_usable; }
    bool plugIn() {
        return run("/usr/bin/env", {"bindfs", "--no-allow-other", m_content, m_mountPoint})
                   .status == 0;
    }
    void pull() { run("/usr/bin/env", {"fusermount", "-u", "-z", "-q", m_mountPoint}); }

private:
    std::string m_content, m_mountPoint;
    bool m_usable = false;
};

// Over the private user manager: enabled, running, waiting for its disk when it is pulled and
// serving again when it comes back, refusing a switch, stopped.
TEST_F(PlovikTest, serviceRunsThroughTheUserManager) {
    if (environmentValue("OSTRAK_TEST_PRIVATE_SYSTEMD") != "1") {
        if (environmentValue("CI") == "true") FAIL() << "scripts/test must start a user manager";
        GTEST_SKIP() << "no private systemd user manager";
    }
    RemovableDisk disk(at("disk"), at("usb"));
    if (!disk.usable() && environmentValue("CI") == "true")
        ADD_FAILURE() << "scripts/test must make FUSE usable";
    const std::string root = disk.usable() ? at("usb/station") : at("station");
    ASSERT_EQ(plovik({"create", "后台站", "--at", root}).status, 0);
    ASSERT_EQ(run("/usr/bin/env",
                  {"systemctl", "--user", "set-environment", "HOME=" + home->path().native(),
                   "XDG_DATA_HOME=" + environmentValue("XDG_DATA_HOME")})
                  .status,
              0);
    const Outcome enabled = plovik({"service", "enable"});
    EXPECT_EQ(enabled.status, 0) << enabled.standardError;
    const auto serviceSays = [&](const std::string& text) {
        return eventually(
            [&] {
                return plovik({"service", "status"}).standardOutput == text;
            },
            std::chrono::seconds(40));
    };
    EXPECT_TRUE(serviceSays("后台运行中\n"));
    const auto status = nlohmann::json::parse(plovik({"status", "--json"}).standardOutput);
    EXPECT_EQ(status["service"]["state"], "enabled");
    EXPECT_EQ(status["heartbeat"]["fresh"], true);
    if (disk.usable()) {
        const std::string missing =
            "找不到工作站目录：" + root + "。如果它在移动硬盘或网络位置上，请先连接。";
        disk.pull();
        EXPECT_TRUE(serviceSays("已启用，等待后台响应\n" + missing + "\n"))
            << plovik({"service", "status"}).standardOutput;
        const Outcome replaced = plovik({"create", "新站", "--at", root});
        EXPECT_EQ(replaced.status, 1);
        EXPECT_EQ(replaced.standardError, missing + "\n");
        EXPECT_FALSE(std::filesystem::exists(root));
        ASSERT_TRUE(disk.plugIn());
        // Served again by a new process of the service.
        EXPECT_TRUE(eventually(
            [&] {
                const auto now = nlohmann::json::parse(plovik({"status", "--json"}).standardOutput);
                return now["heartbeat"]["fresh"] == true &&
                       now["heartbeat"]["pid"] != status["heartbeat"]["pid"];
            },
            std::chrono::seconds(30)));
        EXPECT_TRUE(serviceSays("后台运行中\n"));
    }
    EXPECT_EQ(plovik({"open", root}).standardError, "请先停止当前工作站后台，再切换工作站。\n");
    const Outcome disabled = plovik({"service", "disable"});
    EXPECT_EQ(disabled.status, 0) << disabled.standardError;
    EXPECT_EQ(disabled.standardOutput, "后台未启用\n");
    // The manager leaves a call that came with the end of the authentication unread until more
    // bytes come; plovik's first question must still be answered.
    const std::string slowRuntime = at("slow-run");
    std::filesystem::create_directories(slowRuntime + "/systemd");
    const SlowPassage passage(slowRuntime + "/systemd/private",
                              environmentValue("XDG_RUNTIME_DIR") + "/systemd/private");
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Outcome asked = plovik({"service", "status"}, {}, {"XDG_RUNTIME_DIR=" + slowRuntime});
        EXPECT_EQ(asked.standardOutput + asked.standardError, "后台未启用\n") << attempt;
    }
    run("/usr/bin/env", {"systemctl", "--user", "unset-environment", "HOME", "XDG_DATA_HOME"});
}
