// OstrakService: the background program of one workstation. It opens the workstation (given on
// the command line or named by the installation pointer), takes its service lock, indexes the
// knowledge folder and writes a heartbeat, then repeats that on a five-second timer until
// SIGTERM or SIGINT, when it writes a stopped heartbeat and exits with 0.
//
// Standard error carries exactly three possible lines: the start-up failure (then status 1, and
// its reason told to systemd as the unit's status text, which `systemctl --user status` shows), a
// heartbeat that could not be written during the timer phase, and a lock file that was removed
// or replaced while the service ran (then status 3, which systemd does not restart: another
// service may hold the workstation now).
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <atomic>
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
#include "ostrak/locale.hpp"
#include "timer_loop.hpp"

namespace {

using namespace ostrak;

constexpr const char* startupFailure = "plovik后台启动失败，请在管理 APP 中检查安装状态。\n";
constexpr const char* heartbeatFailure = "工作站状态写入失败。\n";
constexpr const char* lockLostIssue = "该工作站已有后台服务在运行。";
constexpr const char* lockLostLine = "该工作站已有后台服务在运行。\n";
constexpr int lockLostStatus = 3;

void say(const char* line) {
    (void)!::write(STDERR_FILENO, line, std::char_traits<char>::length(line));
}

int failStartup(const std::string& reason = {}) {
    say(startupFailure);
    if (!reason.empty()) sd_notifyf(0, "STATUS=%s", reason.c_str());
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

// Every tick first checks that the lock file still names the locked file: when it was removed
// or replaced, a second service may lock the new one, so this one stops at once.
int runUntilStopped(service::Agent& agent, const ServiceLock& lock, const sigset_t& signals) {
    const pthread_t mainThread = pthread_self();
    std::atomic<bool> lockLost = false;
    std::optional<service::TimerLoop> timer;
    try {
        timer.emplace(std::chrono::seconds(5), [&] {
            if (lockLost) return;
            if (!lock.isCurrent()) {
                lockLost = true;
                pthread_kill(mainThread, SIGTERM);
                return;
            }
            bool written = false;
            try {
                written = agent.pass(false);
            } catch (...) {
                // Out of memory or the like: this pass is lost, the service is not.
            }
            if (!written) say(heartbeatFailure);
            // A tick that came round is the sign of life the watchdog waits for; a hung pass
            // sends none, and systemd restarts the service.
            sd_notify(0, "WATCHDOG=1");
        });
    } catch (...) {
        // No timer thread (a process limit): the service cannot run, and says so before it
        // tells systemd it is ready.
        agent.writeStoppedHeartbeat();
        return failStartup();
    }
    // Ready once the lock is held, the first pass is done and the timer runs. Outside systemd
    // (no NOTIFY_SOCKET) these notifications do nothing.
    sd_notify(0, "READY=1");
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    sd_notify(0, "STOPPING=1");
    timer->stop();  // waits for a running pass; none starts afterwards
    if (!lockLost) {
        agent.writeStoppedHeartbeat();
        return 0;
    }
    agent.writeStoppedHeartbeat(lockLostIssue);
    say(lockLostLine);
    return lockLostStatus;
}

}  // namespace

int main(int argc, char** argv) {
    ostrak::locale::useUtf8CharacterType();
    // The first pass runs on this thread, the later ones on the timer's.
    allocator::useOneArena();
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
    } catch (const std::exception& failure) {
        return failStartup(describeFailure(failure));
    } catch (...) {
        return failStartup();
    }
    try {
        if (!agent->pass(commandLine->once)) return failStartup();
    } catch (...) {
        agent->writeStoppedHeartbeat();
        return failStartup();
    }
    if (commandLine->once) return 0;
    return runUntilStopped(*agent, *lock, stopSignals);
}
