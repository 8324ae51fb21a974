// The background service, through the user manager's D-Bus API as the app drives it.
#include <QCoreApplication>

#include "commands.hpp"
#include "lingering.hpp"
#include "station_actions.hpp"
#include "systemd_agent_control.hpp"
#include "terminal.hpp"

namespace plovik::cli {

using namespace ostrak;

namespace {

// Runs the event loop until `finished` is true: the manager's answers arrive through it.
void waitFor(const bool& finished) {
    while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The agent's status, refused when no manager answers (or the unit is not installed).
AgentStatus reachableStatus(SystemdAgentControl& agent) {
    const AgentStatus status = agent.currentStatus();
    actions::requireManager(status);
    return status;
}

void printServiceStatus(SystemdAgentControl& agent, const Workspace& workspace) {
    const AgentStatus status = agent.currentStatus();
    printLine(actions::serviceStatusText(status,
                                         actions::isRunning(actions::currentHeartbeat(workspace)),
                                         agent.reason().toStdString()));
}

}  // namespace

AgentAnswer askAgent() {
    SystemdAgentControl agent(SystemdAgentControl::installedUnitFile());
    const AgentStatus status = agent.currentStatus();
    return {status, agent.reason().toStdString()};
}

void enableService(const Arguments&) {
    const Workspace workspace = openedWorkspace();
    SystemdAgentControl agent(SystemdAgentControl::installedUnitFile());
    const AgentStatus status = agent.currentStatus();
    // Without a user manager, what to do about it, as the app's service page says.
    if (status == AgentStatus::notFound) {
        throw OstrakError(std::string(actions::text::notFound) + "\n" +
                          actions::text::noManagerHint);
    }
    actions::prepareServiceStart(workspace, QCoreApplication::applicationFilePath().toStdString(),
                                 status);
    if (status != AgentStatus::enabled) {
        std::optional<QString> failure;
        bool finished = false;
        const terminal::Progress progress("正在启用后台…");
        agent.registerAgent([&](std::optional<QString> outcome) {
            failure = std::move(outcome);
            finished = true;
        });
        waitFor(finished);
        if (failure) throw OstrakError(failure->toStdString());
    }
    printServiceStatus(agent, workspace);
    if (const auto hint = Lingering::ofThisAccount().hint()) tell(*hint);
}

void disableService(const Arguments&) {
    const Workspace workspace = openedWorkspace();
    SystemdAgentControl agent(SystemdAgentControl::installedUnitFile());
    reachableStatus(agent);
    bool succeeded = false, finished = false;
    {
        const terminal::Progress progress("正在停止后台…");
        agent.unregisterAgent([&](bool outcome) {
            succeeded = outcome;
            finished = true;
        });
        waitFor(finished);
    }
    if (!succeeded) throw OstrakError(actions::text::stopFailed);
    printServiceStatus(agent, workspace);
}

void showService(const Arguments&) {
    SystemdAgentControl agent(SystemdAgentControl::installedUnitFile());
    const AgentStatus status = reachableStatus(agent);
    // A workstation that cannot be opened has no heartbeat to read; the service's own reason
    // then says why.
    const auto current = workstationInUse();
    const bool running = current && actions::isRunning(actions::currentHeartbeat(*current));
    printLine(actions::serviceStatusText(status, running, agent.reason().toStdString()));
}

}  // namespace plovik::cli
