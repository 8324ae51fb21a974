// StationModel with scripted dialogs, a recording opener and a scripted agent, on real
// temporary workstations and a real keyring (when scripts/test provides one).
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <filesystem>
#include <thread>
#include <type_traits>

#include "model_doubles.hpp"
#include "ostrak/core.hpp"
#include "station_model.hpp"
#include "temp_dir.hpp"

using namespace ostrak;
using namespace plovik;
namespace fs = std::filesystem;

namespace {

QString text(const Path& path) {
    return QString::fromStdString(path.native());
}

template <class T>
T waitFor(QFuture<T> future) {
    while (!future.isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if constexpr (!std::is_void_v<T>) return future.result();
}

// A heartbeat `age` seconds old of `station` (the workstation's own when none is given).
void beat(const Workspace& workspace, double age, int pid = 99,
          std::optional<Uuid> station = std::nullopt) {
    workspace.saveHeartbeat({station.value_or(workspace.configuration().id),
                             Timestamp{Timestamp::now().seconds - age}, pid, 0, 0, std::nullopt});
}

}  // namespace

class StationModelTest : public QObject {
    Q_OBJECT

    std::optional<ostrak::testing::TempHome> m_home;  // emplaced anew for each test
    std::optional<ostrak::testing::TempDir> m_dir;
    plovik::testing::ScriptedServices scripted{};
    EnvironmentReport environment;
    QString programPath;
    std::function<ModelResult(ModelProvider, const std::string&, const Uuid&)> connection;

    Path dir(const std::string& relative) const { return m_dir->path() / relative; }

    std::unique_ptr<StationModel> makeModel() {
        scripted = plovik::testing::scriptedServices();  // the doubles of the newest model
        auto& services = scripted.services;
        services.programPath = [this] { return programPath; };
        services.inspectEnvironment = [this](const Path&) { return environment; };
        services.testConnection = [this](ModelProvider provider, const std::string& model,
                                         const Uuid& station) {
            return connection(provider, model, station);
        };
        return std::make_unique<StationModel>(std::move(services));
    }
    std::unique_ptr<StationModel> modelWithWorkstation() {
        auto model = makeModel();
        model->install();
        return model;
    }
    plovik::testing::ScriptedAgent& agent() { return *scripted.agent; }
    plovik::testing::ScriptedDialogs& dialogs() { return *scripted.dialogs; }

private slots:
    void init() {
        m_home.emplace();
        m_dir.emplace();
        scripted = {};
        environment = {"Debian GNU/Linux 12 (bookworm) · Linux 6.1.0", "x86-64",
                       std::int64_t{1} << 40, true};
        programPath = text(m_home->path() / ".local/bin/OstrakDesktop");
        connection = ModelConnection::test;
    }

    // The status line joins the agent's answer with the heartbeat's freshness (its bounds are
    // the core's test), process and station.
    void showsTheServiceStatus() {
        const auto enabled = AgentStatus::enabled;
        const char* waiting = "已启用，等待后台响应";
        const std::tuple<AgentStatus, double, int, bool, const char*, bool, bool> cases[] = {
            {AgentStatus::notRegistered, 1, 99, true, "后台未启用", false, true},
            {enabled, 1, 99, true, "后台运行中", true, true},
            {enabled, 20, 99, true, waiting, true, false},
            {enabled, 1, 0, true, waiting, true, false},
            {enabled, 1, 99, false, waiting, true, false},
            {AgentStatus::requiresApproval, 1, 99, true, "等待系统允许后台运行", true, true},
            {AgentStatus::notFound, 1, 99, true, "后台组件未找到", false, true}};
        auto model = modelWithWorkstation();
        for (const auto& [status, age, pid, own, shown, registered, running] : cases) {
            beat(*model->workspace(), age, pid, own ? std::nullopt : std::optional(Uuid::random()));
            agent().current = status;
            model->refresh();
            QVERIFY2(model->serviceStatus() == QString(shown) &&
                         model->registered() == registered && model->running() == running &&
                         bool(model->heartbeat()) == own,
                     qPrintable(QString::number(age) + " s: " + model->serviceStatus()));
        }
        // The reason a service that does not run gave the manager is passed on.
        agent().current = enabled;
        agent().givenReason = QStringLiteral("该目录不是工作站：缺少 station.json。");
        beat(*model->workspace(), 20);
        model->refresh();
        QCOMPARE(model->serviceStatus(), QString(waiting) + "\n" + agent().givenReason);
        agent().givenReason.clear();
    }

