// The rules both front ends take from the shared actions, each situation once, on real
// temporary workstations: what is refused (and with which text), what is allowed, and what the
// user is told.
#include <gtest/gtest.h>

#include <chrono>

#include "station_actions.hpp"
#include "systemd_agent_control.hpp"
#include "testing.hpp"

using namespace plovik;

namespace {

enum class Beat { none, fresh, freshWithoutProcess, stale };

void beat(const Workspace& workspace, Beat kind) {
    if (kind == Beat::none) return;
    const double age = kind == Beat::stale ? 20 : 1;
    workspace.saveHeartbeat({workspace.configuration().id,
                             Timestamp{Timestamp::now().seconds - age},
                             kind == Beat::freshWithoutProcess ? 0 : 4242, 0, 0, std::nullopt});
}

const std::string allowed = noError;
const std::string waitText = actions::text::waitForAction;
const std::string stopFirst = actions::text::stopBeforeSwitching;

}  // namespace

// Switching away from the current workstation: busy first, then the manager's answer, and only
// when the manager gave none, the current workstation's heartbeat (a live process's).
TEST(ActionRules, SwitchingIsRefusedWhileAnythingStillRuns) {
    const struct {
        bool busy;
        AgentStatus agent;
        Beat current;
        const std::string& expected;
    } cases[] = {
        {true, AgentStatus::notRegistered, Beat::none, waitText},
        {true, AgentStatus::enabled, Beat::fresh, waitText},
        {false, AgentStatus::enabled, Beat::none, stopFirst},
        {false, AgentStatus::requiresApproval, Beat::stale, stopFirst},
        {false, AgentStatus::notFound, Beat::fresh, stopFirst},
        {false, AgentStatus::notFound, Beat::freshWithoutProcess, allowed},
        {false, AgentStatus::notFound, Beat::stale, allowed},
        {false, AgentStatus::notFound, Beat::none, allowed},
        {false, AgentStatus::notRegistered, Beat::fresh, allowed},
    };
    for (const auto& [busy, agent, current, expected] : cases) {
        Station station;
        beat(station.workspace, current);
        EXPECT_MESSAGE(expected, actions::requireSwitchAllowed(busy, agent, station.workspace))
            << busy << " " << static_cast<int>(agent) << " " << static_cast<int>(current);
    }
    EXPECT_MESSAGE(allowed, actions::requireSwitchAllowed(false, AgentStatus::notFound, {}));
}

// The workstation switched to is refused while its own service beats, whatever its process id;
// else it is opened, its folders restored and the pointer saved.
TEST(ActionRules, OpeningRefusesAWorkstationWhoseServiceBeats) {
    const std::string targetRuns = "目标工作站后台正在运行，请先停止后再切换。";
    for (const Beat kind : {Beat::fresh, Beat::freshWithoutProcess, Beat::stale, Beat::none}) {
        TempHome home;
        Station target;
        beat(target.workspace, kind);
        fs::remove_all(target.workspace.root() / "system/logs");
        const bool beats = kind == Beat::fresh || kind == Beat::freshWithoutProcess;
        EXPECT_MESSAGE(beats ? targetRuns : allowed,
                       actions::openExisting(target.workspace.root()));
        EXPECT_EQ(Installation::hasSavedWorkspace(), !beats);
        EXPECT_EQ(fs::is_directory(target.workspace.root() / "system/logs"), !beats);
    }
}

