#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ostrak::service {

// Runs `tick` on one worker thread every `interval` of the monotonic clock, first one interval
// after start, until stop(). The worker sleeps between ticks. stop() waits for a running tick
// to finish (the one mutex) and guarantees no tick starts afterwards; it then joins the worker.
class TimerLoop {
public:
    TimerLoop(std::chrono::milliseconds interval, std::function<void()> tick);
    ~TimerLoop();
    TimerLoop(const TimerLoop&) = delete;
    TimerLoop& operator=(const TimerLoop&) = delete;

    void stop();

private:
    void run();

    std::chrono::milliseconds m_interval;
    std::function<void()> m_tick;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_worker;
};

}  // namespace ostrak::service
