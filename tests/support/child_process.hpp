#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ostrak::testing {

// A real program run as a child, with its standard error collected through a pipe. The child
// inherits the environment (tests point HOME and XDG_DATA_HOME at temporary folders first).
// A child still running when the object goes is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const noexcept { return m_pid; }
    void signal(int number) const;
    // The exit status once the child has exited within `timeout` (-1 when killed by a
    // signal); nothing when it is still running.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    bool running();
    // Everything written to standard error so far (reads what is available without waiting).
    const std::string& standardError();

private:
    pid_t m_pid = -1;
    int m_errorPipe = -1;
    std::optional<int> m_status;
    std::string m_error;
};

// Runs a program to completion and returns its exit status and standard error.
struct Finished {
    int status;
    std::string standardError;
};
Finished runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Polls `condition` every 100 ms until it holds or `timeout` passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout);

}  // namespace ostrak::testing

#include <thread>

template <class Condition>
bool ostrak::testing::eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}
