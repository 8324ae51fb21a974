#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrak::testing {

// A real program run as a child with the test's environment, its standard error collected
// through a pipe. A child still running when the object goes is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const noexcept { return m_pid; }
    void signal(int number) const;
    // The exit status once the child has exited within `timeout` (-1 when a signal killed it).
    std::optional<int> wait(std::chrono::milliseconds timeout);
    bool running() { return !wait(std::chrono::milliseconds(0)); }
    // Everything written to standard error so far.
    const std::string& standardError();

private:
    pid_t m_pid = -1;
    int m_errorPipe = -1;
    std::optional<int> m_status;
    std::string m_error;
};

struct Finished {
    int status;  // -2 when the program did not end in time
    std::string standardError;
};
Finished runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Polls `condition` every 100 ms until it holds or `timeout` passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !condition();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace ostrak::testing
