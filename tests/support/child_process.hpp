#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrak::testing {

// Polls `condition` every `interval` until it holds or `timeout` passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout,
                std::chrono::milliseconds interval = std::chrono::milliseconds(100)) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !condition();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

// A real program run as a child with the test's environment, its standard error collected
// through a pipe. A child still running when the object goes is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
        // The child starts with no blocked signals and default actions, whatever the runner has.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int failed =
            ::posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(pipeEnds[1]);
        m_errorPipe = pipeEnds[0];
        ::fcntl(m_errorPipe, F_SETFL, O_NONBLOCK);
        if (failed != 0) throw std::runtime_error("cannot start " + program);
    }
    ~ChildProcess() {
        if (!m_status && m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_errorPipe);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const noexcept { return m_pid; }
    void signal(int number) const { ::kill(m_pid, number); }
    // The exit status once the child has exited within `timeout` (-1 when a signal killed it).
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        eventually([this] { return reaped(); }, timeout, std::chrono::milliseconds(20));
        return m_status;
    }
    // Everything written to standard error so far.
    const std::string& standardError() {
        char buffer[4096];
        for (ssize_t got; (got = ::read(m_errorPipe, buffer, sizeof buffer)) > 0;)
            m_error.append(buffer, static_cast<std::size_t>(got));
        return m_error;
    }

private:
    bool reaped() {
        int status = 0;
        if (!m_status && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_status.has_value();
    }

    pid_t m_pid = -1;
    int m_errorPipe = -1;
    std::optional<int> m_status;
    std::string m_error;
};

struct Finished {
    int status;  // -2 when the program did not end in time
    std::string standardError;
};

inline Finished runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    ChildProcess child(program, arguments);
    const auto status = child.wait(timeout);
    return {status.value_or(-2), child.standardError()};
}

}  // namespace ostrak::testing
