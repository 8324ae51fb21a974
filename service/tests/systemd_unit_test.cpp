// End to end under a real systemd user manager: the installed unit runs the installed service
// for the workstation of the installation pointer. scripts/test starts a private manager (its
// own XDG_RUNTIME_DIR and home) and says so in OSTRAK_TEST_PRIVATE_SYSTEMD; without it the test
// is skipped, so it never touches a real user's services.
#include <sstream>

#include "testing.hpp"

const std::string unitName = "cn.trenzo.workstation.agent.service";

static auto systemctl(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"--user"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runToEnd("/usr/bin/systemctl", all, 60s);
}

// Installed into the manager's own search path (the prefix of its XDG_DATA_HOME), the unit is
// enabled by name; it is active only once the service says it is ready, so a program that ends
// before that makes `enable --now` fail; scripts/uninstall then takes away every installed file
// and the unit, and leaves the workstation alone.
TEST(SystemdUnit, InstallsRunsStopsAndUninstallsCleanly) {
    if (environmentValue("OSTRAK_TEST_PRIVATE_SYSTEMD") != "1") {
        if (environmentValue("CI") == "true") FAIL() << "no private manager under CI";
        GTEST_SKIP() << "no private systemd user manager (scripts/test starts one where it can)";
    }
    // The manager was started with this data folder: its share/systemd/user is searched.
    const fs::path prefix = fs::path(environmentValue("XDG_DATA_HOME")).parent_path();
    TempHome home;
    Station station;
    const auto install = runToEnd(
        "/usr/bin/cmake", {"--install", OSTRAK_BUILD_DIR, "--prefix", prefix.native()}, 120s);
    ASSERT_EQ(install.status, 0) << install.standardError;
    EXPECT_NE(readFile(prefix / "share/systemd/user" / unitName)
                  .find("ExecStart=" + (prefix / "libexec/plovik/OstrakService").native() + "\n"),
              std::string::npos);
    ASSERT_EQ(systemctl({"daemon-reload"}).status, 0);
    // The manager's services see this test's home and data folder.
    ASSERT_EQ(systemctl({"set-environment", "HOME=" + home.path().native(),
                         "XDG_DATA_HOME=" + environmentValue("XDG_DATA_HOME")})
                  .status,
              0);
    // No pointer yet: the service ends before it is ready, and the start fails.
    EXPECT_NE(systemctl({"enable", "--now", unitName}).status, 0);
    systemctl({"disable", "--now", unitName});
    systemctl({"reset-failed", unitName});

    const Path note = station.workspace.writeNote("留下", "卸载后仍在");
    Installation::save(station.workspace);
    const auto enabled = systemctl({"enable", "--now", unitName});
    ASSERT_EQ(enabled.status, 0) << enabled.standardError;
    // `enable --now` returns once the service is ready: its first heartbeat is already there.
    const auto first = station.heartbeat();
    ASSERT_TRUE(first && first->pid > 0 && first->isFresh(Timestamp::now()));
    EXPECT_TRUE(eventually(
        [&] { return station.heartbeat() && station.heartbeat()->timestamp > first->timestamp; },
        8s));

    std::istringstream manifest(readFile(OSTRAK_BUILD_DIR "/install_manifest.txt"));
    std::vector<std::string> installed;
    for (std::string line; std::getline(manifest, line);) installed.push_back(line);
    const auto uninstalled =
        runToEnd(OSTRAK_SOURCE_DIR "/scripts/uninstall", {OSTRAK_BUILD_DIR}, 120s);
    EXPECT_EQ(uninstalled.status, 0) << uninstalled.standardError;
    const auto stopped = station.heartbeat();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->pid, 0);
    EXPECT_NE(systemctl({"cat", unitName}).status, 0);  // the manager no longer knows it
    ASSERT_FALSE(installed.empty());
    for (const auto& file : installed) EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << file;
    EXPECT_FALSE(fs::exists(home.path() / ".config/systemd/user/default.target.wants" / unitName));
    EXPECT_EQ(readFile(note), "# 留下\n\n卸载后仍在\n");
    EXPECT_NO_THROW(Installation::load());
    systemctl({"unset-environment", "HOME", "XDG_DATA_HOME"});
}