    // The system and the space are checked before anything is made; the folder chosen is the
    // parent of the new workstation.
    void installChecksTheSystemAndTheFolder() {
        environment.isSupported = false;
        auto model = makeModel();
        QCOMPARE(model->location(), QDir(QDir::homePath()).filePath("Plovik"));
        QCOMPARE(model->modelName(), QStringLiteral("deepseek-chat"));
        model->install();
        QCOMPARE(model->error(),
                 QStringLiteral("此开发版支持 x86-64 或 ARM64 的 Linux 5.10 及以上。"));
        environment.isSupported = true;
        for (const auto available :
             {std::optional<std::int64_t>(536870912), std::optional<std::int64_t>()}) {
            environment.availableBytes = available;
            model->dismissError();
            model->install();
            QCOMPARE(model->error(),
                     QStringLiteral("请至少保留 512 MB 空间；知识资料需要额外空间。"));
        }
        QVERIFY(!model->workspace() && !Installation::hasSavedWorkspace());
        environment.availableBytes = 536870913;
        dialogs().folders.push_back(text(m_dir->path()));
        model->chooseLocation();
        model->dismissError();
        model->install();
        QCOMPARE(model->location(), text(dir("Plovik")));
        QVERIFY(model->workspace() && !model->error() && Installation::hasSavedWorkspace());
        QSignalSpy notices(model.get(), &StationModel::noticeChanged);
        model->install();  // with a workstation open: nothing
        QVERIFY(!model->error() && notices.isEmpty());
        agent().current = AgentStatus::notFound;  // the model asks again by itself
        QTRY_COMPARE_WITH_TIMEOUT(model->serviceStatus(), QStringLiteral("后台组件未找到"), 5000);
    }

