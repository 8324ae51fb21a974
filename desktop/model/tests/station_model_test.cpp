// StationModel with scripted dialogs, a recording opener and a scripted agent, on real
// temporary workstations, a real keyring (when scripts/test provides one) and a loopback server.
#include <QSignalSpy>
#include <QtTest>

#include <httplib.h>
#include <filesystem>
#include <thread>

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

void waitFor(QFuture<void> future) {
    while (!future.isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
bool waitFor(QFuture<bool> future) {
    while (!future.isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return future.result();
}

bool keyringAvailable() {
    return qgetenv("OSTRAK_TEST_PRIVATE_KEYRING") == "1";
}

}  // namespace

class StationModelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ostrak::testing::TempHome> m_home;
    std::unique_ptr<ostrak::testing::TempDir> m_dir;
    plovik::testing::ScriptedAgent* agent = nullptr;
    plovik::testing::ScriptedDialogs* dialogs = nullptr;
    plovik::testing::RecordingOpener* opener = nullptr;
    EnvironmentReport environment;
    QString programPath;
    std::function<ModelResult(ModelProvider, const std::string&, const Uuid&)> connection;

    Path dir(const std::string& relative = "") const {
        return relative.empty() ? m_dir->path() : m_dir->path() / relative;
    }

    std::unique_ptr<StationModel> makeModel() {
        const auto previous = agent ? agent->current : AgentStatus::notRegistered;
        auto scripted = plovik::testing::scriptedServices();
        agent = scripted.agent;
        dialogs = scripted.dialogs;
        opener = scripted.opener;
        agent->current = previous;
        auto& services = scripted.services;
        services.programPath = [this] { return programPath; };
        services.inspectEnvironment = [this](const Path&) { return environment; };
        services.testConnection = [this](ModelProvider provider, const std::string& model,
                                         const Uuid& station) {
            return connection(provider, model, station);
        };
        return std::make_unique<StationModel>(std::move(services));
    }

    // A model with a freshly created workstation open.
    std::unique_ptr<StationModel> modelWithWorkstation() {
        auto model = makeModel();
        model->install();
        return model;
    }

private slots:
    void init() {
        m_home = std::make_unique<ostrak::testing::TempHome>();
        m_dir = std::make_unique<ostrak::testing::TempDir>();
        agent = nullptr;
        environment = {"Debian GNU/Linux 12 (bookworm) · Linux 6.1.0", "x86-64",
                       std::int64_t{1} << 40, true};
        programPath = text(m_home->path() / ".local/bin/OstrakDesktop");
        connection = [](ModelProvider provider, const std::string& model, const Uuid& station) {
            return ModelConnection::test(provider, model, station);
        };
    }
    void cleanup() {
        m_dir.reset();
        m_home.reset();
    }

    // Start-up.
    void startsEmptyWithoutAPointer() {
        auto model = makeModel();
        QVERIFY(!model->workspace());
        QCOMPARE(model->name(), QStringLiteral("我的工作站"));
        QCOMPARE(model->location(), QDir(QDir::homePath()).filePath("Plovik"));
        QVERIFY(!model->error());
        QCOMPARE(model->serviceStatus(), QStringLiteral("后台未启用"));
        QCOMPARE(model->provider(), ModelProvider::deepseek);
        QCOMPARE(model->modelName(), QStringLiteral("deepseek-chat"));
    }
    void reopensTheWorkstationOfThePointer() {
        const auto created = Workspace::create(dir("station"), "书房");
        Installation::save(created);
        auto model = makeModel();
        QVERIFY(model->workspace());
        QCOMPARE(model->name(), QStringLiteral("书房"));
        QCOMPARE(model->location(), text(created.root()));
        QVERIFY(!model->error());
    }
    void reportsAPointerThatNoLongerLeadsToItsWorkstation() {
        Installation::save(Workspace::create(dir("station"), "书房"));
        fs::rename(dir("station"), dir("moved"));
        Workspace::create(dir("station"), "别处");
        auto model = makeModel();
        QVERIFY(!model->workspace());
        QCOMPARE(model->error(), QStringLiteral("工作站身份发生变化，已停止自动连接。"));
        QCOMPARE(model->name(), QStringLiteral("我的工作站"));
        fs::remove_all(dir("station"));
        auto again = makeModel();
        QCOMPARE(again->error(), QStringLiteral("工作站数据目录必须属于当前系统用户。"));
    }

    // Service status.
    void mapsEveryAgentStatus_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("fresh");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("registered");
        QTest::newRow("not registered")
            << int(AgentStatus::notRegistered) << true << "后台未启用" << false;
        QTest::newRow("enabled, running")
            << int(AgentStatus::enabled) << true << "后台运行中" << true;
        QTest::newRow("enabled, stale")
            << int(AgentStatus::enabled) << false << "已启用，等待后台响应" << true;
        QTest::newRow("approval") << int(AgentStatus::requiresApproval) << true
                                  << "等待系统允许后台运行" << true;
        QTest::newRow("not found")
            << int(AgentStatus::notFound) << true << "后台组件未找到" << false;
    }
    void mapsEveryAgentStatus() {
        QFETCH(int, status);
        QFETCH(bool, fresh);
        QFETCH(QString, text);
        QFETCH(bool, registered);
        auto model = modelWithWorkstation();
        const auto& workspace = *model->workspace();
        const double age = fresh ? 1 : 30;
        workspace.saveHeartbeat({workspace.configuration().id,
                                 Timestamp{Timestamp::now().seconds - age}, 99, 0, 0,
                                 std::nullopt});
        agent->current = AgentStatus(status);
        model->refresh();
        QCOMPARE(model->serviceStatus(), text);
        QCOMPARE(model->registered(), registered);
    }
    void judgesRunningFromTheHeartbeat_data() {
        QTest::addColumn<double>("age");
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("running");
        QTest::newRow("19.9 s old") << 19.9 << 123 << true;
        QTest::newRow("20 s old") << 20.0 << 123 << false;
        QTest::newRow("5 s ahead") << -4.9 << 123 << true;
        QTest::newRow("5.1 s ahead") << -5.1 << 123 << false;
        QTest::newRow("pid 0") << 1.0 << 0 << false;
    }
    void judgesRunningFromTheHeartbeat() {
        QFETCH(double, age);
        QFETCH(int, pid);
        QFETCH(bool, running);
        auto model = modelWithWorkstation();
        const auto& workspace = *model->workspace();
        workspace.saveHeartbeat({workspace.configuration().id,
                                 Timestamp{Timestamp::now().seconds - age}, pid, 0, 0,
                                 std::nullopt});
        model->refresh();
        QCOMPARE(model->running(), running);
    }
    void ignoresTheHeartbeatOfAnotherStation() {
        auto model = modelWithWorkstation();
        model->workspace()->saveHeartbeat(
            {Uuid::random(), Timestamp::now(), 99, 0, 0, std::nullopt});
        agent->current = AgentStatus::enabled;
        model->refresh();
        QVERIFY(!model->heartbeat());
        QCOMPARE(model->serviceStatus(), QStringLiteral("已启用，等待后台响应"));
        QVERIFY(!model->error());
    }
    void refreshesEveryThreeSeconds() {
        auto model = makeModel();
        QSignalSpy spy(model.get(), &StationModel::serviceStatusChanged);
        agent->current = AgentStatus::notFound;
        QTRY_COMPARE_WITH_TIMEOUT(model->serviceStatus(), QStringLiteral("后台组件未找到"), 5000);
        QVERIFY(spy.count() >= 1);
    }

    // install().
    void installRefusesAnUnsupportedSystem() {
        environment.isSupported = false;
        auto model = makeModel();
        model->install();
        QCOMPARE(model->error(),
                 QStringLiteral("此开发版支持 x86-64 或 ARM64 的 Linux 5.10 及以上。"));
        QVERIFY(!model->workspace());
    }
    void installNeedsMoreThanHalfAGigabyte() {
        environment.availableBytes = 536870912;
        auto model = makeModel();
        model->install();
        QCOMPARE(model->error(), QStringLiteral("请至少保留 512 MB 空间；知识资料需要额外空间。"));
        QVERIFY(!model->workspace());
        environment.availableBytes = std::nullopt;
        model->install();
        QVERIFY(!model->workspace());
        environment.availableBytes = 536870913;
        model->dismissError();
        model->install();
        QVERIFY(model->workspace());
        QVERIFY(!model->error());
        QCOMPARE(model->notice(), QStringLiteral("本机数据目录已部署。下一步可启用知识库后台。"));
        QVERIFY(Installation::hasSavedWorkspace());
    }
    void installRefusesAFolderWithContent() {
        auto model = makeModel();
        fs::create_directories(dir("full"));
        ostrak::testing::writeFile(dir("full/keep.txt"), "mine");
        dialogs->folders.push_back(text(dir()));
        model->chooseLocation();
        QCOMPARE(model->location(), text(dir("Plovik")));
        fs::rename(dir("full"), dir("Plovik"));
        model->install();
        QCOMPARE(model->error(),
                 QStringLiteral("该目录已有资料。请打开已有工作站，或选择一个空目录。"));
        QVERIFY(!model->workspace());
    }
    void installDoesNothingWhenBusyOrOpen() {
        auto model = modelWithWorkstation();
        const auto id = model->workspace()->configuration().id;
        QSignalSpy notices(model.get(), &StationModel::noticeChanged);
        model->install();
        QCOMPARE(model->workspace()->configuration().id, id);
        QCOMPARE(notices.count(), 0);
    }

    // openExisting().
    void openExistingRefusesInOrderBeforeTheDialog() {
        auto model = modelWithWorkstation();
        agent->current = AgentStatus::enabled;
        model->refresh();
        const auto searching = model->search();  // busy until it finishes
        model->openExisting();
        QCOMPARE(model->error(), QStringLiteral("请等待当前操作完成后再切换工作站。"));
        waitFor(searching);
        model->openExisting();
        QCOMPARE(model->error(), QStringLiteral("请先停止当前工作站后台，再切换工作站。"));
        QVERIFY(dialogs->asked.isEmpty());
    }
    void openExistingRefusesALiveWorkstation() {
        const auto other = Workspace::create(dir("other"), "别处");
        other.saveHeartbeat({other.configuration().id, Timestamp{Timestamp::now().seconds - 10}, 5,
                             0, 0, std::nullopt});
        auto model = modelWithWorkstation();
        dialogs->folders.push_back(text(other.root()));
        model->openExisting();
        QCOMPARE(model->error(), QStringLiteral("目标工作站后台正在运行，请先停止后再切换。"));
        QVERIFY(model->workspace()->configuration().id != other.configuration().id);
    }
    void openExistingSwitchesAndClearsTheSessionFields() {
        const auto other = Workspace::create(dir("other"), "别处");
        other.saveHeartbeat({other.configuration().id, Timestamp{Timestamp::now().seconds - 25}, 5,
                             0, 0, std::nullopt});
        fs::remove_all(other.root() / "system/logs");
        auto model = modelWithWorkstation();
        model->setQuery("旧的");
        model->setSecret("sk-typed");
        model->setKeyMessage("旧消息");
        model->setModelResult(ModelResult{"ok", 1, 2});
        QSignalSpy refreshed(model.get(), &StationModel::serviceStatusChanged);
        dialogs->folders.push_back(text(other.root()));
        model->openExisting();
        QVERIFY(!model->error());
        QCOMPARE(model->workspace()->configuration().id, other.configuration().id);
        QCOMPARE(model->name(), QStringLiteral("别处"));
        QCOMPARE(model->location(), text(other.root()));
        QVERIFY(model->query().isEmpty() && model->secret().isEmpty() &&
                model->keyMessage().isEmpty());
        QVERIFY(!model->modelResult() && model->documents().empty());
        QCOMPARE(refreshed.count(), 1);
        QVERIFY(fs::is_directory(other.root() / "system/logs"));
        QCOMPARE(Installation::load().configuration().id, other.configuration().id);
        // A workstation without any heartbeat opens too.
        const auto third = Workspace::create(dir("third"), "第三");
        dialogs->folders.push_back(text(third.root()));
        model->openExisting();
        QCOMPARE(model->workspace()->configuration().id, third.configuration().id);
    }
    void cancelledDialogsChangeNothing() {
        auto model = modelWithWorkstation();
        const QString location = model->location();
        const auto id = model->workspace()->configuration().id;
        QSignalSpy notices(model.get(), &StationModel::noticeChanged);
        model->chooseLocation();
        model->openExisting();
        model->exportDiagnostics();
        QCOMPARE(dialogs->asked,
                 (QStringList{"选择父目录", "打开工作站", "Plovik-diagnostics.json"}));
        QCOMPARE(model->location(), location);
        QCOMPARE(model->workspace()->configuration().id, id);
        QCOMPARE(notices.count(), 0);
        QVERIFY(!model->error());
    }

    // rename().
    void renamesTheOpenWorkstation() {
        auto model = modelWithWorkstation();
        model->setName(" 新名字 ");
        model->rename();
        QCOMPARE(model->notice(), QStringLiteral("名字已保存。"));
        QCOMPARE(QString::fromStdString(model->workspace()->configuration().name),
                 QStringLiteral("新名字"));
        QCOMPARE(model->name(), QStringLiteral(" 新名字 "));
        model->setName("a\tb");
        model->rename();
        QCOMPARE(model->error(), QStringLiteral("名字请使用 1–48 个字，不含换行或控制字符。"));
        QCOMPARE(QString::fromStdString(
                     Workspace::open(model->workspace()->root()).configuration().name),
                 QStringLiteral("新名字"));
    }

    // saveNote() and search().
    void savesANoteAndFindsItBack() {
        auto model = modelWithWorkstation();
        QVERIFY(waitFor(model->saveNote("周报", "本周完成了索引")));
        QCOMPARE(model->notice(), QStringLiteral("原稿已保存，并已在本地索引查回。"));
        QCOMPARE(model->query(), QStringLiteral("周报"));
        QCOMPARE(model->documents().size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(model->documents()[0].title), QStringLiteral("周报"));
        QVERIFY(!model->busy());
    }
    void aNoteLeftOutOfAFullIndexStillCountsAsSaved() {
        auto model = modelWithWorkstation();
        const Path inbox = model->workspace()->knowledgeURL() / "inbox";
        for (int i = 0; i < 1000; ++i)
            ostrak::testing::writeFile(inbox / (std::to_string(i) + ".md"), "x");
        QVERIFY(waitFor(model->saveNote("周报", "正文")));
        QCOMPARE(
            model->notice(),
            QStringLiteral("原稿已保存；索引达到容量限制，尚未查回。可在知识库目录打开原稿。"));
    }
    void savingRefusesWhenBusyOrWithoutAWorkstation() {
        auto empty = makeModel();
        QVERIFY(!waitFor(empty->saveNote("周报", "正文")));
        auto model = modelWithWorkstation();
        const Path notes = model->workspace()->knowledgeURL() / "notes";
        const auto searching = model->search();
        QVERIFY(!waitFor(model->saveNote("周报", "正文")));
        waitFor(searching);
        QVERIFY(fs::is_empty(notes));
        QVERIFY(!waitFor(model->saveNote("周报", " ")));
        QCOMPARE(model->error(), QStringLiteral("笔记内容不能为空，且不超过 256 KB。"));
        QVERIFY(!model->busy());
    }
    void searchReportsSkippedEntriesAndUsesTheLatestQuery() {
        auto model = modelWithWorkstation();
        const Path knowledge = model->workspace()->knowledgeURL();
        ostrak::testing::writeFile(knowledge / "inbox/a.md", "苹果 apple");
        ostrak::testing::writeFile(knowledge / "inbox/b.md", "香蕉 banana");
        model->setQuery("APPLE");
        auto searching = model->search();
        model->setQuery("BANANA");  // edited while the index is rebuilt
        waitFor(searching);
        QCOMPARE(model->documents().size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(model->documents()[0].text), QStringLiteral("香蕉 banana"));
        QVERIFY(!model->notice());
        fs::create_symlink(knowledge / "inbox/a.md", knowledge / "inbox/link1.md");
        fs::create_symlink(knowledge / "inbox/b.md", knowledge / "inbox/link2.md");
        waitFor(model->search());
        QCOMPARE(model->notice(), QStringLiteral("有 2 项未纳入索引（大小、数量或链接限制）。"));
        fs::remove(knowledge / "inbox/link1.md");
        fs::remove(knowledge / "inbox/link2.md");
        waitFor(model->search());
        QVERIFY(!model->notice());
    }

    // Opening and exporting.
    void opensDocumentsOnlyInsideTheKnowledgeFolder() {
        auto model = modelWithWorkstation();
        const auto owner = model->workspace()->configuration().ownerID.text();
        model->openDocument({"users/" + owner + "/knowledge/notes/a.md", "", ""});
        model->openDocument({"users/" + owner + "/knowledge/../../../station.json", "", ""});
        QCOMPARE(opener->opened.size(), 1);
        QCOMPARE(model->error(), QStringLiteral("来源不在本工作站知识库内。"));
        model->openFolder(std::nullopt);
        model->openFolder(QStringLiteral("/somewhere"));
        QCOMPARE(opener->opened.last(), QStringLiteral("/somewhere"));
    }
    void exportsDiagnosticsOverAnExistingFile() {
        auto model = modelWithWorkstation();
        ostrak::testing::writeFile(dir("diagnostics.json"), "old");
        dialogs->files.push_back(text(dir("diagnostics.json")));
        model->exportDiagnostics();
        QCOMPARE(model->notice(), QStringLiteral("诊断已导出，不包含密钥、笔记正文和账户信息。"));
        QVERIFY(ostrak::testing::readFile(dir("diagnostics.json")).starts_with("{"));
    }

    // Keys and the connection test.
    void keyActionsNeedAWorkstation() {
        auto model = makeModel();
        model->setSecret("sk-typed-key");
        model->saveKey();
        model->removeKey();
        waitFor(model->test());
        QCOMPARE(model->secret(), QStringLiteral("sk-typed-key"));
        QVERIFY(model->keyMessage().isEmpty() && !model->error() && !model->busy());
    }
    void savesAndRemovesKeysInTheKeyring() {
        if (!keyringAvailable()) QSKIP("no private Secret Service (scripts/test starts one)");
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
        QCOMPARE(
            ModelKeychain::read(model->workspace()->configuration().id, ModelProvider::deepseek),
            std::string("sk-test-0123456789"));
        model->removeKey();
        QCOMPARE(model->keyMessage(), QStringLiteral("密钥已从钥匙串移除。"));
        model->removeKey();  // nothing left: still a success
        QCOMPARE(model->keyMessage(), QStringLiteral("密钥已从钥匙串移除。"));
    }
    void testsTheConnectionOnceAndOnlyForTheSameWorkstation() {
        if (!keyringAvailable()) QSKIP("no private Secret Service (scripts/test starts one)");
        httplib::Server server;
        std::atomic<int> requests{0};
        server.Post("/ok", [&](const httplib::Request& request, httplib::Response& response) {
            ++requests;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const bool authorised =
                request.get_header_value("Authorization") == "Bearer sk-test-0123456789";
            response.status = authorised ? 200 : 401;
            response.set_content(R"({"choices":[{"message":{"content":"plovik连接成功"}}]})",
                                 "application/json");
        });
        const int port = server.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { server.listen_after_bind(); });
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ok";
        // The real keyring read, the real HTTP exchange, aimed at the loopback server.
        connection = [url](ModelProvider provider, const std::string& model, const Uuid& station) {
            return ModelConnection::exchange(url, ModelKeychain::read(station, provider), model);
        };
        auto model = modelWithWorkstation();
        model->setSecret("sk-test-0123456789");
        model->saveKey();
        auto first = model->test();
        auto second = model->test();
        QVERIFY(model->busy());
        waitFor(first);
        waitFor(second);
        QCOMPARE(requests.load(), 1);
        QVERIFY(model->modelResult());
        QCOMPARE(QString::fromStdString(model->modelResult()->reply),
                 QStringLiteral("plovik连接成功"));
        QVERIFY(!model->busy());

        // Switched to another workstation while the test ran: the success is dropped...
        const auto other = Workspace::create(dir("other"), "别处");
        auto switched = model->test();
        dialogs->folders.push_back(text(other.root()));
        model->openExisting();  // busy: refused
        QCOMPARE(model->error(), QStringLiteral("请等待当前操作完成后再切换工作站。"));
        waitFor(switched);
        QVERIFY(model->modelResult());
        // ...so switch for real by reopening with the agent idle, then test a station with no key.
        model->dismissError();
        model->openExisting();
        waitFor(model->test());
        QVERIFY(!model->modelResult());
        QCOMPARE(model->error(), QStringLiteral("请先保存 API Key，并允许访问本机钥匙串。"));
        QVERIFY(!model->busy());
        ModelKeychain::remove(Installation::load().configuration().id, ModelProvider::deepseek);
        server.stop();
        serving.join();
    }

    // The background service.
    void startServiceOnlyFromAnInstalledProgram() {
        programPath = text(dir("build/desktop/OstrakDesktop"));
        auto model = modelWithWorkstation();
        model->startService();
        QCOMPARE(model->error(),
                 QStringLiteral("请先将plovik安装到 /usr、/opt 或 ~/.local，再启用后台服务。"));
        QCOMPARE(agent->registrations, 0);
        for (const QString& installed : {QStringLiteral("/usr/bin/OstrakDesktop"),
                                         QStringLiteral("/opt/plovik/bin/OstrakDesktop"),
                                         QDir::homePath() + "/.local/bin/OstrakDesktop"}) {
            programPath = installed;
            agent->current = AgentStatus::notRegistered;
            model->startService();
            QCOMPARE(model->serviceStatus(), QStringLiteral("已启用，等待后台响应"));
        }
        QCOMPARE(agent->registrations, 3);
        programPath = QDir::homePath() + "/.localx/bin/OstrakDesktop";
        model->dismissError();
        model->startService();
        QVERIFY(model->error());
    }
    void startServiceWhenEnabledOnlyRestoresAndRefreshes() {
        auto model = modelWithWorkstation();
        agent->current = AgentStatus::enabled;
        fs::remove_all(model->workspace()->root() / "system/logs");
        model->startService();
        QCOMPARE(agent->registrations, 0);
        QVERIFY(fs::is_directory(model->workspace()->root() / "system/logs"));
        QVERIFY(model->registered());
        agent->current = AgentStatus::requiresApproval;
        model->startService();
        QCOMPARE(agent->registrations, 1);
        agent->refuseRegistration = "Failed to enable unit: Access denied";
        agent->current = AgentStatus::notRegistered;
        model->startService();
        QCOMPARE(model->error(), QStringLiteral("Failed to enable unit: Access denied"));
    }
    void stopServiceReportsOneFixedFailure() {
        auto model = modelWithWorkstation();
        agent->current = AgentStatus::enabled;
        model->refresh();
        agent->unregisterSucceeds = false;
        auto stopping = model->stopService();
        QVERIFY(model->busy());
        waitFor(model->stopService());  // busy: does nothing
        waitFor(stopping);
        QCOMPARE(agent->unregistrations, 1);
        QCOMPARE(model->error(), QStringLiteral("后台服务停止失败，请检查系统后台项目授权。"));
        QVERIFY(!model->busy());
        agent->unregisterSucceeds = true;
        waitFor(model->stopService());
        QCOMPARE(model->serviceStatus(), QStringLiteral("后台未启用"));
        QVERIFY(!model->registered());
    }
};

QTEST_MAIN(StationModelTest)
#include "station_model_test.moc"
