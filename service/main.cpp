// OstrakService: the background program of one workstation. It opens the workstation (given on
// the command line or named by the installation pointer), takes its service lock, indexes the
// knowledge folder and writes a heartbeat, then repeats that on a five-second timer until
// SIGTERM or SIGINT, when it writes a stopped heartbeat and exits with 0.
//
// Standard error carries exactly two possible lines: the start-up failure (then status 1) and a
// heartbeat that could not be written during the timer phase.
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent.hpp"
#include "command_line.hpp"
#include "ostrak/allocator.hpp"
#include "ostrak/core.hpp"
#include "timer_loop.hpp"

namespace {

using namespace ostrak;

constexpr const char* startupFailure = "plovik后台启动失败，请在管理 APP 中检查安装状态。\n";
constexpr const char* heartbeatFailure = "工作站状态写入失败。\n";

void say(const char* line) {
    (void)!::write(STDERR_FILENO, line, std::char_traits<char>::length(line));
}

int failStartup() {
    say(startupFailure);
    return 1;
}

Workspace openWorkspace(const service::CommandLine& commandLine) {
    Workspace workspace =
        commandLine.root ? Workspace::open(*commandLine.root) : Installation::load();
    workspace.ensureDirectories();
    return workspace;
}

// Blocks the two stop signals in this thread and in every thread started after it, so they
// are only ever taken by sigwait below, never by a handler. Blocked from the start of main: a
// stop that arrives during start-up or the first pass waits for it, then ends the service the
// ordinary way (stopped heartbeat, status 0).
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

int runUntilStopped(service::Agent& agent, const sigset_t& signals) {
    service::TimerLoop timer(std::chrono::seconds(5), [&agent] {
        if (!agent.pass(false)) say(heartbeatFailure);
        // A tick that came round is the sign of life the watchdog waits for; a hung pass sends
        // none, and systemd restarts the service.
        sd_notify(0, "WATCHDOG=1");
    });
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    sd_notify(0, "STOPPING=1");
    timer.stop();  // waits for a running pass; none starts afterwards
    agent.writeStoppedHeartbeat();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The first pass runs on this thread, the later ones on the timer's.
    allocator::useOneArena();
    allocator::keepLargeBuffersOnTheHeap();
    const sigset_t stopSignals = blockStopSignals();
    // A write past the file-size limit then fails with EFBIG like any failed write (old file
    // intact, temporary removed) instead of killing the process.
    ::signal(SIGXFSZ, SIG_IGN);
    std::optional<service::CommandLine> commandLine;
    std::unique_ptr<service::Agent> agent;
    std::unique_ptr<ServiceLock> lock;
    try {
        commandLine = service::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (!commandLine) return failStartup();
        Workspace workspace = openWorkspace(*commandLine);
        lock = workspace.acquireServiceLock();
        agent = std::make_unique<service::Agent>(std::move(workspace));
    } catch (...) {
        return failStartup();
    }
    if (!agent->pass(commandLine->once)) return failStartup();
    if (commandLine->once) return 0;
    // Ready once the lock is held and the first pass is done. Outside systemd (no
    // NOTIFY_SOCKET) these notifications do nothing.
    sd_notify(0, "READY=1");
    return runUntilStopped(*agent, stopSignals);
}