    // No switch while busy or while the service runs, refused before the dialog (the rules are
    // the shared actions' test); a switch clears what belonged to the session of the old one;
    // cancelled dialogs change nothing.
    void switchesWorkstationsOnlyWhenItIsSafe() {
        auto model = modelWithWorkstation();
        agent().current = AgentStatus::enabled;
        model->refresh();
        const auto searching = model->search();  // busy until it finishes
        model->openExisting();
        QCOMPARE(model->error(), QStringLiteral("请等待当前操作完成后再切换工作站。"));
        waitFor(searching);
        model->openExisting();
        QCOMPARE(model->error(), QStringLiteral("请先停止当前工作站后台，再切换工作站。"));
        QVERIFY(dialogs().asked.isEmpty());
        agent().current = AgentStatus::notRegistered;
        model->refresh();

        const auto other = Workspace::create(dir("other"), "他处");
        beat(other, 25, 5);
        fs::remove_all(other.root() / "system/logs");
        model->setQuery("旧的");
        model->setSecret("sk-typed");
        model->setKeyMessage("旧消息");
        model->setModelResult(ModelResult{"ok", 1, 2});
        QSignalSpy refreshed(model.get(), &StationModel::serviceStatusChanged);
        dialogs().folders.push_back(text(other.root()));
        model->dismissError();
        model->openExisting();
        QCOMPARE(model->name() + model->location(), "他处" + text(other.root()));
        QVERIFY(model->query().isEmpty() && model->secret().isEmpty() &&
                model->keyMessage().isEmpty() && !model->modelResult());
        QVERIFY(fs::is_directory(other.root() / "system/logs"));
        QCOMPARE(Installation::load().configuration().id, other.configuration().id);
        QCOMPARE(refreshed.count(), 1);
        const auto fresh = Workspace::create(dir("fresh"), "第三");  // never had a service
        dialogs().folders.push_back(text(fresh.root()));
        model->openExisting();
        QCOMPARE(model->workspace()->configuration().id, fresh.configuration().id);
        QSignalSpy notices(model.get(), &StationModel::noticeChanged);
        model->chooseLocation();
        model->openExisting();
        model->exportDiagnostics();
        QCOMPARE(dialogs().asked, (QStringList{"打开工作站", "打开工作站", "选择父目录",
                                               "打开工作站", "Plovik-diagnostics.json"}));
        QCOMPARE(model->location(), text(fresh.root()));
        QCOMPARE(notices.count(), 0);
        // A rename keeps what the person typed on screen, stores it trimmed, and refuses bad names.
        model->setName(" 新名字 ");
        model->rename();
        QCOMPARE(model->notice().value_or("") + model->name(),
                 QStringLiteral("名字已保存。 新名字 "));
        model->setName("a\tb");
        model->rename();
        QCOMPARE(model->error(), QStringLiteral("名字请使用 1–48 个字，不含换行或控制字符。"));
        QCOMPARE(Workspace::open(fresh.root()).configuration().name, std::string("新名字"));
        QCOMPARE(makeModel()->name() + makeModel()->location(), "新名字" + text(fresh.root()));
    }

    // Saved notes are found back by the search the save starts (what the page shows is the
    // views' test); a save is refused without a workstation, while busy or with a blank body.
    void savesNotesAndSearchesForTheLatestQuery() {
        auto empty = makeModel();
        QVERIFY(!waitFor(empty->saveNote("周报", "正文")));
        auto model = modelWithWorkstation();
        const Path inbox = model->workspace()->knowledgeURL() / "inbox";
        const auto searching = model->search();
        QVERIFY(model->search().isFinished());  // one at a time: the second does nothing
        QVERIFY(!waitFor(model->saveNote("周报", "正文")));
        waitFor(searching);
        // Saved, but the index could not be rebuilt: the note is kept (the editor lets it go, so
        // that nobody saves it twice) and the alert says both.
        const Path locked = inbox / "locked";
        fs::create_directories(locked);
        ::chmod(locked.c_str(), 0);
        if (::access(locked.c_str(), R_OK) != 0) {
            QVERIFY(waitFor(model->saveNote("存了", "正文")));
            QCOMPARE(
                model->error(),
                QStringLiteral("原稿已保存，但索引未能重建：部分知识目录无法读取，索引未更新。"));
            QVERIFY(!model->busy());
            model->dismissError();
        }
        ::chmod(locked.c_str(), 0700);
        fs::remove(locked);
        for (const auto& saved : fs::directory_iterator(inbox.parent_path() / "notes"))
            fs::remove(saved.path());
        QVERIFY(!waitFor(model->saveNote("周报", " ")));
        QCOMPARE(model->error(), QStringLiteral("笔记内容不能为空，且不超过 256 KB。"));
        QVERIFY(fs::is_empty(inbox.parent_path() / "notes"));
        ostrak::testing::writeFile(inbox / "a.md", "苹果 apple");
        ostrak::testing::writeFile(inbox / "b.md", "香蕉 banana");
        model->setQuery("APPLE");
        auto later = model->search();
        model->setQuery("BANANA");  // edited while the index is rebuilt
        waitFor(later);
        QVERIFY(!model->notice());  // a clean search clears the last notice
        QCOMPARE(model->documents().size(), std::size_t{1});
        QCOMPARE(model->documents()[0].text, std::string("香蕉 banana"));
        QVERIFY(model->resultsNote().isEmpty());
        model->setQuery("无此词");
        waitFor(model->search());
        QCOMPARE(model->resultsNote(), QStringLiteral("没有找到包含该内容的原稿。"));
        fs::create_symlink(inbox / "a.md", inbox / "link1.md");
        fs::create_symlink(inbox / "b.md", inbox / "link2.md");
        waitFor(model->search());
        QCOMPARE(model->notice(), QStringLiteral("有 2 项未纳入索引（大小、数量或链接限制）。"));
        QCOMPARE(model->skippedCount(), 2);
        const auto listing = waitFor(model->listSkipped());
        const auto* skipped = listing.listed ? &listing.entries : nullptr;
        QVERIFY(skipped && skipped->size() == 2 && skipped->at(1).relativePath == "inbox/link2.md");
        QCOMPARE(skipped->at(0).reason, std::string("符号链接"));
        // Left out of a full index, a note is still saved, and the notice says where it is.
        for (int i = 0; i < 1000; ++i)
            ostrak::testing::writeFile(inbox / (std::to_string(i) + ".md"), "x");
        model->setQuery("x");
        waitFor(model->search());
        QCOMPARE(model->documents().size(), std::size_t{50});
        QCOMPARE(model->resultsNote(), QStringLiteral("仅显示前 50 项，共 998 项匹配。"));
        QVERIFY(waitFor(model->saveNote("周报", "正文")));
        QCOMPARE(model->query(), QStringLiteral("周报"));
        QCOMPARE(
            model->notice(),
            QStringLiteral("原稿已保存；索引达到容量限制，尚未查回。可在知识库目录打开原稿。"));
    }

