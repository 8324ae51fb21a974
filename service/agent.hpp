#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "ostrak/workspace.hpp"

namespace ostrak::service {

// The service's work on its one workstation: each pass rebuilds the knowledge index when 30
// seconds or more have passed since the previous attempt ended, then writes a heartbeat that
// carries the counts of the last good index and the problem of the last attempt, if any.
// The first pass, and then one pass an hour, first removes the temporary files that a killed
// writer left behind (15 minutes old or more; a write in flight is younger).
// Not thread-safe: the caller runs passes one at a time.
class Agent {
public:
    static constexpr const char* indexingIssue = "知识索引失败。请在 APP 中检查数据位置和权限。";

    explicit Agent(Workspace workspace);

    // One pass. False when the heartbeat could not be written, or, for a single pass, when the
    // indexing attempt failed (the heartbeat with the issue has been written then).
    bool pass(bool singlePass);
    // The last heartbeat of a stopping service: pid 0, no counts, dated in the distant past so
    // that every reader sees it as stale at once, with the reason when it stops for one. Best
    // effort.
    void writeStoppedHeartbeat(std::optional<std::string> issue = std::nullopt) const noexcept;

private:
    struct Counts {
        std::int64_t indexed = 0;
        std::int64_t skipped = 0;
    };
    using Clock = std::chrono::steady_clock;

    void indexIfDue();
    void sweepIfDue();

    Workspace m_workspace;
    std::optional<Clock::time_point> m_lastSweep;
    std::optional<Clock::time_point> m_lastAttempt;  // none: never, so the first pass indexes
    std::optional<Counts> m_lastIndex;               // counts only: the text is not kept
    std::optional<std::string> m_issue;
};

}  // namespace ostrak::service
