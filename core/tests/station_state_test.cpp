// What a workstation says about its service and its machine: the heartbeat, the service lock,
// the environment report and the redacted diagnostics export.
#include <sys/statvfs.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <map>

#include "station/environment_facts.hpp"

#include "testing.hpp"

TEST(Freshness, IsJudgedFromMinusFiveToUnderTwentySeconds) {
    const ServiceHeartbeat heartbeat{Uuid::random(), Timestamp{1000}, 1, 0, 0, std::nullopt};
    for (const double fresh : {1019.9, 995.1, 995.0}) EXPECT_TRUE(heartbeat.isFresh({fresh}));
    for (const double stale : {1020.0, 994.9}) EXPECT_FALSE(heartbeat.isFresh({stale}));
}

class HeartbeatTest : public ::testing::Test, protected Station {};

TEST_F(HeartbeatTest, RoundTripsRefusesOtherStationsAndLocksOneHolderAtATime) {
    ServiceHeartbeat heartbeat{
        workspace.configuration().id, Timestamp{123.5}, 42, 7, 2, std::nullopt};
    workspace.saveHeartbeat(heartbeat);
    EXPECT_EQ(readFile(heartbeatFile).find("issue"), std::string::npos);  // none: omitted
    const auto back = workspace.heartbeat();
    EXPECT_EQ(std::tie(back.pid, back.indexed, back.skipped, back.timestamp, back.issue),
              std::tie(heartbeat.pid, heartbeat.indexed, heartbeat.skipped, heartbeat.timestamp,
                       heartbeat.issue));
    heartbeat.issue = "知识索引失败。请在 APP 中检查数据位置和权限。";
    workspace.saveHeartbeat(heartbeat);
    EXPECT_EQ(workspace.heartbeat().issue, heartbeat.issue);
    const std::string id = workspace.configuration().id.text();
    writeFile(heartbeatFile, R"({"indexed":1,"issue":null,"pid":5,"skipped":0,"stationID":")" + id +
                                 R"(","timestamp":10,"extra":true})");
    EXPECT_FALSE(workspace.heartbeat().issue);
    writeFile(heartbeatFile, R"({"indexed":1,"pid":5,"skipped":0,"stationID":")" + id + R"("})");
    EXPECT_MESSAGE(expected::format, workspace.heartbeat());
    writeFile(heartbeatFile, std::string(4097, ' '));
    EXPECT_MESSAGE(expected::unfit, workspace.heartbeat());
    // JSON has no NaN or infinity: such a time is refused, the stored heartbeat stays.
    const std::string stored = readFile(heartbeatFile);
    for (const double unstorable : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_MESSAGE("工作站状态写入失败。",
                       workspace.saveHeartbeat(
                           {workspace.configuration().id, {unstorable}, 1, 0, 0, std::nullopt}));
    }
    EXPECT_EQ(readFile(heartbeatFile), stored);
    workspace.saveHeartbeat({Uuid::random(), Timestamp::now(), 42, 0, 0, std::nullopt});
    EXPECT_MESSAGE("后台服务身份不匹配。", workspace.heartbeat());
    // Other processes meet the service lock in the service's tests; here, one holder, no links.
    auto lock = workspace.acquireServiceLock();
    ASSERT_TRUE(lock);
    EXPECT_EQ(modeOf(workspace.root() / "system/state/service.lock"), 0600u);
    EXPECT_MESSAGE("该工作站已有后台服务在运行。", workspace.acquireServiceLock());
    // A removed lock file locks nothing: its holder learns it, a second holder locks anew.
    EXPECT_TRUE(lock->isCurrent());
    fs::remove(workspace.root() / "system/state/service.lock");
    EXPECT_FALSE(lock->isCurrent());
    auto second = workspace.acquireServiceLock();
    EXPECT_TRUE(second->isCurrent());
    EXPECT_FALSE(lock->isCurrent());
    second.reset();
    lock.reset();
    EXPECT_NO_THROW(workspace.acquireServiceLock());
    fs::remove(workspace.root() / "system/state/service.lock");
    fs::create_symlink(dir / "elsewhere", workspace.root() / "system/state/service.lock");
    EXPECT_MESSAGE(expected::link, workspace.acquireServiceLock());
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(Environment, MeasuresTheVolumeOfTheNearestExistingFolder) {
    TempDir dir;
    const auto report = EnvironmentReport::inspect(dir / "a/b/c");
    EXPECT_FALSE(fs::exists(dir / "a"));
    struct statvfs volume {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &volume), 0);
    ASSERT_TRUE(report.availableBytes);
    EXPECT_NEAR(static_cast<double>(*report.availableBytes),
                static_cast<double>(volume.f_bavail) * volume.f_frsize, 64.0 * 1024 * 1024);
    EXPECT_NE(report.operatingSystem.find(" · Linux "), std::string::npos);
    // A relative location with the working directory gone has no volume; the report still comes.
    const int back = ::open(".", O_RDONLY | O_DIRECTORY);
    fs::create_directory(dir / "cwd");
    ASSERT_EQ(::chdir((dir / "cwd").c_str()), 0);
    fs::remove(dir / "cwd");
    for (const char* location : {"", "relative/place"}) {
        EnvironmentReport gone;
        EXPECT_NO_THROW(gone = EnvironmentReport::inspect(location));
        EXPECT_FALSE(gone.availableBytes) << location;
    }
    EXPECT_EQ(::fchdir(back), 0);
    ::close(back);
}