    void opensOnlyInsideTheKnowledgeFolderAndExports() {
        auto model = modelWithWorkstation();
        const auto owner = "users/" + model->workspace()->configuration().ownerID.text();
        model->openDocument({owner + "/knowledge/notes/a.md", "", ""});
        model->openDocument({owner + "/knowledge/../../../station.json", "", ""});
        QCOMPARE(scripted.opener->opened.size(), 1);
        QCOMPARE(model->error(), QStringLiteral("来源不在本工作站知识库内。"));
        ostrak::testing::writeFile(dir("diagnostics.json"), "old");
        dialogs().files.push_back(text(dir("diagnostics.json")));
        model->exportDiagnostics();
        QCOMPARE(model->notice(), QStringLiteral("诊断已导出，不包含密钥、笔记正文和账户信息。"));
        QVERIFY(ostrak::testing::readFile(dir("diagnostics.json")).starts_with("{"));
    }

    // Keys in the real keyring; the exchange itself is the core's to test. A test runs once at
    // a time and its result counts only for the workstation it was started for.
    void keepsKeysAndTestsTheConnectionOnce() {
        if (qgetenv("OSTRAK_TEST_PRIVATE_KEYRING") != "1") QSKIP("no private Secret Service");
        std::atomic<int> requests{0};
        connection = [&](ModelProvider provider, const std::string&, const Uuid& station) {
            ++requests;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return ModelResult{ModelKeychain::read(station, provider), 1, 1};
        };
        auto model = modelWithWorkstation();
        model->setSecret("short");
        model->saveKey();
        QCOMPARE(model->error(), QStringLiteral("API Key 格式不正确。"));
        QCOMPARE(model->secret(), QStringLiteral("short"));
        model->setModelResult(ModelResult{"old", 1, 1});
        model->setSecret("  sk-test-0123456789 ");
        model->saveKey();
        QVERIFY(model->secret().isEmpty() && !model->modelResult());
        QCOMPARE(model->keyMessage(), QStringLiteral("已保存在本机钥匙串，尚未验证连接。"));
        QTRY_COMPARE(model->keyStored(), std::optional(true));  // told without unlocking
        auto first = model->test();
        auto second = model->test();
        QVERIFY(model->busy());
        waitFor(first);
        waitFor(second);
        QCOMPARE(requests.load(), 1);
        QVERIFY(model->modelResult());
        QCOMPARE(model->modelResult()->reply, std::string("sk-test-0123456789"));
        model->removeKey();
        QCOMPARE(model->keyMessage(), QStringLiteral("密钥已从钥匙串移除。"));
        QTRY_COMPARE(model->keyStored(), std::optional(false));
        const auto other = Workspace::create(dir("other"), "别处");
        dialogs().folders.push_back(text(other.root()));
        model->dismissError();
        model->openExisting();
        QCOMPARE(model->workspace()->configuration().id, other.configuration().id);
        waitFor(model->test());
        QVERIFY(!model->modelResult() && !model->busy());
        QCOMPARE(model->error(), QStringLiteral("请先保存 API Key，并允许访问本机钥匙串。"));
    }

