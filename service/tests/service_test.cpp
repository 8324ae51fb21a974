// The real OstrakService program, started as a child process on temporary workstations.
#include <sys/socket.h>
#include <sys/un.h>

#include "testing.hpp"

const std::string program = OSTRAK_SERVICE_PROGRAM;
const std::string startupLine = "plovik后台启动失败，请在管理 APP 中检查安装状态。\n";
const std::string writeLine = "工作站状态写入失败。\n";
const std::string indexingIssue = "知识索引失败。请在 APP 中检查数据位置和权限。";

class ServiceProgram : public ::testing::Test, protected Station {
protected:
    TempHome home;

    std::vector<std::string> rootArguments(const char* mode) const {
        return {"--root", workspace.root().native(), mode};
    }
    bool freshHeartbeatFrom(pid_t pid) const {
        const auto current = heartbeat();
        return current && current->pid == pid && current->isFresh(Timestamp::now());
    }
    // Enough knowledge that writing the index takes a while: `count` notes of 16 KB.
    void fillKnowledge(int count, const std::string& tag = "") const {
        const std::string body(16 * 1024 - 64, 'x');
        for (int i = 0; i < count; ++i) {
            put("notes/" + tag + std::to_string(i) + ".md",
                "# 笔记 " + std::to_string(i) + "\n" + body);
        }
    }
    void expectStoppedHeartbeat() const {
        const auto last = heartbeat();
        ASSERT_TRUE(last);
        EXPECT_EQ(std::tie(last->pid, last->indexed, last->skipped), std::make_tuple(0, 0, 0));
        EXPECT_FALSE(last->issue);
        EXPECT_LT(last->timestamp.seconds, -60000000000.0);  // the distant past
    }
};

// Without a workstation, with a command line it does not know, or with the working directory
// gone under a relative root (a single pass: it does not wait), the program refuses to start and
// creates nothing.
TEST_F(ServiceProgram, RefusesToStartWithoutAUsableWorkstation) {
    const std::vector<std::string> commands[] = {
        {program},
        {program, "--root", workspace.root().native(), "--now"},
        {"/bin/sh", "-c",
         "mkdir \"$0/cwd\" && cd \"$0/cwd\" && rmdir \"$0/cwd\" && exec \"$1\" "
         "--root station --once",
         dir.path().native(), program}};
    for (const auto& command : commands) {
        const auto result = runToEnd(command[0], {command.begin() + 1, command.end()});
        EXPECT_EQ(result.status, 1) << command.back();
        EXPECT_EQ(result.standardError, startupLine);
    }
    EXPECT_EQ(entries(home.path()), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(heartbeatFile));
}

