#include <gtest/gtest.h>

#include <filesystem>

#include "ostrak/core.hpp"
#include "station.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

using testing::readFile;
using testing::writeFile;

TEST(Freshness, IsJudgedFromMinusFiveToUnderTwentySeconds) {
    const ServiceHeartbeat heartbeat{Uuid::random(), Timestamp{1000}, 1, 0, 0, std::nullopt};
    for (const double fresh : {1019.9, 995.1, 995.0}) EXPECT_TRUE(heartbeat.isFresh({fresh}));
    for (const double stale : {1020.0, 994.9}) EXPECT_FALSE(heartbeat.isFresh({stale}));
    const ServiceHeartbeat stopped{{}, Timestamp::distantPast(), 0, 0, 0, std::nullopt};
    EXPECT_FALSE(stopped.isFresh(Timestamp::now()));
}

class HeartbeatTest : public ::testing::Test, protected testing::Station {};

TEST_F(HeartbeatTest, RoundTripsAndRefusesWhatIsNotThisStationsHeartbeat) {
    ServiceHeartbeat heartbeat{
        workspace.configuration().id, Timestamp{123.5}, 42, 7, 2, std::nullopt};
    workspace.saveHeartbeat(heartbeat);
    EXPECT_EQ(readFile(heartbeatFile).find("issue"),
              std::string::npos);  // omitted when there is none
    EXPECT_EQ(testing::modeOf(heartbeatFile), 0600u);
    const auto back = workspace.heartbeat();
    EXPECT_EQ(std::tie(back.pid, back.indexed, back.skipped), std::make_tuple(42, 7, 2));
    EXPECT_EQ(back.timestamp, Timestamp{123.5});
    EXPECT_FALSE(back.issue);
    heartbeat.issue = "知识索引失败。请在 APP 中检查数据位置和权限。";
    workspace.saveHeartbeat(heartbeat);
    EXPECT_EQ(workspace.heartbeat().issue, heartbeat.issue);
    const std::string id = workspace.configuration().id.text();
    writeFile(heartbeatFile, R"({"indexed":1,"issue":null,"pid":5,"skipped":0,"stationID":")" + id +
                                 R"(","timestamp":10,"extra":true})");
    EXPECT_FALSE(workspace.heartbeat().issue);
    const std::pair<std::string, std::string> refused[] = {
        {R"({"indexed":1,"pid":5,"skipped":0,"stationID":")" + id + R"("})",
         "工作站文件格式有误。原始资料已保留，请勿重新初始化。"},
        {std::string(4097, ' '), "文件类型、归属或大小不符合工作站要求。"}};
    for (const auto& [content, message] : refused) {
        writeFile(heartbeatFile, content);
        EXPECT_EQ(messageOf([&] { workspace.heartbeat(); }), message);
    }
    workspace.saveHeartbeat({Uuid::random(), Timestamp::now(), 42, 0, 0, std::nullopt});
    EXPECT_EQ(messageOf([&] { workspace.heartbeat(); }), "后台服务身份不匹配。");
}

// Other processes meet the lock in the service's tests; here, one holder and no links.
TEST_F(HeartbeatTest, OneLockHolderAtATimeAndNeverThroughALink) {
    auto lock = workspace.acquireServiceLock();
    ASSERT_TRUE(lock);
    EXPECT_EQ(testing::modeOf(workspace.root() / "system/state/service.lock"), 0600u);
    EXPECT_EQ(messageOf([&] { workspace.acquireServiceLock(); }), "该工作站已有后台服务在运行。");
    lock.reset();
    EXPECT_NO_THROW(workspace.acquireServiceLock());
    std::filesystem::remove(workspace.root() / "system/state/service.lock");
    std::filesystem::create_symlink(dir / "elsewhere",
                                    workspace.root() / "system/state/service.lock");
    EXPECT_EQ(messageOf([&] { workspace.acquireServiceLock(); }),
              "数据路径不能经过符号链接，请选择真实目录。");
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

}  // namespace
}  // namespace ostrak
