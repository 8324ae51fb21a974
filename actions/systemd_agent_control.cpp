#include "systemd_agent_control.hpp"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace plovik {

namespace {

const QString managerService = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
constexpr int firstNudge = 25;     // ms; then twice as long each time
constexpr int longestNudge = 250;  // ms
constexpr int pingTimeout = 1000;  // ms
// Starting waits for the service's readiness; stopping for its stopped heartbeat.
constexpr std::chrono::seconds jobTimeout{120};

// The manager's answers that mean "no such unit", as opposed to "no manager".
bool meansNoSuchUnit(const QString& errorName) {
    return errorName == QStringLiteral("org.freedesktop.systemd1.NoSuchUnit") ||
           errorName == QStringLiteral("org.freedesktop.systemd1.LoadFailed") ||
           errorName == QStringLiteral("org.freedesktop.DBus.Error.FileNotFound");
}

// A reply or an error the manager sent, not one standing for its silence.
bool isAnswer(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage ||
           (reply.type() == QDBusMessage::ErrorMessage &&
            reply.errorName() != QDBusError::errorString(QDBusError::NoReply) &&
            reply.errorName() != QDBusError::errorString(QDBusError::Disconnected));
}

QString describe(const QDBusMessage& error) {
    return error.errorMessage().isEmpty() ? error.errorName() : error.errorMessage();
}

}  // namespace

SystemdAgentControl::SystemdAgentControl(QString unitFile, std::chrono::milliseconds answerTimeout)
    : m_unitFile(std::move(unitFile)),
      m_answerTimeout(answerTimeout),
      m_connectionName(QStringLiteral("plovik-systemd-") + QUuid::createUuid().toString()) {}

SystemdAgentControl::~SystemdAgentControl() {
    if (m_peer) QDBusConnection::disconnectFromPeer(m_connectionName);
}

QString SystemdAgentControl::installedUnitFile() {
    // A home install keeps it in <prefix>/share/systemd/user, the package in /usr/lib/systemd/user.
    QString first;
    for (const char* folder : {"/../share/systemd/user/", "/../lib/systemd/user/"}) {
        const QString file =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + QString::fromLatin1(folder) +
                            QString::fromLatin1(unitName));
        if (QFileInfo(file).isFile()) return file;
        if (first.isEmpty()) first = file;
    }
    return first;
}

QDBusConnection SystemdAgentControl::manager() {
    if (m_peer) {
        QDBusConnection peer(m_connectionName);
        if (peer.isConnected()) return peer;
        QDBusConnection::disconnectFromPeer(m_connectionName);  // the manager went away
        m_peer = false;
        failPendingJobs();  // their end will never be told on this connection
    }
    // As systemctl does: the manager's private socket first, the session bus only without it.
    const QString privateSocket =
        qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/systemd/private");
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo::exists(privateSocket)) {
        QDBusConnection peer = QDBusConnection::connectToPeer(
            QStringLiteral("unix:path=") + privateSocket, m_connectionName);
        if (peer.isConnected()) {
            m_peer = true;
            m_peerAnswered = false;
            ++m_peerGeneration;
            peer.connect(QString(), managerPath, managerInterface, QStringLiteral("JobRemoved"),
                         this, SLOT(jobRemoved(QDBusMessage)));
            return peer;
        }
        QDBusConnection::disconnectFromPeer(m_connectionName);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!m_subscribed && bus.isConnected()) {
        // Signals reach a client of the session bus only once it has subscribed.
        bus.connect(managerService, managerPath, managerInterface, QStringLiteral("JobRemoved"),
                    this, SLOT(jobRemoved(QDBusMessage)));
        QDBusMessage subscribe = QDBusMessage::createMethodCall(
            managerService, managerPath, managerInterface, QStringLiteral("Subscribe"));
        subscribe.setAutoStartService(false);  // never activate a manager that is not there
        bus.asyncCall(subscribe);
        m_subscribed = true;
    }
    return bus;
}

// The manager (systemd 252's sd-bus) leaves a message unread when it came in the same read as
// the end of the authentication ("BEGIN"), until more bytes arrive: a first call made while the
// connection is still authenticating waits for its timeout and reads as "not found". A ping
// sent after it is such bytes (pings sent before the authentication has ended are held back
// with the call, so they go on at least every 250 ms). While such a call is waiting, pings go
// out after 25 ms, then twice as long each time up to 250 ms; they end with the manager's first
// answer on this connection (to a ping or a call) or when no call waits any more.
void SystemdAgentControl::nudgeWhileWaiting() {
    if (!m_nudge) {
        m_nudge = new QTimer(this);
        m_nudge->setSingleShot(true);
        connect(m_nudge, &QTimer::timeout, this, [this] {
            if (!m_peer || m_peerAnswered || m_waitingOnPeer == 0) return;
            QDBusMessage ping = QDBusMessage::createMethodCall(
                QString(), managerPath, QStringLiteral("org.freedesktop.DBus.Peer"),
                QStringLiteral("Ping"));
            auto* watcher = new QDBusPendingCallWatcher(
                QDBusConnection(m_connectionName).asyncCall(ping, pingTimeout), this);
            connect(watcher, &QDBusPendingCallWatcher::finished, this,
                    [this, watcher, generation = m_peerGeneration] {
                        noteAnswer(generation, watcher->reply());
                        watcher->deleteLater();
                    });
            m_nudge->start(std::min(2 * m_nudge->interval(), longestNudge));
        });
    }
    if (!m_nudge->isActive()) m_nudge->start(firstNudge);
}