// Starting the service: an installed program, the folders restored, a manager that answers;
// stopping it needs the manager too.
TEST(ActionRules, TheServiceStartsOnlyFromAnInstalledProgramWithAManager) {
    TempHome home;
    Station station;
    const std::string local = (home.path() / ".local/bin/plovik").native();
    const std::string notInstalled = "请先将plovik安装到 /usr、/opt 或 ~/.local，再启用后台服务。";
    const std::string noManager = actions::text::notFound;
    const struct {
        std::string program;
        AgentStatus agent;
        const std::string& expected;
    } cases[] = {
        {"/home/u/build/cli/plovik", AgentStatus::notRegistered, notInstalled},
        {(home.path() / ".localx/bin/plovik").native(), AgentStatus::notRegistered, notInstalled},
        {local, AgentStatus::notFound, noManager},
        {"/usr/bin/plovik", AgentStatus::notRegistered, allowed},
        {"/opt/plovik/bin/plovik", AgentStatus::enabled, allowed},
    };
    for (const auto& [program, agent, expected] : cases) {
        EXPECT_MESSAGE(expected, actions::prepareServiceStart(station.workspace, program, agent))
            << program;
    }
    fs::remove_all(station.workspace.root() / "system/logs");
    actions::prepareServiceStart(station.workspace, local, AgentStatus::notRegistered);
    EXPECT_TRUE(fs::is_directory(station.workspace.root() / "system/logs"));
    EXPECT_MESSAGE(noManager, actions::requireManager(AgentStatus::notFound));
    EXPECT_MESSAGE(allowed, actions::requireManager(AgentStatus::notRegistered));
}

// What the user is told after a save, a search and about the service.
TEST(ActionRules, OutcomesAreToldInTheirOwnWords) {
    Station station;
    const Path note = station.workspace.writeNote("周报", "本周");
    const KnowledgeIndex index = station.workspace.rebuildIndex();
    EXPECT_EQ(actions::savedNoteNotice(index, station.workspace.root(), note),
              actions::text::noteFound);
    EXPECT_EQ(
        actions::savedNoteNotice(index, station.workspace.root(), note.parent_path() / "x.md"),
        actions::text::noteNotFound);
    EXPECT_EQ(actions::savedButNotIndexed("部分知识目录无法读取，索引未更新。"),
              "原稿已保存，但索引未能重建：部分知识目录无法读取，索引未更新。");

    KnowledgeIndex skipping = index;
    EXPECT_EQ(actions::skippedNotice(skipping), std::nullopt);
    skipping.skipped = 1;
    EXPECT_EQ(actions::skippedNotice(skipping), "有 1 项未纳入索引（大小、数量或链接限制）。");
    SearchMatches matches{index.documents, 1};
    EXPECT_EQ(actions::truncatedNotice(matches), std::nullopt);
    matches.total = 51;
    EXPECT_EQ(actions::truncatedNotice(matches), "仅显示前 1 项，共 51 项匹配。");

    // The reason a service gave for not running is added only while it is enabled and not running
    // (the rest of the status line is the app model's test).
    const std::string reason =
        "找不到工作站目录：/media/u/usb。如果它在移动硬盘或网络位置上，请先连接。";
    EXPECT_EQ(actions::serviceStatusText(AgentStatus::enabled, false, reason),
              "已启用，等待后台响应\n" + reason);
    EXPECT_EQ(actions::serviceStatusText(AgentStatus::enabled, true, reason), "后台运行中");
    EXPECT_EQ(actions::serviceStatusText(AgentStatus::notRegistered, false, reason), "后台未启用");
}

// A result shows the first 200 user-perceived characters: a letter with its combining accent
// counts once and is never split from it.
TEST(ActionRules, PreviewsKeepWholeCharacters) {
    std::string accented;
    for (int i = 0; i < 250; ++i) accented += "e\xCC\x81";  // e + COMBINING ACUTE ACCENT
    const std::string shown = actions::preview(accented);
    EXPECT_EQ(shown, accented.substr(0, 200 * 3));
    EXPECT_EQ(actions::preview("短文 <b>&amp;</b>"), "短文 <b>&amp;</b>");
    EXPECT_EQ(actions::preview(std::string(200, 'x')), std::string(200, 'x'));
}

// After a manager that did not answer, it is asked again after 3 s, then twice as long each
// time, never more than 30 s apart.
TEST(ActionRules, AnAbsentManagerIsAskedLessOftenUpToEveryThirtySeconds) {
    using std::chrono::milliseconds;
    std::vector<long> delays;
    milliseconds delay{0};
    for (int i = 0; i < 7; ++i)
        delays.push_back((delay = SystemdAgentControl::nextRetryDelay(delay)).count());
    EXPECT_EQ(delays, (std::vector<long>{3000, 6000, 12000, 24000, 30000, 30000, 30000}));
}
