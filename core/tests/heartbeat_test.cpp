#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(Freshness, IsJudgedFromMinusFiveToUnderTwentySeconds) {
    const ServiceHeartbeat heartbeat{Uuid::random(), Timestamp{1000}, 1, 0, 0, std::nullopt};
    EXPECT_TRUE(heartbeat.isFresh(Timestamp{1019.9}));
    EXPECT_FALSE(heartbeat.isFresh(Timestamp{1020.0}));
    EXPECT_TRUE(heartbeat.isFresh(Timestamp{995.1}));
    EXPECT_TRUE(heartbeat.isFresh(Timestamp{995.0}));
    EXPECT_FALSE(heartbeat.isFresh(Timestamp{994.9}));
    const ServiceHeartbeat stopped{{}, Timestamp::distantPast(), 0, 0, 0, std::nullopt};
    EXPECT_FALSE(stopped.isFresh(Timestamp::now()));
}

class HeartbeatTest : public ::testing::Test {
protected:
    TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "站");
    Path file = workspace.root() / "system/state/heartbeat.json";
};

TEST_F(HeartbeatTest, RoundTripsAndOmitsAMissingIssue) {
    ServiceHeartbeat heartbeat{
        workspace.configuration().id, Timestamp{123.5}, 42, 7, 2, std::nullopt};
    workspace.saveHeartbeat(heartbeat);
    EXPECT_EQ(readFile(file).find("issue"), std::string::npos);
    auto back = workspace.heartbeat();
    EXPECT_EQ(back.pid, 42);
    EXPECT_EQ(back.indexed, 7);
    EXPECT_EQ(back.skipped, 2);
    EXPECT_EQ(back.timestamp, Timestamp{123.5});
    EXPECT_FALSE(back.issue);
    heartbeat.issue = "知识索引失败。请在 APP 中检查数据位置和权限。";
    workspace.saveHeartbeat(heartbeat);
    EXPECT_EQ(workspace.heartbeat().issue, heartbeat.issue);
    EXPECT_EQ(testing::modeOf(file), 0600u);
}

TEST_F(HeartbeatTest, ReadsANullIssueAsNone) {
    const std::string id = workspace.configuration().id.text();
    writeFile(file, R"({"indexed":1,"issue":null,"pid":5,"skipped":0,"stationID":")" + id +
                        R"(","timestamp":10,"extra":true})");
    EXPECT_FALSE(workspace.heartbeat().issue);
    writeFile(file, R"({"indexed":1,"pid":5,"skipped":0,"stationID":")" + id + R"("})");
    EXPECT_EQ(messageOf([&] { workspace.heartbeat(); }),
              "工作站文件格式有误。原始资料已保留，请勿重新初始化。");
    writeFile(file, std::string(4097, ' '));
    EXPECT_EQ(messageOf([&] { workspace.heartbeat(); }), "文件类型、归属或大小不符合工作站要求。");
}

TEST_F(HeartbeatTest, RefusesAHeartbeatOfAnotherStation) {
    workspace.saveHeartbeat({Uuid::random(), Timestamp::now(), 42, 0, 0, std::nullopt});
    EXPECT_EQ(messageOf([&] { workspace.heartbeat(); }), "后台服务身份不匹配。");
}

TEST_F(HeartbeatTest, OneLockHolderAtATime) {
    auto lock = workspace.acquireServiceLock();
    ASSERT_TRUE(lock);
    EXPECT_EQ(testing::modeOf(workspace.root() / "system/state/service.lock"), 0600u);
    EXPECT_EQ(messageOf([&] { workspace.acquireServiceLock(); }), "该工作站已有后台服务在运行。");

    // Another process is refused too while this one holds the lock.
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            workspace.acquireServiceLock();
            ::_exit(0);
        } catch (const OstrakError& error) {
            ::_exit(error.message() == "该工作站已有后台服务在运行。" ? 3 : 4);
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 3);

    lock.reset();
    EXPECT_NO_THROW(workspace.acquireServiceLock());
}

TEST_F(HeartbeatTest, ALockOfAKilledHolderIsFreeAtOnce) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        auto lock = workspace.acquireServiceLock();
        char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(messageOf([&] { workspace.acquireServiceLock(); }), "该工作站已有后台服务在运行。");
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_NO_THROW(workspace.acquireServiceLock());
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(HeartbeatTest, NeverFollowsALinkAtTheLockPath) {
    const Path lockFile = workspace.root() / "system/state/service.lock";
    fs::create_symlink(dir / "elsewhere", lockFile);
    EXPECT_EQ(messageOf([&] { workspace.acquireServiceLock(); }),
              "数据路径不能经过符号链接，请选择真实目录。");
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

}  // namespace
}  // namespace ostrak