// What the service tells systemd: the datagrams sent to NOTIFY_SOCKET, gathered as they come.
class NotifySocket {
public:
    explicit NotifySocket(const Path& path) : m_path(path.native()) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ADD_FAILURE() << "cannot bind " << m_path;
    }
    ~NotifySocket() { ::close(m_socket); }
    std::string environment() const { return "NOTIFY_SOCKET=" + m_path; }
    // Whether a datagram that is exactly `wanted` came within `timeout`.
    bool received(const std::string& wanted, std::chrono::seconds timeout) {
        return eventually(
            [&] {
                char datagram[2048];
                for (ssize_t got;
                     (got = ::recv(m_socket, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;)
                    m_seen.emplace_back(datagram, static_cast<std::size_t>(got));
                return std::find(m_seen.begin(), m_seen.end(), wanted) != m_seen.end();
            },
            timeout);
    }

private:
    std::string m_path;
    int m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::vector<std::string> m_seen;
};

// A workstation on a disk that is not plugged in: the service waits for it, telling systemd
// why, and serves once it is there. When it disappears again while served (the disk pulled),
// the service does not claim that another one holds it: it ends with status 1 (which systemd
// restarts), writes nothing, and tells why.
TEST_F(ServiceProgram, WaitsForItsDiskAndEndsWhenItGoes) {
    const Path usb = dir / "usb", mounted = usb / "station";
    const std::string missing = "STATUS=找不到工作站目录：" + mounted.native() +
                                "。如果它在移动硬盘或网络位置上，请先连接。";
    NotifySocket systemd(dir / "notify");
    ChildProcess service(program, {"--root", mounted.native(), "--run"}, {},
                         ostrak::testing::environmentWith({systemd.environment()}));
    EXPECT_TRUE(systemd.received(missing, 10s));
    EXPECT_FALSE(service.wait(1s));
    fs::create_directory(usb);
    fs::rename(workspace.root(), mounted);  // plugged in
    EXPECT_TRUE(systemd.received("READY=1\nSTATUS=", 10s));
    const Path beat = mounted / "system/state/heartbeat.json";
    ASSERT_TRUE(fs::exists(beat));
    const std::string lastBeat = readFile(beat);

    fs::rename(mounted, workspace.root());  // pulled
    EXPECT_EQ(service.wait(10s), 1);
    EXPECT_EQ(service.standardError(), writeLine);
    EXPECT_TRUE(systemd.received(missing, 1s));
    EXPECT_FALSE(fs::exists(mounted));  // nothing written where the disk was
    EXPECT_EQ(readFile(heartbeatFile), lastBeat);
}

// One service of the pointer's workstation, watched while things go wrong around it: a second
// service stops at the lock; a failed rebuild is reported and retried only after 30 seconds,
// not on every 5-second pass; heartbeats that cannot be written are reported each pass without
// stopping it; the next good rebuild finds a new note and clears the issue; SIGTERM ends it.
TEST_F(ServiceProgram, KeepsServingWhileThingsGoWrongAndStopsOnRequest) {
    const bool permissionsHold = !runningAsRoot();  // root reads and writes anything
    const Path locked = workspace.knowledgeURL() / "inbox/locked";
    const Path state = workspace.root() / "system/state";
    fs::create_directories(locked);
    if (permissionsHold) ::chmod(locked.c_str(), 0);
    Installation::save(workspace);
    ChildProcess service(program, {});
    ASSERT_TRUE(eventually([&] { return freshHeartbeatFrom(service.pid()); }, 10s));
    const auto second = runToEnd(program, rootArguments("--run"));
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.standardError, startupLine);
    if (permissionsHold) {
        ASSERT_TRUE(heartbeat());
        EXPECT_EQ(heartbeat()->issue, indexingIssue);
        ::chmod(locked.c_str(), 0700);
        ::chmod(state.c_str(), 0500);
        EXPECT_TRUE(
            eventually([&] { return service.standardError() == writeLine + writeLine; }, 13s))
            << service.standardError();
        EXPECT_FALSE(fs::exists(indexFile));  // two passes or more, no new attempt yet
        ::chmod(state.c_str(), 0700);
    }
    const Path note = workspace.writeNote("新笔记", "后台自己找到");
    const std::string relative = note.native().substr(workspace.root().native().size() + 1);
    const auto inIndex = [&] {
        try {
            const auto documents = workspace.loadIndex().documents;
            return documents.size() == 1 && documents[0].relativePath == relative;
        } catch (...) {
            return false;
        }
    };
    EXPECT_TRUE(eventually(inIndex, 40s));
    EXPECT_TRUE(eventually(
        [&] { return heartbeat() && heartbeat()->indexed == 1 && !heartbeat()->issue; }, 6s));
    EXPECT_FALSE(service.wait(0s));  // still serving
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(10s), 0);
    expectStoppedHeartbeat();
    if (!permissionsHold) GTEST_SKIP() << "as root, the failed rebuild and refused heartbeats";
}

// A lock file removed under a running service no longer keeps a second one out: the first sees
// it on its next pass and stops (status 3, which systemd does not restart), the second serves.
// A process limit that leaves no room for the timer thread ends the start with the start-up
// line and a stopped heartbeat, never an abort after a fresh one.
TEST_F(ServiceProgram, NeverTwoOnOneWorkstationAndNoAbortWithoutAThread) {
    ChildProcess first(program, rootArguments("--run"));
    ASSERT_TRUE(eventually([&] { return freshHeartbeatFrom(first.pid()); }, 10s));
    fs::remove(workspace.root() / "system/state/service.lock");
    ChildProcess second(program, rootArguments("--run"));
    EXPECT_EQ(first.wait(12s), 3);
    EXPECT_EQ(first.standardError(), "该工作站已有后台服务在运行。\n");
    EXPECT_TRUE(eventually([&] { return freshHeartbeatFrom(second.pid()); }, 7s));
    EXPECT_FALSE(second.wait(0s));
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(10s), 0);

    if (runningAsRoot()) GTEST_SKIP() << "root is not held to a process limit";
    const auto sanitizer = environmentVariable("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // the leak check needs a thread of its own
    const auto limited = runToEnd(
        "/usr/bin/prlimit", {"--nproc=1", program, "--root", workspace.root().native(), "--run"});
    if (sanitizer) ::setenv("ASAN_OPTIONS", sanitizer->c_str(), 1);
    if (!sanitizer) ::unsetenv("ASAN_OPTIONS");
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.standardError, startupLine);
    expectStoppedHeartbeat();
}

