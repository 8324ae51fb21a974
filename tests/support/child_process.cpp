#include "child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace ostrak::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with no blocked signals and default actions, whatever the test runner has.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
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

ChildProcess::~ChildProcess() {
    if (!m_status && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_errorPipe >= 0) ::close(m_errorPipe);
}

void ChildProcess::signal(int number) const {
    ::kill(m_pid, number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_status) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_status;
}

bool ChildProcess::running() {
    return !wait(std::chrono::milliseconds(0));
}

const std::string& ChildProcess::standardError() {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_errorPipe, buffer, sizeof buffer);
        if (got <= 0) break;
        m_error.append(buffer, static_cast<std::size_t>(got));
    }
    return m_error;
}

Finished runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                  std::chrono::milliseconds timeout) {
    ChildProcess child(program, arguments);
    const auto status = child.wait(timeout);
    return {status.value_or(-2), child.standardError()};
}

}  // namespace ostrak::testing
