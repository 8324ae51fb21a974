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
    ASSERT_TRUE(report.availableBytes);
    struct statvfs volume {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &volume), 0);
    const double expected = static_cast<double>(volume.f_bavail) * volume.f_frsize;
    EXPECT_NEAR(static_cast<double>(*report.availableBytes), expected, 64.0 * 1024 * 1024);
    EXPECT_NE(report.operatingSystem.find(" · Linux "), std::string::npos);
    EXPECT_FALSE(report.architecture.empty());

    // A relative location with the working directory gone has no volume to measure, and the
    // report still comes back.
    const int back = ::open(".", O_RDONLY | O_DIRECTORY);
    fs::create_directory(dir / "cwd");
    ASSERT_EQ(::chdir((dir / "cwd").c_str()), 0);
    fs::remove(dir / "cwd");
    for (const char* location : {"", "relative/place"}) {
        EnvironmentReport gone;
        EXPECT_NO_THROW(gone = EnvironmentReport::inspect(location));
        EXPECT_FALSE(gone.availableBytes);
        EXPECT_FALSE(gone.operatingSystem.empty());
    }
    EXPECT_EQ(::fchdir(back), 0);
    ::close(back);
}

TEST(Environment, SupportsLinuxFiveTenOnTwoArchitectures) {
    struct Case {
        const char* release;
        const char* architecture;
        bool supported;
    };
    for (const Case& c : {Case{"5.10.0-28-amd64", "x86-64", true}, Case{"5.9.16", "x86-64", false},
                          Case{"5.10", "ARM64", true}, Case{"6.1.0-13-arm64", "ARM64", true},
                          Case{"4.19.0", "x86-64", false}, Case{"10.0.1", "x86-64", true},
                          Case{"6.1.0", "riscv64", false}, Case{"", "x86-64", false},
                          Case{"six.one", "x86-64", false}, Case{"5", "x86-64", false}}) {
        EXPECT_EQ(environment::isSupported(c.release, c.architecture), c.supported)
            << c.release << " " << c.architecture;
    }
    EXPECT_EQ(environment::architectureName("x86_64"), "x86-64");
    EXPECT_EQ(environment::architectureName("aarch64"), "ARM64");
    EXPECT_EQ(environment::architectureName("riscv64"), "riscv64");
}

TEST(Environment, ReadsThePrettyNameOfTheSystem) {
    EXPECT_EQ(environment::prettyName(
                  "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(environment::prettyName("PRETTY_NAME=Arch\n"), "Arch");
    EXPECT_EQ(environment::prettyName("NAME=x\n"), "Linux");
}

class Diagnostics : public ::testing::Test {
protected:
    testing::TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "私人站名");

    nlohmann::json report() const { return nlohmann::json::parse(workspace.diagnosticReport()); }
};

TEST_F(Diagnostics, HasFiveMembersWithoutAnIndex) {
    const Bytes bytes = workspace.diagnosticReport();
    EXPECT_EQ(bytes.find('\n'), std::string::npos);  // compact
    const auto json = nlohmann::json::parse(bytes);
    EXPECT_EQ(json.size(), 5u);
    EXPECT_EQ(json["appVersion"], "0.1.1");
    EXPECT_EQ(json["schema"], 1);
    EXPECT_EQ(json["serviceFresh"], false);
    EXPECT_FALSE(json.contains("indexedDocuments"));
    EXPECT_NEAR(json["generatedAt"].get<double>(), Timestamp::now().seconds, 60);
    EXPECT_EQ(json["systemVersion"], EnvironmentReport::inspect(dir.path()).operatingSystem);
    // Nothing that names the person, the station or its content.
    for (const std::string& secret :
         {workspace.configuration().id.text(), workspace.configuration().ownerID.text(),
          std::string("私人站名"), dir.path().native()}) {
        EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
    }
}

TEST_F(Diagnostics, CountsIndexedDocumentsAndJudgesTheService) {
    workspace.rebuildIndex();
    EXPECT_EQ(report()["indexedDocuments"], 0);
    workspace.writeNote("标题", "正文");
    workspace.rebuildIndex();
    EXPECT_EQ(report()["indexedDocuments"], 1);

    workspace.saveHeartbeat(
        {workspace.configuration().id, Timestamp::now(), 7, 1, 0, std::nullopt});
    EXPECT_EQ(report()["serviceFresh"], true);
    workspace.saveHeartbeat({workspace.configuration().id, Timestamp{Timestamp::now().seconds - 25},
                             7, 1, 0, std::nullopt});
    EXPECT_EQ(report()["serviceFresh"], false);
    workspace.saveHeartbeat({Uuid::random(), Timestamp::now(), 7, 1, 0, std::nullopt});
    EXPECT_EQ(report()["serviceFresh"], false);
}

}  // namespace
}  // namespace ostrak