// Writes cut short by kill -9, the file-size limit or a stop: the index is always a whole old or
// new file; the next start removes the temporary files kills leave once they are 15 minutes old,
// restores missing folders, indexes and beats; the limit is a failure reported the usual way.
TEST_F(ServiceProgram, WritesCutShortLeaveAWholeIndexAndNoLeftovers) {
    const Path indexes = workspace.root() / "system/indexes";
    for (int round = 0; round < 6; ++round) {
        fillKnowledge(200, "r" + std::to_string(round) + "-");
        ChildProcess service(program, rootArguments("--run"));
        std::this_thread::sleep_for(std::chrono::milliseconds(40 * round));
        service.signal(SIGKILL);
        service.wait(10s);
        if (fs::exists(indexFile)) {
            EXPECT_NO_THROW(workspace.loadIndex()) << "round " << round;
        }
    }
    // Leftovers of killed writes, old and fresh (a fresh one may be a write in flight), and a
    // person's own file that merely begins like one.
    const std::string fresh = ".ostrak-" + Uuid::random().text();
    writeFile(indexes / (".ostrak-" + Uuid::random().text()), "half");
    writeFile(workspace.root() / "system/state" / (".ostrak-" + Uuid::random().text()), "half");
    writeFile(indexes / fresh, "in flight");
    writeFile(indexes / ".ostrak-notes", "mine");
    const timespec twentyMinutesAgo[2] = {{::time(nullptr) - 20 * 60, 0},
                                          {::time(nullptr) - 20 * 60, 0}};
    for (const auto& folder : {indexes, workspace.root() / "system/state"}) {
        for (const auto& name : temporaries(folder)) {
            if (name != fresh) ::utimensat(AT_FDCWD, (folder / name).c_str(), twentyMinutesAgo, 0);
        }
    }
    fs::remove_all(workspace.root() / "system/logs");  // restored at start
    const auto next = runToEnd(program, rootArguments("--once"));
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.standardError, "");
    EXPECT_EQ(temporaries(indexes), (std::vector<std::string>{fresh, ".ostrak-notes"}));
    EXPECT_EQ(temporaries(workspace.root() / "system/state"), std::vector<std::string>{});
    EXPECT_EQ(workspace.loadIndex().documents.size(), 1000u);  // at most 1,000 of the 1,200
    const auto last = heartbeat();
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->isFresh(Timestamp::now()) && last->pid > 0 && !last->issue);
    EXPECT_EQ(last->indexed, 1000);
    EXPECT_TRUE(fs::is_directory(workspace.root() / "system/logs"));

    const std::string before = readFile(indexFile);
    put("notes/new.md", "# 新\n" + std::string(16000, 'y'));
    // 100 blocks of 512 bytes: room for the heartbeat, not for the new index.
    const auto limited = runToEnd("/bin/sh", {"-c", "ulimit -f 100; exec \"$0\" \"$@\"", program,
                                              "--root", workspace.root().native(), "--once"});
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.standardError, startupLine);
    EXPECT_EQ(readFile(indexFile), before);
    EXPECT_EQ(temporaries(indexes), (std::vector<std::string>{fresh, ".ostrak-notes"}));
    ASSERT_TRUE(heartbeat());
    EXPECT_EQ(heartbeat()->issue, indexingIssue);

    // A stop signal (SIGINT here, as from a terminal) in the middle of the first pass's write
    // waits for the pass, then ends as usual.
    ChildProcess service(program, rootArguments("--run"));
    eventually([&] { return temporaries(indexes).size() >= 3; }, 20s, 1ms);
    EXPECT_EQ(temporaries(indexes).size(), 3u);  // the pass is writing
    service.signal(SIGINT);
    EXPECT_EQ(service.wait(30s), 0);
    EXPECT_NE(readFile(indexFile), before);  // the pass ended and published its index
    EXPECT_EQ(service.standardError(), "");
    expectStoppedHeartbeat();
    EXPECT_EQ(temporaries(indexes), (std::vector<std::string>{fresh, ".ostrak-notes"}));
}
