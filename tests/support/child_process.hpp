#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
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

// The test's own environment with `changes` made (name=value each).
inline std::vector<std::string> environmentWith(const std::vector<std::string>& changes = {}) {
    std::vector<std::string> result;
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string assignment(*entry);
        bool changed = false;
        for (const auto& change : changes)
            changed = changed || nameOf(change) == nameOf(assignment);
        if (!changed) result.push_back(assignment);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

// A real program run as a child, by default with the test's environment and nothing on standard
// input; its standard output and error are collected through pipes. A child still running when
// the object goes is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& input = {},
                 const std::vector<std::string>& environment = environmentWith()) {
        int outputEnds[2], errorEnds[2];
        if (::pipe2(outputEnds, O_CLOEXEC) != 0 || ::pipe2(errorEnds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        // The input waits whole in an anonymous file, so the child reads it at its own pace.
        const int inputFile = ::memfd_create("input", MFD_CLOEXEC);
        if (inputFile < 0 || ::write(inputFile, input.data(), input.size()) != std::ssize(input) ||
            ::lseek(inputFile, 0, SEEK_SET) != 0)
            throw std::runtime_error("cannot prepare the input");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, inputFile, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errorEnds[1], STDERR_FILENO);
        // The child starts with no blocked signals and default actions, whatever the runner has.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        for (const auto& assignment : environment)
            envp.push_back(const_cast<char*>(assignment.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const int failed =
            ::posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(inputFile);
        ::close(outputEnds[1]);
        ::close(errorEnds[1]);
        m_pipes[0] = outputEnds[0];
        m_pipes[1] = errorEnds[0];
        for (const int end : m_pipes) ::fcntl(end, F_SETFL, O_NONBLOCK);
        if (failed != 0) throw std::runtime_error("cannot start " + program);
    }
    ~ChildProcess() {
        if (!m_status && m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int end : m_pipes) ::close(end);
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
    // Everything written to standard output, or standard error, so far.
    const std::string& standardOutput() { return drained(0); }
    const std::string& standardError() { return drained(1); }

private:
    const std::string& drained(int which) {
        char buffer[4096];
        for (ssize_t got; (got = ::read(m_pipes[which], buffer, sizeof buffer)) > 0;)
            m_texts[which].append(buffer, static_cast<std::size_t>(got));
        return m_texts[which];
    }
    bool reaped() {
        drained(0);  // a child blocked on a full pipe would never end
        drained(1);
        int status = 0;
        if (!m_status && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_status.has_value();
    }

    pid_t m_pid = -1;
    int m_pipes[2] = {-1, -1};  // standard output, standard error
    std::optional<int> m_status;
    std::string m_texts[2];
};

struct Finished {
    int status;  // -2 when the program did not end in time
    std::string standardError, standardOutput;
};

inline Finished runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         const std::string& input = {},
                         const std::vector<std::string>& environment = environmentWith()) {
    ChildProcess child(program, arguments, input, environment);
    const auto status = child.wait(timeout);
    return {status.value_or(-2), child.standardError(), child.standardOutput()};
}

}  // namespace ostrak::testing