TEST(Environment, SupportsLinuxFiveTenOnTwoArchitectures) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"5.10", "ARM64", true},     {"5.9.16", "x86-64", false}, {"10.0.1", "x86-64", true},
        {"6.1.0", "riscv64", false}, {"4.19.0", "x86-64", false}, {"six.one", "x86-64", false}};
    for (const auto& [release, architecture, supported] : cases) {
        EXPECT_EQ(environment::isSupported(release, architecture), supported) << release;
    }
    EXPECT_EQ(environment::architectureName("aarch64"), "ARM64");
    EXPECT_EQ(environment::prettyName("NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12\"\n"),
              "Debian GNU/Linux 12");
    EXPECT_EQ(environment::prettyName("PRETTY_NAME=Arch\n"), "Arch");
    EXPECT_EQ(environment::prettyName("NAME=x\n"), "Linux");
}

// The export names neither the person, the station nor its content.
TEST(Diagnostics, ReportsCountsAndFreshnessOnly) {
    TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "私人站名");
    const Bytes bytes = workspace.diagnosticReport();
    auto json = nlohmann::json::parse(bytes);
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_NEAR(json["generatedAt"].get<double>(), Timestamp::now().seconds, 60);
    json.erase("generatedAt");
    const auto system = EnvironmentReport::inspect(dir.path()).operatingSystem;
    EXPECT_EQ(json, nlohmann::json({{"appVersion", "0.1.1"},
                                    {"schema", 1},
                                    {"serviceFresh", false},
                                    {"systemVersion", system}}));
    const auto report = [&] { return nlohmann::json::parse(workspace.diagnosticReport()); };
    workspace.writeNote("标题", "正文");
    workspace.rebuildIndex();
    EXPECT_EQ(report()["indexedDocuments"], 1);
    for (const double age : {0.0, 25.0}) {
        workspace.saveHeartbeat({workspace.configuration().id,
                                 Timestamp{Timestamp::now().seconds - age}, 7, 1, 0, std::nullopt});
        EXPECT_EQ(report()["serviceFresh"], age < 20) << age;
    }
}

// The export replaces a file of the person's choice, but never one of the workstation's or the
// installation pointer's folder, however the destination is spelt.
TEST(Diagnostics, TheExportNeverReplacesTheWorkstationsFiles) {
    TempHome home;
    const Path dir = home.path();
    Workspace workspace = Workspace::create(dir / "station", "站");
    Installation::save(workspace);
    const Path pointer = Installation::supportDirectory() / "installation.json";
    std::vector<Path> protectedFiles = {dir / "station/station.json", pointer,
                                        dir / "station/system/state/new.json",
                                        dir / "station/./users/../station.json"};
    std::map<Path, std::string> before;
    for (const Path& file : {protectedFiles[0], pointer}) before[file] = readFile(file);
    for (const Path& destination : protectedFiles) {
        EXPECT_MESSAGE("诊断文件不能保存在工作站数据目录内。",
                       workspace.exportDiagnostics(destination))
            << destination;
    }
    for (const auto& [file, bytes] : before) EXPECT_EQ(readFile(file), bytes);
    EXPECT_FALSE(fs::exists(dir / "station/system/state/new.json"));
}