void SystemdAgentControl::noteAnswer(int generation, const QDBusMessage& reply) {
    // An answer that was on its way from a connection since replaced says nothing of this one.
    if (m_peer && generation == m_peerGeneration && isAnswer(reply)) m_peerAnswered = true;
}

void SystemdAgentControl::failPendingJobs() {
    const auto pending = std::exchange(m_pendingJobs, {});
    for (const auto& then : pending) then(QStringLiteral("disconnected"));
}

void SystemdAgentControl::call(const QString& method, const QVariantList& arguments, Reply then,
                               std::chrono::milliseconds timeout) {
    callOn(managerPath, managerInterface, method, arguments, std::move(then), timeout);
}

void SystemdAgentControl::callOn(const QString& path, const QString& interface,
                                 const QString& method, const QVariantList& arguments, Reply then,
                                 std::chrono::milliseconds timeout) {
    QDBusConnection connection = manager();
    if (!connection.isConnected()) {
        // No bus and no manager's socket: a call would never be answered. The answer is the
        // failure, on the event loop as any other answer.
        const QDBusMessage failure = QDBusMessage::createError(
            QDBusError::Disconnected, QStringLiteral("the user manager cannot be reached"));
        QTimer::singleShot(0, this, [then = std::move(then), failure] { then(failure); });
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(m_peer ? QString() : managerService, path,
                                                          interface, method);
    message.setArguments(arguments);
    // A bus without the manager must not try to start one (and log each try).
    message.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(
        connection.asyncCall(message, static_cast<int>(timeout.count())), this);
    const bool nudged = m_peer && !m_peerAnswered;
    if (nudged) {
        ++m_waitingOnPeer;
        nudgeWhileWaiting();
    }
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, nudged, generation = m_peer ? m_peerGeneration : 0,
             then = std::move(then)] {
                const QDBusMessage reply = watcher->reply();
                noteAnswer(generation, reply);
                if (nudged && --m_waitingOnPeer == 0) m_nudge->stop();
                then(reply);
                watcher->deleteLater();
            });
}

AgentStatus SystemdAgentControl::status() {
    const AgentStatus known = m_status;
    if (!QFileInfo(m_unitFile).isFile()) {
        setStatus(AgentStatus::notFound);
        return m_status;
    }
    if (m_asking) return known;  // one question at a time; its answer will come
    if (std::chrono::steady_clock::now() < m_nextQuestion) return known;
    m_asking = true;
    call(
        QStringLiteral("GetUnitFileState"), {QString::fromLatin1(unitName)},
        [this](const QDBusMessage& reply) {
            m_asking = false;
            m_knownByName = reply.type() == QDBusMessage::ReplyMessage;
            if (reply.type() == QDBusMessage::ReplyMessage) {
                m_retryDelay = {};
                if (reply.arguments().value(0).toString() != QStringLiteral("enabled")) {
                    m_reason.clear();
                    return setStatus(AgentStatus::notRegistered);
                }
                m_asking = true;  // until the reason has come too
                return askReason([this] {
                    m_asking = false;
                    setStatus(AgentStatus::enabled);
                });
            }
            m_reason.clear();
            if (meansNoSuchUnit(reply.errorName())) {
                m_retryDelay = {};
                setStatus(AgentStatus::notRegistered);
            } else {
                backOff();
                setStatus(AgentStatus::notFound);
            }
        },
        m_answerTimeout);
    return known;
}

void SystemdAgentControl::askReason(std::function<void()> then) {
    const auto failed = [this, then](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ReplyMessage) return false;
        m_reason.clear();  // not loaded (never started), or no answer: nothing to say
        then();
        return true;
    };
    call(
        QStringLiteral("GetUnit"), {QString::fromLatin1(unitName)},
        [this, then, failed](const QDBusMessage& unit) {
            if (failed(unit)) return;
            callOn(
                unit.arguments().value(0).value<QDBusObjectPath>().path(),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {QStringLiteral("org.freedesktop.systemd1.Service"), QStringLiteral("StatusText")},
                [this, then, failed](const QDBusMessage& property) {
                    if (failed(property)) return;
                    m_reason =
                        property.arguments().value(0).value<QDBusVariant>().variant().toString();
                    then();
                },
                m_answerTimeout);
        },
        m_answerTimeout);
}

AgentStatus SystemdAgentControl::currentStatus() {
    status();
    while (m_asking) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_status;
}

