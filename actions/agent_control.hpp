#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace plovik {

// The status of the per-user background agent as the service manager reports it.
enum class AgentStatus { notRegistered, enabled, requiresApproval, notFound };

// The login-agent facility: on Linux a systemd user unit. Nothing here waits for the service
// manager: answers arrive later, through the caller's event loop.
class AgentControl {
public:
    virtual ~AgentControl() = default;
    // The status last reported (not found until the manager has answered, or when it has not
    // answered in time), and a new question to the manager; `statusChanged` runs when a
    // different answer arrives.
    virtual AgentStatus status() = 0;
    // Why the agent is not running although enabled, in the agent's own words (what it told the
    // manager when its start failed or while it waits for its workstation), as last reported;
    // empty when it gave none or runs.
    virtual QString reason() const { return {}; }
    // Registers and starts the agent; `done` runs with nothing on success, else the manager's
    // description of the failure.
    virtual void registerAgent(std::function<void(std::optional<QString> failure)> done) = 0;
    // Stops and unregisters it; `done` runs with the outcome.
    virtual void unregisterAgent(std::function<void(bool succeeded)> done) = 0;
    // Shows where the user manages background items.
    virtual void openSettings() = 0;

    std::function<void(AgentStatus)> statusChanged;
};

}  // namespace plovik