    void startsTheServiceOnlyFromAnInstalledProgramAndStopsIt() {
        programPath = text(dir("build/desktop/OstrakDesktop"));
        auto model = modelWithWorkstation();
        const QString notInstalled = "请先将plovik安装到 /usr、/opt 或 ~/.local，再启用后台服务。";
        // Which programs count as installed is the shared rules' test.
        for (const QString& program : {programPath, QStringLiteral("/usr/bin/OstrakDesktop")}) {
            const bool installed = !program.contains("build");
            programPath = program;
            agent().current = AgentStatus::notRegistered;
            model->dismissError();
            model->startService();
            QCOMPARE(model->error(), installed ? std::nullopt : std::optional(notInstalled));
        }
        QCOMPARE(agent().registrations, 1);
        // Enabled: only the folders are restored; approval pending: registered again.
        agent().current = AgentStatus::enabled;
        fs::remove_all(model->workspace()->root() / "system/logs");
        model->startService();
        QCOMPARE(agent().registrations, 1);
        QVERIFY(fs::is_directory(model->workspace()->root() / "system/logs"));
        agent().current = AgentStatus::requiresApproval;
        model->startService();
        QCOMPARE(agent().registrations, 2);
        agent().refuseRegistration = "Failed to enable unit: Access denied";
        agent().current = AgentStatus::notRegistered;
        model->startService();
        QCOMPARE(model->error(), QStringLiteral("Failed to enable unit: Access denied"));
        // A failed stop is reported with one fixed text.
        agent().current = AgentStatus::enabled;
        model->refresh();
        model->dismissError();
        agent().unregisterSucceeds = false;
        auto stopping = model->stopService();
        QVERIFY(model->busy());
        waitFor(model->stopService());  // busy: does nothing
        waitFor(stopping);
        QCOMPARE(agent().unregistrations, 1);
        QCOMPARE(model->error(), QStringLiteral("后台服务停止失败，请检查系统后台项目授权。"));
        QVERIFY(!model->busy());

        // A service that runs a program since replaced (as by a package upgrade) is outdated
        // until restarted; the restart stops and starts it.
        const fs::path program = dir("old-program");
        fs::copy_file("/bin/sleep", program);
        QProcess old;
        old.start(text(program), {"30"});
        QVERIFY(old.waitForStarted());
        fs::remove(program);
        beat(*model->workspace(), 0, static_cast<int>(old.processId()));
        model->dismissError();
        agent().unregisterSucceeds = true;
        agent().refuseRegistration.reset();
        model->refresh();
        QVERIFY(model->running() && model->serviceOutdated());
        waitFor(model->restartService());
        QTRY_COMPARE(agent().registrations, 3);
        QCOMPARE(agent().unregistrations, 2);
        beat(*model->workspace(), 0, static_cast<int>(::getpid()));  // the new service
        model->refresh();
        QVERIFY(model->running() && !model->serviceOutdated());
        old.kill();
        old.waitForFinished();
    }
};

QTEST_MAIN(StationModelTest)
#include "station_model_test.moc"
