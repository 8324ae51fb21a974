#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "ostrak/core.hpp"
#include "station/environment_facts.hpp"
#include "temp_dir.hpp"

namespace ostrak {
namespace {

namespace fs = std::filesystem;

TEST(Environment, MeasuresTheVolumeOfTheNearestExistingFolder) {
    testing::TempDir dir;
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
        EXPECT_FALSE(gone.availableBytes);
    }
    EXPECT_EQ(::fchdir(back), 0);
    ::close(back);
}

TEST(Environment, SupportsLinuxFiveTenOnTwoArchitectures) {
    const std::tuple<const char*, const char*, bool> cases[] = {{"5.10.0-28-amd64", "x86-64", true},
                                                                {"5.9.16", "x86-64", false},
                                                                {"5.10", "ARM64", true},
                                                                {"10.0.1", "x86-64", true},
                                                                {"4.19.0", "x86-64", false},
                                                                {"6.1.0", "riscv64", false},
                                                                {"", "x86-64", false},
                                                                {"six.one", "x86-64", false},
                                                                {"5", "x86-64", false}};
    for (const auto& [release, architecture, supported] : cases) {
        EXPECT_EQ(environment::isSupported(release, architecture), supported) << release;
    }
    EXPECT_EQ(environment::architectureName("x86_64"), "x86-64");
    EXPECT_EQ(environment::architectureName("aarch64"), "ARM64");
    EXPECT_EQ(environment::prettyName("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12\"\n"),
              "Debian GNU/Linux 12");
    EXPECT_EQ(environment::prettyName("PRETTY_NAME=Arch\n"), "Arch");
    EXPECT_EQ(environment::prettyName("NAME=x\n"), "Linux");
}

// The export names neither the person, the station nor its content.
TEST(Diagnostics, ReportsCountsAndFreshnessOnly) {
    testing::TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "私人站名");
    const Bytes bytes = workspace.diagnosticReport();
    const auto json = nlohmann::json::parse(bytes);
    EXPECT_EQ(bytes.find('\n'), std::string::npos);
    EXPECT_EQ(json.size(), 5u);
    EXPECT_EQ(json["appVersion"], "0.1.1");
    EXPECT_EQ(json["schema"], 1);
    EXPECT_EQ(json["serviceFresh"], false);
    EXPECT_NEAR(json["generatedAt"].get<double>(), Timestamp::now().seconds, 60);
    EXPECT_EQ(json["systemVersion"], EnvironmentReport::inspect(dir.path()).operatingSystem);
    for (const std::string& secret :
         {workspace.configuration().id.text(), workspace.configuration().ownerID.text(),
          std::string("私人站名"), dir.path().native()}) {
        EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
    }
    const auto report = [&] { return nlohmann::json::parse(workspace.diagnosticReport()); };
    workspace.writeNote("标题", "正文");
    workspace.rebuildIndex();
    EXPECT_EQ(report()["indexedDocuments"], 1);
    const auto id = workspace.configuration().id;
    const auto now = Timestamp::now().seconds;
    const std::pair<ServiceHeartbeat, bool> beats[] = {
        {{id, Timestamp{now}, 7, 1, 0, std::nullopt}, true},
        {{id, Timestamp{now - 25}, 7, 1, 0, std::nullopt}, false},
        {{Uuid::random(), Timestamp{now}, 7, 1, 0, std::nullopt}, false}};
    for (const auto& [heartbeat, fresh] : beats) {
        workspace.saveHeartbeat(heartbeat);
        EXPECT_EQ(report()["serviceFresh"], fresh);
    }
}

}  // namespace
}  // namespace ostrak