std::chrono::milliseconds SystemdAgentControl::nextRetryDelay(std::chrono::milliseconds last) {
    constexpr std::chrono::milliseconds first = std::chrono::seconds(3);
    constexpr std::chrono::milliseconds longest = std::chrono::seconds(30);
    return last.count() == 0 ? first : std::min(2 * last, longest);
}

void SystemdAgentControl::backOff() {
    m_retryDelay = nextRetryDelay(m_retryDelay);
    m_nextQuestion = std::chrono::steady_clock::now() + m_retryDelay;
}

void SystemdAgentControl::setStatus(AgentStatus status) {
    if (status == m_status) return;
    m_status = status;
    if (statusChanged) statusChanged(status);
}

void SystemdAgentControl::registerAgent(std::function<void(std::optional<QString>)> done) {
    if (!QFileInfo(m_unitFile).isFile()) {
        return done(tr("找不到后台服务的单元文件：") + m_unitFile);
    }
    m_nextQuestion = {};  // the user asks now: the status that follows is asked at once
    // By name when the manager knows the unit (in its search path, or linked before), else by
    // the installed file, which the manager then links into the user's configuration.
    const QString target = m_knownByName ? QString::fromLatin1(unitName) : m_unitFile;
    const auto failed = [done](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ReplyMessage) return false;
        done(describe(reply));
        return true;
    };
    call(
        QStringLiteral("EnableUnitFiles"), {QStringList{target}, false, true},
        [this, done, failed](const QDBusMessage& enabled) {
            if (failed(enabled)) return;
            call(
                QStringLiteral("Reload"), {},
                [this, done, failed](const QDBusMessage& reloaded) {
                    if (failed(reloaded)) return;
                    runJob(QStringLiteral("StartUnit"), [this, done](const QString& result) {
                        status();
                        if (result == QStringLiteral("done")) return done(std::nullopt);
                        done(tr("后台服务未能启动（systemd：%1）。").arg(result));
                    });
                },
                jobTimeout);
        },
        jobTimeout);
}

void SystemdAgentControl::unregisterAgent(std::function<void(bool succeeded)> done) {
    m_nextQuestion = {};
    runJob(QStringLiteral("StopUnit"), [this, done](const QString& result) {
        // A unit that was not loaded has nothing to stop.
        if (result != QStringLiteral("done") && result != QStringLiteral("no-such-unit")) {
            return done(false);
        }
        call(
            QStringLiteral("DisableUnitFiles"), {QStringList{QString::fromLatin1(unitName)}, false},
            [this, done](const QDBusMessage& disabled) {
                if (disabled.type() != QDBusMessage::ReplyMessage) return done(false);
                call(
                    QStringLiteral("Reload"), {},
                    [this, done](const QDBusMessage& reloaded) {
                        status();
                        done(reloaded.type() == QDBusMessage::ReplyMessage);
                    },
                    jobTimeout);
            },
            jobTimeout);
    });
}

void SystemdAgentControl::runJob(const QString& method,
                                 std::function<void(const QString& result)> then) {
    ++m_awaitingJobReplies;
    call(
        method, {QString::fromLatin1(unitName), QStringLiteral("replace")},
        [this, then](const QDBusMessage& reply) {
            --m_awaitingJobReplies;
            if (reply.type() != QDBusMessage::ReplyMessage) {
                return then(meansNoSuchUnit(reply.errorName()) ? QStringLiteral("no-such-unit")
                                                               : reply.errorName());
            }
            const QString job = reply.arguments().value(0).value<QDBusObjectPath>().path();
            if (const auto ended = m_endedJobs.find(job); ended != m_endedJobs.end()) {
                const QString result = ended.value();
                m_endedJobs.erase(ended);
                return then(result);
            }
            m_pendingJobs.insert(job, then);
            // A job whose end is never told (a manager that stops answering) ends here.
            QTimer::singleShot(jobTimeout, this, [this, job] {
                const auto waiting = m_pendingJobs.values(job);
                m_pendingJobs.remove(job);
                for (const auto& late : waiting) late(QStringLiteral("timeout"));
            });
        },
        jobTimeout);
}

void SystemdAgentControl::jobRemoved(const QDBusMessage& signal) {
    const QVariantList arguments = signal.arguments();
    const QString job = arguments.value(1).value<QDBusObjectPath>().path();
    const QString unit = arguments.value(2).toString();
    const QString result = arguments.value(3).toString();
    if (unit != QString::fromLatin1(unitName)) return;
    if (m_pendingJobs.contains(job)) {
        const auto waiting = m_pendingJobs.values(job);
        m_pendingJobs.remove(job);
        for (const auto& then : waiting) then(result);
        return;
    }
    // Ended before the reply that names it arrived: kept only while such a reply is awaited.
    if (m_awaitingJobReplies > 0) m_endedJobs.insert(job, result);
}

void SystemdAgentControl::openSettings() {
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::ConfigLocation))
                               .filePath(QStringLiteral("systemd/user"));
    QDir().mkpath(folder);
    if (showFolder) showFolder(folder);
}

}  // namespace plovik
