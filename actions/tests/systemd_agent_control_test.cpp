// The real login-agent control against a private systemd user manager (started by
// scripts/test, announced in OSTRAK_TEST_PRIVATE_SYSTEMD), and the whole road: the model of an
// app installed in ~/.local registers the unit, the service's heartbeats make it "running", and
// it stops it.
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include "ostrak/core.hpp"
#include "station_model.hpp"
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

    // The app's model as the installed program has it: it registers the unit, the service's
    // heartbeats make it "running", and it stops it. Status comes from machine-readable answers,
    // whatever the locale's language.
    void theInstalledAppRunsAndStopsTheService() {
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
        PlatformServices services = PlatformServices::system();
        services.agent = std::make_unique<SystemdAgentControl>(m_unitFile);
        services.programPath = [this] { return m_prefix + "/bin/OstrakDesktop"; };
        StationModel model(std::move(services));
        // The status is asked for every 3 s and answered asynchronously.
        QTRY_COMPARE_WITH_TIMEOUT(model.serviceStatus(), QStringLiteral("后台未启用"), 15000);
        model.startService();
        QTRY_VERIFY_WITH_TIMEOUT(model.registered() || model.error(), 30000);
        QVERIFY2(!model.error(), qPrintable(model.error().value_or("")));
        QTRY_COMPARE_WITH_TIMEOUT(model.serviceStatus(), QStringLiteral("后台运行中"), 20000);
        auto stopping = model.stopService();
        QTRY_VERIFY_WITH_TIMEOUT(stopping.isFinished(), 30000);
        QVERIFY(!model.error());
        QTRY_COMPARE_WITH_TIMEOUT(model.serviceStatus(), QStringLiteral("后台未启用"), 15000);
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
#include "systemd_agent_test.moc"
