#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

#include "agent_control.hpp"

namespace plovik {

// The background agent as a systemd user unit, driven through the user manager's D-Bus API
// (org.freedesktop.systemd1.Manager), asynchronously: no call waits on the main thread.
//
// The manager is reached as systemctl does: over its private socket
// $XDG_RUNTIME_DIR/systemd/private when it exists, else on the user's session bus. Registering
// enables the unit (by name when the manager knows it, else by the installed file), reloads and
// starts it, and reports when the start job has ended; unregistering stops and disables it
// (systemd sends SIGTERM, and the service writes its stopped heartbeat). Status is decided from
// the unit-file state and D-Bus error names, never from message texts: the unit file missing
// from the installation, a manager that cannot be reached or does not answer within
// `answerTimeout` read as "not found" (until it answers). A manager that is not there is asked
// again after 3 s, then after twice as long each time up to 30 s, and never activated by D-Bus.
class SystemdAgentControl : public QObject, public AgentControl {
    Q_OBJECT

public:
    static constexpr const char* unitName = "cn.trenzo.workstation.agent.service";

    explicit SystemdAgentControl(QString unitFile,
                                 std::chrono::milliseconds answerTimeout = std::chrono::seconds(3));
    ~SystemdAgentControl() override;
    // The unit file that belongs to the running program: <prefix>/share/systemd/user/ or
    // <prefix>/lib/systemd/user/ beside <prefix>/bin (the package's), both in the user
    // manager's search path.
    static QString installedUnitFile();

    AgentStatus status() override;
    // The unit's status text (the service's STATUS=), asked with the status while it is enabled.
    QString reason() const override { return m_reason; }
    // For a program without a window: asks the manager and waits for its answer (at most the
    // answer timeout) in a local event loop.
    AgentStatus currentStatus();
    void registerAgent(std::function<void(std::optional<QString> failure)> done) override;
    void unregisterAgent(std::function<void(bool succeeded)> done) override;
    // Creates the user's unit folder and shows it through `showFolder` (the desktop's opener,
    // set by the app; a program without a window leaves it empty).
    void openSettings() override;

    std::function<void(const QString& folder)> showFolder;

    // How long to wait before asking again a manager that did not answer, after waiting `last`
    // (zero: it answered last time): 3 s, then twice as long each time, up to 30 s.
    static std::chrono::milliseconds nextRetryDelay(std::chrono::milliseconds last);

private slots:
    // Manager.JobRemoved(u id, o job, s unit, s result).
    void jobRemoved(const QDBusMessage& signal);

private:
    using Reply = std::function<void(const QDBusMessage& reply)>;

    QDBusConnection manager();
    // Calls a Manager method; `then` gets the reply or the error message, on the main thread.
    void call(const QString& method, const QVariantList& arguments, Reply then,
              std::chrono::milliseconds timeout);
    // The same for a method of another object and interface of the manager.
    void callOn(const QString& path, const QString& interface, const QString& method,
                const QVariantList& arguments, Reply then, std::chrono::milliseconds timeout);
    // Asks the loaded unit's status text into m_reason, then calls `then`.
    void askReason(std::function<void()> then);
    // Starts or stops the unit and calls `then` with the job's result ("done" on success).
    void runJob(const QString& method, std::function<void(const QString& result)> then);
    void setStatus(AgentStatus status);
    // After an unanswered status question: the next one waits longer.
    void backOff();
    // Ends every job still waiting for its end with "disconnected".
    void failPendingJobs();
    // Until the manager's first answer on a new private-socket connection, pings it now and
    // then while a call waits (see the definition for why).
    void nudgeWhileWaiting();
    // Takes a reply from the private-socket connection numbered `generation` (0: another
    // connection) as the manager's first answer on it, when it is one.
    void noteAnswer(int generation, const QDBusMessage& reply);

    QString m_unitFile;
    std::chrono::milliseconds m_answerTimeout;
    QString m_connectionName;
    bool m_peer = false;
    bool m_peerAnswered = false;  // the manager has answered on the private-socket connection
    int m_peerGeneration = 0;     // counts the private-socket connections made
    int m_waitingOnPeer = 0;      // calls made before that answer, still waiting for theirs
    QTimer* m_nudge = nullptr;
    bool m_asking = false;
    std::chrono::milliseconds m_retryDelay{0};  // zero: the manager answered last time
    std::chrono::steady_clock::time_point m_nextQuestion;
    bool m_knownByName = false;
    AgentStatus m_status = AgentStatus::notFound;
    QString m_reason;
    bool m_subscribed = false;
    int m_awaitingJobReplies = 0;
    QMultiHash<QString, std::function<void(const QString&)>> m_pendingJobs;
    QHash<QString, QString> m_endedJobs;  // ended before their start reply was handled
};

}  // namespace plovik
