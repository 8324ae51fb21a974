#include "agent.hpp"

#include <unistd.h>

namespace ostrak::service {

namespace {
constexpr std::chrono::seconds indexInterval{30};
constexpr std::chrono::hours sweepInterval{1};
}  // namespace

Agent::Agent(Workspace workspace) : m_workspace(std::move(workspace)) {}

void Agent::indexIfDue() {
    // A monotonic clock, so that setting the wall clock back never stalls indexing.
    if (m_lastAttempt && Clock::now() - *m_lastAttempt < indexInterval) return;
    try {
        const auto index = m_workspace.rebuildIndex();
        m_lastIndex = Counts{static_cast<std::int64_t>(index.documents.size()), index.skipped};
        m_issue.reset();
    } catch (...) {
        m_issue = indexingIssue;
    }
    m_lastAttempt = Clock::now();
}

void Agent::sweepIfDue() {
    if (m_lastSweep && Clock::now() - *m_lastSweep < sweepInterval) return;
    m_workspace.removeStaleTemporaries();
    m_lastSweep = Clock::now();
}

bool Agent::pass(bool singlePass) {
    try {
        sweepIfDue();
    } catch (...) {
        // Best effort: a sweep that could not finish is tried again next hour.
    }
    indexIfDue();
    const Counts counts = m_lastIndex.value_or(Counts{});
    const ServiceHeartbeat heartbeat{m_workspace.configuration().id,
                                     Timestamp::now(),
                                     static_cast<std::int32_t>(::getpid()),
                                     counts.indexed,
                                     counts.skipped,
                                     m_issue};
    try {
        m_workspace.saveHeartbeat(heartbeat);
    } catch (...) {
        return false;
    }
    return !(singlePass && m_issue);
}

void Agent::writeStoppedHeartbeat(std::optional<std::string> issue) const noexcept {
    try {
        m_workspace.saveHeartbeat(
            {m_workspace.configuration().id, Timestamp::distantPast(), 0, 0, 0, std::move(issue)});
    } catch (...) {
    }
}

}  // namespace ostrak::service
