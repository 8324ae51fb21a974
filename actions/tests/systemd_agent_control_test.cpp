// The real login-agent control against a private systemd user manager (started by
// scripts/test, announced in OSTRAK_TEST_PRIVATE_SYSTEMD), and the whole road: with the unit
// installed in ~/.local it registers and starts the service, whose heartbeats then say it
// runs, and stops it.
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include "ostrak/core.hpp"
#include "systemd_agent_control.hpp"
#include "temp_dir.hpp"

using namespace ostrak;
using namespace plovik;

namespace {

int run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    process.waitForFinished(180000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

}  // namespace

class SystemdAgentTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrak::testing::TempHome> m_home;
    QString m_prefix;
    QString m_unitFile;

private slots:
    void init() {
        if (qgetenv("OSTRAK_TEST_PRIVATE_SYSTEMD") != "1") {
            if (qgetenv("CI") == "true")
                QFAIL("scripts/test must provide a private systemd user manager under CI");
            QSKIP("no private systemd user manager (scripts/test starts one where it can)");
        }
        m_home = std::make_unique<ostrak::testing::TempHome>();
        m_prefix = QString::fromStdString((m_home->path() / ".local").native());
        m_unitFile = m_prefix + "/share/systemd/user/" + SystemdAgentControl::unitName;
        QCOMPARE(run("systemctl", {"--user", "set-environment", "HOME=" + QDir::homePath(),
                                   "XDG_DATA_HOME=" + qEnvironmentVariable("XDG_DATA_HOME")}),
                 0);
    }
    void cleanup() {
        if (!m_home) return;
        run("systemctl", {"--user", "disable", "--now", SystemdAgentControl::unitName});
        run("systemctl", {"--user", "reset-failed"});
        run("systemctl", {"--user", "unset-environment", "HOME", "XDG_DATA_HOME"});
        m_home.reset();
    }

    // Registered, started and stopped through the manager, whatever the locale's language:
    // status comes from machine-readable answers.
    void registersStartsAndStopsTheInstalledService() {
        qputenv("LANG", "zh_CN.UTF-8");
        qputenv("LC_ALL", "zh_CN.UTF-8");
        const auto english = qScopeGuard([] {
            qunsetenv("LC_ALL");
            qunsetenv("LANG");
        });
        QCOMPARE(SystemdAgentControl(m_unitFile).status(), AgentStatus::notFound);
        QCOMPARE(run("cmake", {"--install", OSTRAK_BUILD_DIR, "--prefix", m_prefix}), 0);
        ostrak::testing::TempDir data;
        const Workspace created = Workspace::create(data.path() / "station", "端到端");
        Installation::save(created);
        SystemdAgentControl control(m_unitFile);
        QCOMPARE(control.currentStatus(), AgentStatus::notRegistered);
        std::optional<std::optional<QString>> started;
        control.registerAgent([&](std::optional<QString> failure) { started = failure; });
        QTRY_VERIFY_WITH_TIMEOUT(started.has_value(), 60000);
        QVERIFY2(!*started, qPrintable(started->value_or("")));
        QCOMPARE(control.currentStatus(), AgentStatus::enabled);
        QVERIFY(created.heartbeat().pid > 0 && created.heartbeat().isFresh(Timestamp::now()));
        QVERIFY(control.reason().isEmpty());
        std::optional<bool> stopped;
        control.unregisterAgent([&](bool succeeded) { stopped = succeeded; });
        QTRY_VERIFY_WITH_TIMEOUT(stopped.has_value(), 30000);
        QVERIFY(*stopped);
        QCOMPARE(control.currentStatus(), AgentStatus::notRegistered);
        QCOMPARE(created.heartbeat().pid, 0);
    }

    // A manager that stops answering never freezes the window: its status reads "not found"
    // after the timeout and comes back once it answers again.
    void aStoppedManagerNeverBlocksTheWindow() {
        const pid_t manager = qEnvironmentVariableIntValue("OSTRAK_TEST_SYSTEMD_PID");
        if (manager <= 0) QSKIP("the private manager's process id is not known");
        QCOMPARE(run("cmake", {"--install", OSTRAK_BUILD_DIR, "--prefix", m_prefix}), 0);
        SystemdAgentControl control(m_unitFile, std::chrono::milliseconds(1500));
        QTRY_COMPARE(control.status(), AgentStatus::notRegistered);
        ::kill(manager, SIGSTOP);
        const auto resume = qScopeGuard([manager] { ::kill(manager, SIGCONT); });
        bool otherEvents = false;
        QTimer::singleShot(0, [&] { otherEvents = true; });
        QElapsedTimer elapsed;
        elapsed.start();
        control.status();
        QTRY_VERIFY_WITH_TIMEOUT(otherEvents, 500);
        QVERIFY(elapsed.elapsed() < 500);
        QTRY_COMPARE_WITH_TIMEOUT(control.status(), AgentStatus::notFound, 5000);
        ::kill(manager, SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(control.status(), AgentStatus::notRegistered, 10000);
    }
};

QTEST_MAIN(SystemdAgentTest)
#include "systemd_agent_control_test.moc"
