#include "systemd_agent_control.hpp"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <stdexcept>

namespace plovik {

namespace {

// The status is asked on the main thread every 3 seconds: a manager that does not answer
// quickly reads as not found rather than freezing the window.
constexpr int statusTimeoutMs = 5000;
constexpr int commandTimeoutMs = 30000;

struct Outcome {
    bool finished = false;
    int exitCode = -1;
    QString output;
    QString errors;
};

Outcome systemctl(const QStringList& arguments, int timeoutMs = commandTimeoutMs) {
    QProcess process;
    process.start(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + arguments);
    Outcome outcome;
    outcome.finished =
        process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    if (!outcome.finished) process.kill();
    outcome.exitCode = process.exitCode();
    outcome.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    outcome.errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return outcome;
}

}  // namespace

SystemdAgentControl::SystemdAgentControl(QString unitFile) : m_unitFile(std::move(unitFile)) {}

QString SystemdAgentControl::installedUnitFile() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/plovik/") + QString::fromLatin1(unitName));
}

AgentStatus SystemdAgentControl::status() {
    if (!QFileInfo(m_unitFile).isFile()) return AgentStatus::notFound;
    const Outcome state =
        systemctl({QStringLiteral("is-enabled"), QString::fromLatin1(unitName)}, statusTimeoutMs);
    if (!state.finished) return AgentStatus::notFound;
    if (state.output == QStringLiteral("enabled")) return AgentStatus::enabled;
    // Any other state of a known unit ("disabled", "linked", ...), or no such unit at all.
    if (!state.output.isEmpty() || state.errors.contains(QStringLiteral("No such file"))) {
        return AgentStatus::notRegistered;
    }
    return AgentStatus::notFound;  // the user manager could not be reached
}

void SystemdAgentControl::registerAgent() {
    const Outcome enabled =
        systemctl({QStringLiteral("enable"), QStringLiteral("--now"), m_unitFile});
    if (enabled.finished && enabled.exitCode == 0) return;
    const QString description = enabled.errors.isEmpty()
                                    ? QStringLiteral("systemctl --user enable 失败。")
                                    : enabled.errors;
    throw std::runtime_error(description.toStdString());
}

void SystemdAgentControl::unregisterAgent(std::function<void(bool succeeded)> done) {
    auto* process = new QProcess;
    QObject::connect(process, &QProcess::finished, process,
                     [process, done](int exitCode, QProcess::ExitStatus exitStatus) {
                         done(exitStatus == QProcess::NormalExit && exitCode == 0);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, done](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         done(false);
                         process->deleteLater();
                     });
    process->start(QStringLiteral("systemctl"),
                   {QStringLiteral("--user"), QStringLiteral("disable"), QStringLiteral("--now"),
                    QString::fromLatin1(unitName)});
}

void SystemdAgentControl::openSettings() {
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::ConfigLocation))
                               .filePath(QStringLiteral("systemd/user"));
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace plovik
