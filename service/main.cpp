// OstrakService: the background program of one workstation. It opens the workstation (given on
// the command line or named by the installation pointer), takes its service lock, indexes the
// knowledge folder and writes a heartbeat, then repeats that on a five-second timer until
// SIGTERM or SIGINT, when it writes a stopped heartbeat and exits with 0.
//
// A workstation that cannot be seen at start (its disk not plugged in yet) is waited for; one
// that disappears while served (the disk pulled) ends the service with status 1, which systemd
// restarts, so that it serves again once the disk is back.
//
// Standard error carries exactly three possible lines: the start-up failure (then status 1, and
// its reason told to systemd as the unit's status text, which `systemctl --user status` shows), a
// heartbeat that could not be written (each pass; also when the workstation disappeared, then
// status 1), and a lock file that was removed or replaced while the service ran (then status 3,
// which systemd does not restart: another service may hold the workstation now).
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
constexpr std::chrono::seconds absenceCheck{5};
constexpr std::chrono::minutes longestWait{10};

void say(const char* line) {
    (void)!::write(STDERR_FILENO, line, std::char_traits<char>::length(line));
}

void tellStatus(const std::string& reason) {
    sd_notifyf(0, "STATUS=%s", reason.c_str());
}

int failStartup(const std::string& reason = {}) {
    say(startupFailure);
    if (!reason.empty()) tellStatus(reason);
    return 1;
}

// Why the workstation at `root` cannot be opened now, in the words the app would use; empty
// when it can.
std::string whyUnusable(const Path& root) {
    try {
        Workspace::open(root);
        return {};
    } catch (const std::exception& failure) {
        return describeFailure(failure);
    }
}

enum class Wait { present, stopped, gaveUp };

// Waits for a workstation that cannot be seen (a disk not plugged in yet, a network folder not
// mounted), looking every five seconds, for up to ten minutes; then the start fails and systemd
// starts the service again five seconds later. A start so long never reaches the unit's limit
// of five starts in two minutes, so the service keeps coming back, one failed start in ten
// minutes while the disk stays away. Meanwhile the reason is the unit's status text, and the
// start timeout is extended at each look. A stop signal ends the wait.
Wait waitForWorkstation(const Path& root, const sigset_t& stopSignals) {
    const auto deadline = std::chrono::steady_clock::now() + longestWait;
    std::string told;
    while (Workspace::isUnreachable(root)) {
        if (std::chrono::steady_clock::now() >= deadline) return Wait::gaveUp;
        if (std::string reason = whyUnusable(root); reason != told) {
            tellStatus(reason);
            told = std::move(reason);
        }
        const auto extension = std::chrono::microseconds(3 * absenceCheck).count();
        sd_notifyf(0, "EXTEND_TIMEOUT_USEC=%lld", static_cast<long long>(extension));
        const timespec pause{absenceCheck.count(), 0};
        if (sigtimedwait(&stopSignals, nullptr, &pause) > 0) return Wait::stopped;
    }
    return Wait::present;
}

Path workstationRoot(const service::CommandLine& commandLine) {
    return commandLine.root ? *commandLine.root : Installation::savedRoot();
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

enum class Ending { stopRequested, lockLost, workstationGone };

// Every tick first checks that the lock file still names the locked file. When the workstation
// itself cannot be seen any more (its disk pulled), the service ends with status 1 and writes
// nothing; systemd restarts it, and the new start waits for the disk. When the workstation is
// there but its lock file was removed or replaced, a second service may lock the new one, so
// this one stops at once.
int runUntilStopped(service::Agent& agent, const Path& root, const ServiceLock& lock,
                    const sigset_t& signals) {
    const pthread_t mainThread = pthread_self();
    std::atomic<Ending> ending = Ending::stopRequested;
    std::optional<service::TimerLoop> timer;
    try {
        timer.emplace(std::chrono::seconds(5), [&] {
            if (ending != Ending::stopRequested) return;
            if (!lock.isCurrent()) {
                ending =
                    Workspace::isUnreachable(root) ? Ending::workstationGone : Ending::lockLost;
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
    // Ready once the lock is held, the first pass is done and the timer runs; an empty status
    // clears the reason a waiting start gave. Outside systemd (no NOTIFY_SOCKET) these
    // notifications do nothing.
    sd_notify(0, "READY=1\nSTATUS=");
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    sd_notify(0, "STOPPING=1");
    timer->stop();  // waits for a running pass; none starts afterwards
    switch (ending.load()) {
        case Ending::stopRequested:
            agent.writeStoppedHeartbeat();
            return 0;
        case Ending::workstationGone:
            say(heartbeatFailure);
            tellStatus(whyUnusable(root));
            return 1;
        case Ending::lockLost:
            break;
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
    Path root;
    try {
        commandLine = service::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (!commandLine) return failStartup();
        root = workstationRoot(*commandLine);
        if (!commandLine->once && waitForWorkstation(root, stopSignals) == Wait::stopped) return 0;
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
    return runUntilStopped(*agent, root, *lock, stopSignals);
}
