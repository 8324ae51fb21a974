#include "timer_loop.hpp"

namespace ostrak::service {

TimerLoop::TimerLoop(std::chrono::milliseconds interval, std::function<void()> tick)
    : m_interval(interval), m_tick(std::move(tick)), m_worker([this] { run(); }) {}

TimerLoop::~TimerLoop() {
    stop();
}

void TimerLoop::stop() {
    {
        const std::lock_guard lock(m_mutex);  // waits here while a tick runs
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
}

void TimerLoop::run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    auto deadline = Clock::now() + m_interval;
    while (!m_wake.wait_until(lock, deadline, [this] { return m_stopping; })) {
        m_tick();  // under the mutex: stop() cannot slip in during a tick
        deadline += m_interval;
        // A tick that overran starts the next one at once rather than a burst of catch-ups.
        if (deadline < Clock::now()) deadline = Clock::now();
    }
}

}  // namespace ostrak::service
