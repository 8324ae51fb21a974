// The service's own parts: its command line and the loop that paces its passes.
#include <mutex>

#include "command_line.hpp"
#include "testing.hpp"
#include "timer_loop.hpp"

using namespace ostrak::service;
using Arguments = std::vector<std::string>;

TEST(CommandLine, AcceptsTheThreeFormsAndRefusesEverythingElse) {
    const auto none = parseCommandLine({});
    const auto run = parseCommandLine({"--root", "/data/station", "--run"});
    const auto once = parseCommandLine({"--root", "station", "--once"});
    ASSERT_TRUE(none && run && once);
    EXPECT_FALSE(none->root);
    EXPECT_EQ(run->root, "/data/station");
    EXPECT_FALSE(run->once);
    EXPECT_EQ(once->root, fs::current_path() / "station");
    EXPECT_TRUE(once->once);
    for (const Arguments& arguments :
         {Arguments{"--root"}, Arguments{"--root", "/x"}, Arguments{"--root", "/x", "--once", "y"},
          Arguments{"--root", "/x", "--twice"}, Arguments{"--once", "/x", "--root"},
          Arguments{"/x", "--root", "--once"}, Arguments{"--ROOT", "/x", "--once"},
          Arguments{"--root", "", "--once"}}) {
        EXPECT_FALSE(parseCommandLine(arguments)) << ::testing::PrintToString(arguments);
    }
}

using Clock = std::chrono::steady_clock;

// A tick that overran is followed by the next one at once and then the usual rhythm, never by
// a burst of catch-up ticks.
TEST(TimerLoop, ALateTickIsNotMadeUpForWithABurst) {
    std::mutex mutex;
    std::vector<Clock::time_point> ticks;
    TimerLoop loop(100ms, [&] {
        std::size_t count = 0;
        {
            const std::lock_guard lock(mutex);
            ticks.push_back(Clock::now());
            count = ticks.size();
        }
        if (count == 1) std::this_thread::sleep_for(450ms);
    });
    std::this_thread::sleep_for(1000ms);
    loop.stop();
    const std::lock_guard lock(mutex);
    ASSERT_GE(ticks.size(), 4u);
    for (std::size_t i = 3; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i] - ticks[i - 1], 60ms) << "tick " << i;
    }
}
