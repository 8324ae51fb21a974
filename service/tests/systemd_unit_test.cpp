// End to end under a real systemd user manager: the installed unit runs the installed service
// for the workstation of the installation pointer. scripts/test starts a private manager (its
// own XDG_RUNTIME_DIR and home) and says so in OSTRAK_TEST_PRIVATE_SYSTEMD; without it the test
// is skipped, so it never touches a real user's services.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "child_process.hpp"
#include "ostrak/core.hpp"
#include "temp_dir.hpp"

namespace ostrak {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::eventually;
using testing::runToEnd;

const std::string unitName = "cn.trenzo.workstation.agent.service";

bool privateManager() {
    const char* flag = std::getenv("OSTRAK_TEST_PRIVATE_SYSTEMD");
    return flag != nullptr && std::string(flag) == "1";
}

testing::Finished systemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"--user"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runToEnd("/usr/bin/systemctl", all, 60s);
}

TEST(SystemdUnit, RunsTheServiceOfThePointerAndStopsItCleanly) {
    if (!privateManager()) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") {
            FAIL() << "scripts/test must provide a private systemd user manager under CI";
        }
        GTEST_SKIP() << "no private systemd user manager (scripts/test starts one where it can)";
    }
    testing::TempHome home;
    testing::TempDir dir;
    const auto prefix = dir / "prefix";
    const auto install = runToEnd(
        "/usr/bin/cmake", {"--install", OSTRAK_BUILD_DIR, "--prefix", prefix.native()}, 120s);
    ASSERT_EQ(install.status, 0) << install.standardError;
    const auto unitFile = prefix / "share/plovik" / unitName;
    ASSERT_TRUE(fs::exists(unitFile));
    const std::string unit = testing::readFile(unitFile);
    EXPECT_NE(unit.find("ExecStart=" + (prefix / "libexec/plovik/OstrakService").native() + "\n"),
              std::string::npos)
        << unit;
    EXPECT_TRUE(fs::exists(prefix / "share/applications/plovik.desktop"));

    const auto workspace = Workspace::create(dir / "station", "站");
    Installation::save(workspace);
    const auto heartbeat = [&]() -> std::optional<ServiceHeartbeat> {
        try {
            return workspace.heartbeat();
        } catch (...) {
            return std::nullopt;
        }
    };

    // The manager's services see this test's home and data folder.
    ASSERT_EQ(systemctl({"set-environment", "HOME=" + home.path().native(),
                         std::string("XDG_DATA_HOME=") + std::getenv("XDG_DATA_HOME")})
                  .status,
              0);
    const auto enabled = systemctl({"enable", "--now", unitFile.native()});
    ASSERT_EQ(enabled.status, 0) << enabled.standardError;
    EXPECT_TRUE(eventually(
        [&] {
            const auto current = heartbeat();
            return current && current->pid > 0 && current->isFresh(Timestamp::now());
        },
        20s));
    const auto first = heartbeat();
    ASSERT_TRUE(first);
    EXPECT_TRUE(
        eventually([&] { return heartbeat() && heartbeat()->timestamp > first->timestamp; }, 8s));
    EXPECT_EQ(systemctl({"is-enabled", unitName}).status, 0);

    const auto disabled = systemctl({"disable", "--now", unitName});
    EXPECT_EQ(disabled.status, 0) << disabled.standardError;
    EXPECT_TRUE(eventually([&] { return heartbeat() && heartbeat()->pid == 0; }, 20s));
    const auto stopped = heartbeat();
    ASSERT_TRUE(stopped);
    EXPECT_FALSE(stopped->isFresh(Timestamp::now()));
    EXPECT_NE(systemctl({"is-enabled", unitName}).status, 0);
    systemctl({"unset-environment", "HOME", "XDG_DATA_HOME"});
}

}  // namespace
}  // namespace ostrak
