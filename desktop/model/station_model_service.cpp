// Starting and stopping the background service through the login-agent facility.
#include <QDir>
#include <QPointer>
#include <QPromise>

#include "failure_text.hpp"
#include "ready_future.hpp"
#include "station_actions.hpp"
#include "station_model.hpp"
#include "synchronous_section.hpp"

namespace plovik {

using namespace ostrak;

bool StationModel::serviceOutdated() const {
    return running() && actions::runsRemovedProgram(m_heartbeat->pid);
}

QFuture<void> StationModel::restartService() {
    return stopService().then(this, [this] {
        if (!m_error) startService();
    });
}

void StationModel::startService() {
    const SynchronousSection section(*this);
    if (!m_workspace || m_busy) return;
    const AgentStatus agent = m_services.agent->status();
    try {
        actions::prepareServiceStart(*m_workspace, utf8(m_services.programPath()), agent);
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    if (agent == AgentStatus::enabled) return refresh();
    // The manager's answer comes later; the window goes on meanwhile. A second start while the
    // first is on its way changes nothing.
    if (m_registering) return;
    m_registering = true;
    m_services.agent->registerAgent(
        [this, guard = QPointer<StationModel>(this)](std::optional<QString> failure) {
            if (!guard) return;
            m_registering = false;
            if (failure) {
                setError(*failure);
            } else {
                refresh();
            }
        });
}

QFuture<void> StationModel::stopService() {
    if (m_busy) return readyFuture();
    try {
        actions::requireManager(m_services.agent->status());
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return readyFuture();
    }
    setBusy(true, Activity::stopping);
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> finished = promise->future();
    promise->start();
    m_services.agent->unregisterAgent(
        [this, promise, guard = QPointer<StationModel>(this)](bool succeeded) {
            if (guard) {
                if (succeeded) {
                    refresh();
                } else {
                    setError(tr(actions::text::stopFailed));
                }
                setBusy(false);
            }
            promise->finish();
        });
    return finished;
}

void StationModel::openAgentSettings() {
    m_services.agent->openSettings();
}

}  // namespace plovik
