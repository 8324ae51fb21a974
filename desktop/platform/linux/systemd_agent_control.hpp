#pragma once

#include <QString>

#include "platform_services.hpp"

namespace plovik {

// The background agent as a systemd user unit, driven through `systemctl --user`:
// registering links and enables the installed unit file and starts it; unregistering stops and
// disables it (systemd sends SIGTERM, and the service writes its stopped heartbeat). The unit
// file missing from the installation, or no reachable user manager, reads as "not found".
class SystemdAgentControl : public AgentControl {
public:
    static constexpr const char* unitName = "cn.trenzo.workstation.agent.service";

    explicit SystemdAgentControl(QString unitFile);
    // The unit file that belongs to the running program: <prefix>/share/plovik/ beside
    // <prefix>/bin.
    static QString installedUnitFile();

    AgentStatus status() override;
    void registerAgent() override;
    void unregisterAgent(std::function<void(bool succeeded)> done) override;
    void openSettings() override;

private:
    QString m_unitFile;
};

}  // namespace plovik
