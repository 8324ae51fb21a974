// Starting and stopping the background service through the login-agent facility.
#include <unistd.h>

#include <QDir>
#include <QPromise>

#include <string>

#include "failure_text.hpp"
#include "station_model.hpp"
#include "synchronous_section.hpp"

namespace plovik {

using namespace ostrak;

namespace {

// The service may only be registered for an installed program: one run from a build or
// download folder would leave a unit pointing at a file that can vanish.
bool isInstalledProgram(const QString& program) {
    const QString home = QString::fromStdString(Installation::homeDirectory().native());
    return program.startsWith(QStringLiteral("/usr/")) ||
           program.startsWith(QStringLiteral("/opt/")) ||
           (!home.isEmpty() && home != QStringLiteral("/") &&
            program.startsWith(home + QStringLiteral("/.local/")));
}

// The kernel names a running program whose file was removed or replaced "PATH (deleted)".
bool runsRemovedProgram(std::int32_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 &&
           std::string_view(target, static_cast<std::size_t>(length)).ends_with(" (deleted)");
}

}  // namespace

bool StationModel::serviceOutdated() const {
    return running() && runsRemovedProgram(m_heartbeat->pid);
}

QFuture<void> StationModel::restartService() {
    return stopService().then(this, [this] {
        if (!m_error) startService();
    });
}

void StationModel::startService() {
    const SynchronousSection section(*this);
    if (!m_workspace || m_busy) return;
    try {
        if (!isInstalledProgram(m_services.programPath())) {
            throw OstrakError("请先将plovik安装到 /usr、/opt 或 ~/.local，再启用后台服务。");
        }
        m_workspace->ensureDirectories();
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    if (m_services.agent->status() == AgentStatus::enabled) return refresh();
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
    if (m_busy) return QtFuture::makeReadyFuture();
    setBusy(true);
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> finished = promise->future();
    promise->start();
    m_services.agent->unregisterAgent(
        [this, promise, guard = QPointer<StationModel>(this)](bool succeeded) {
            if (guard) {
                if (succeeded) {
                    refresh();
                } else {
                    setError(tr("后台服务停止失败，请检查系统后台项目授权。"));
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
