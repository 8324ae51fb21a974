// The real window and pages on the offscreen platform, driven through their widgets, with the
// model's platform services scripted. Renders every page in the states that matter to PNG files
// in the build folder (screenshots/).
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>

#include "model_doubles.hpp"
#include "needs_station.hpp"
#include "overview_view.hpp"
#include "plovik_app.hpp"
#include "progress_view_page.hpp"
#include "temp_dir.hpp"
#include "welcome_view.hpp"

using namespace ostrak;
using namespace plovik;
namespace fs = std::filesystem;

namespace {

// A widget that is missing fails the test; the steps after it run on a hidden stand-in, so one
// missing widget cannot crash the slots that follow.
template <class Widget>
Widget* found(Widget* widget, QWidget* root, const QString& what) {
    if (widget) return widget;
    QTest::qFail(qPrintable("no widget " + what), __FILE__, __LINE__);
    auto* standIn = new Widget(root);
    standIn->hide();
    return standIn;
}

template <class Widget = QPushButton>
Widget* withText(QWidget* root, const QString& text) {
    for (auto* widget : root->findChildren<Widget*>()) {
        if (widget->text() == text) return widget;
    }
    return found<Widget>(nullptr, root, "showing " + text);
}

// The field a screen reader announces by `name`.
template <class Widget = QLineEdit>
Widget* named(QWidget* root, const QString& name) {
    for (auto* widget : root->findChildren<Widget*>()) {
        if (widget->accessibleName() == name) return widget;
    }
    return found<Widget>(nullptr, root, "named " + name);
}

bool shows(QWidget* widget) {
    return widget && widget->isVisibleTo(widget->window());
}

// What a screen reader hears at each Tab stop after the sidebar, until Tab comes back to it.
// Every stop must be on screen (scrolled to), focusable and named, in a role a reader knows.
QStringList tabStops(QWidget& window) {
    auto* sidebar = window.findChild<QListWidget*>();
    sidebar->setFocus(Qt::TabFocusReason);
    QStringList heard;
    for (int step = 0; step < 40; ++step) {
        QCoreApplication::processEvents();  // the page laid out, as it is drawn
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* stop = QApplication::focusWidget();
        if (!stop || stop == sidebar) return heard;
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(stop);
        // A reader names a field by the label that labels it, else by its own name.
        const auto labels = reader->relations(QAccessible::Label);
        const QString name = labels.isEmpty() ? reader->text(QAccessible::Name)
                                              : labels.first().first->text(QAccessible::Name);
        const auto role = reader->role();
        const bool knownRole = role == QAccessible::Button || role == QAccessible::EditableText ||
                               role == QAccessible::ComboBox || role == QAccessible::List;
        if (!knownRole || name.isEmpty() || !reader->state().focusable ||
            stop->visibleRegion().isEmpty()) {
            heard << QStringLiteral("unusable stop %1 (%2, role %3)")
                         .arg(name, stop->metaObject()->className())
                         .arg(role);
        } else {
            heard << name;
        }
    }
    heard << QStringLiteral("Tab never returns to the sidebar");
    return heard;
}

}  // namespace

class ViewsTest : public QObject {
    Q_OBJECT

    std::optional<ostrak::testing::TempHome> m_home;  // emplaced anew for each test
    std::optional<ostrak::testing::TempDir> m_dir;
    plovik::testing::ScriptedAgent* agent = nullptr;
    plovik::testing::ScriptedDialogs* dialogs = nullptr;
    plovik::testing::RecordingOpener* opener = nullptr;
    std::optional<ModelResult> nextResult;

    std::unique_ptr<PlovikApp> launch() {
        auto scripted = plovik::testing::scriptedServices();
        agent = scripted.agent;
        dialogs = scripted.dialogs;
        opener = scripted.opener;
        auto& services = scripted.services;
        services.programPath = [] { return QDir::homePath() + "/.local/bin/OstrakDesktop"; };
        services.inspectEnvironment = EnvironmentReport::inspect;
        services.testConnection = [this](ModelProvider, const std::string&, const Uuid&) {
            QThread::msleep(200);
            if (!nextResult) throw OstrakError("连接失败或超时。请检查网络和服务商状态。");
            return *nextResult;
        };
        auto app = std::make_unique<PlovikApp>(std::move(services));
        app->window().show();
        if (!QTest::qWaitForWindowExposed(&app->window())) qWarning("window not exposed");
        return app;
    }

    // Launches with a workstation open (created through the welcome page's button).
    std::unique_ptr<PlovikApp> launchWithWorkstation() {
        auto app = launch();
        dialogs->folders.push_back(QString::fromStdString(m_dir->path().native()));
        withText(app->root().page(), "选择位置…")->click();
        app->station().setName("研究站");
        withText(app->root().page(), "建立本机工作站")->click();
        return app;
    }

    // The run with OSTRAK_SCREENSHOT_SUFFIX (a second CTest entry at pixel ratio 2 with a dark
    // palette) keeps its pictures beside the first run's.
    static void screenshot(PlovikApp& app, const QString& name) {
        QCoreApplication::processEvents();
        QVERIFY(app.window().screen()->availableGeometry().contains(app.window().frameGeometry()));
        QDir().mkpath(SCREENSHOT_DIR);
        const QString file = QStringLiteral(SCREENSHOT_DIR "/") + name +
                             qEnvironmentVariable("OSTRAK_SCREENSHOT_SUFFIX") + ".png";
        QVERIFY(app.window().grab().save(file));
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariable("OSTRAK_TEST_PALETTE") != "dark") return;
        QPalette dark(QColor(0x34, 0x36, 0x3a), QColor(0x26, 0x28, 0x2b));  // button, window
        dark.setColor(QPalette::Base, QColor(0x1b, 0x1c, 0x1e));
        dark.setColor(QPalette::Highlight, QColor(0x3d, 0x7f, 0xe8));
        dark.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
        QApplication::setPalette(dark);
    }
    void init() {
        m_home.emplace();
        m_dir.emplace();
        nextResult.reset();
    }

    void firstLaunchWelcomes() {
        auto app = launch();
        QVERIFY(qobject_cast<WelcomeView*>(app->root().page()));
        QCOMPARE(app->root().statusLine(), QStringLiteral("本机知识后台未运行"));
        QVERIFY(!app->root().alert());
        QTest::keyClicks(named(app->root().page(), "工作站名称"), "X");
        QCOMPARE(app->station().name(), QStringLiteral("我的工作站X"));
        screenshot(*app, "welcome");
        // 900 x 660 at least, or the whole free area of a smaller screen (offscreen: 800 x 600).
        const QRect screen = app->window().screen()->availableGeometry();
        QVERIFY(screen.contains(app->window().frameGeometry()));
        app->window().resize(500, 400);
        QCOMPARE(app->window().size(), QSize(900, 660).boundedTo(screen.size() - QSize(16, 48)));
        // Pages that need a workstation say so.
        for (const Panel panel : {Panel::knowledge, Panel::models, Panel::services}) {
            app->root().select(panel);
            QVERIFY2(shows(app->root().page()->findChild<NeedsStation*>()),
                     qPrintable(title(panel)));
        }
        app->root().select(Panel::opening);
        auto* progress = qobject_cast<ProgressViewPage*>(app->root().page());
        QVERIFY(progress);
        QVERIFY(!progress->done(0) && !progress->done(1));
        app->root().select(Panel::about);
        QVERIFY(!withText(app->root().page(), "导出脱敏诊断…")->isEnabled());
        QVERIFY(!shows(withText(app->root().page(), "打开已有工作站…")));
    }

    // Each page by Tab alone, as a screen reader announces it: every stop on screen, named and
    // in visual order; the sidebar tells which page is selected, the page title is a heading
    // and each card a named group. Controls disabled in the state shown are no stops.
    void everyPageIsUsableByKeyboardAndScreenReader() {
        const std::vector<std::pair<std::optional<Panel>, QStringList>> pages = {
            {std::nullopt, {"工作站名称", "选择位置…", "建立本机工作站", "打开已有工作站…"}},
            {Panel::overview, {"打开数据目录", "打开知识库", "工作站名称", "保存"}},
            {Panel::knowledge, {"标题", "笔记内容", "在文件管理器打开知识库", "搜索原稿内容"}},
            {Panel::models, {"服务商", "模型标识", "API Key", "移除密钥", "发送测试请求"}},
            {Panel::services, {"启用后台", "后台项目目录…"}},
            {Panel::opening, {}},
            {Panel::about, {"导出脱敏诊断…", "打开已有工作站…"}},
        };
        auto app = launch();
        app->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&app->window()));
        for (const auto& [panel, stops] : pages) {
            if (panel) {
                if (!app->station().workspace()) {
                    dialogs->folders.push_back(QString::fromStdString(m_dir->path().native()));
                    withText(app->root().page(), "选择位置…")->click();
                    withText(app->root().page(), "建立本机工作站")->click();
                }
                app->root().select(*panel);
            }
            const QString page = panel ? title(*panel) : QStringLiteral("welcome");
            QCOMPARE(tabStops(app->window()), stops);
            auto* sidebar =
                QAccessible::queryAccessibleInterface(app->window().findChild<QListWidget*>());
            const int row = panel ? static_cast<int>(*panel) : 0;
            QVERIFY2(sidebar->child(row)->state().selected, qPrintable(page));
            int headings = 0, unnamedGroups = 0;
            for (auto* widget : app->root().page()->findChildren<QWidget*>()) {
                auto* reader = QAccessible::queryAccessibleInterface(widget);
                headings += reader->role() == QAccessible::Heading;
                unnamedGroups += reader->role() == QAccessible::Grouping &&
                                 reader->text(QAccessible::Name).isEmpty();
            }
            QVERIFY2(headings == 1 && unnamedGroups == 0, qPrintable(page));
        }
    }

    // Create a workstation, save a note, search, open a result that no application takes and
    // export the diagnostics, by key events only.
    void aKeyboardAloneDoesTheWholeJob() {
        auto app = launch();
        app->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&app->window()));
        const auto focus = [] { return QApplication::focusWidget(); };
        const auto key = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            QTest::keyClick(focus(), static_cast<Qt::Key>(key), modifiers);
        };
        QCOMPARE(focus()->accessibleName(), QStringLiteral("工作站名称"));
        QTest::keyClicks(focus(), " K");
        dialogs->folders.push_back(QString::fromStdString(m_dir->path().native()));
        key(Qt::Key_Tab);
        key(Qt::Key_Space);  // 选择位置…
        key(Qt::Key_Tab, Qt::ShiftModifier);
        key(Qt::Key_Return);  // the page's default: 建立本机工作站
        QVERIFY(app->station().workspace());

        while (focus() != app->window().findChild<QListWidget*>()) key(Qt::Key_Tab);
        key(Qt::Key_Down);  // the knowledge page
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);
        auto* body = focus();
        QCOMPARE(body->accessibleName(), QStringLiteral("笔记内容"));
        QTest::keyClicks(body, "typed by keys");
        key(Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(!app->station().busy());
        QTRY_COMPARE(focus(), body);  // still where the user was
        key(Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(focus(), "BY KEYS");
        auto* query = focus();
        key(Qt::Key_Return);
        QTRY_VERIFY(!app->station().busy());
        QTRY_COMPARE(focus(), query);
        QCOMPARE(app->station().documents().size(), std::size_t{1});
        const auto resultShown = [&] {  // on the page, so in the Tab order
            for (auto* entry : app->root().page()->findChildren<QPushButton*>()) {
                if (shows(entry) && entry->accessibleDescription().contains("typed by keys"))
                    return true;
            }
            return false;
        };
        QTRY_VERIFY(resultShown());
        key(Qt::Key_Tab);
        key(Qt::Key_Tab);  // past 搜索 to the result
        QVERIFY(focus()->accessibleDescription().contains("typed by keys"));  // title, then preview
        opener->noApplication = "没有可以打开它的应用程序。";
        key(Qt::Key_Return);
        QTRY_VERIFY(app->root().alert());
        QCOMPARE(app->root().alert()->text(), QStringLiteral("没有可以打开它的应用程序。"));
        key(Qt::Key_Escape);
        QTRY_VERIFY(!app->root().alert() && !app->station().error());
        QTRY_VERIFY(focus() && app->root().page()->isAncestorOf(focus()));  // back where it was

        key(Qt::Key_F1);
        dialogs->files.push_back(QString::fromStdString((m_dir->path() / "report.json").native()));
        QCOMPARE(QAccessible::queryAccessibleInterface(focus())->text(QAccessible::Name),
                 QStringLiteral("导出脱敏诊断…"));
        key(Qt::Key_Return);
        QVERIFY(fs::exists(m_dir->path() / "report.json"));
        QCOMPARE(app->station().notice(),
                 QStringLiteral("诊断已导出，不包含密钥、笔记正文和账户信息。"));
    }

    void aFailedLoadAlertsUntilDismissed() {
        Installation::save(Workspace::create(m_dir->path() / "station", "书房"));
        fs::remove_all(m_dir->path() / "station");
        auto app = launch();
        QVERIFY(app->root().alert());
        QCOMPARE(app->root().alert()->windowTitle(), QStringLiteral("需要处理"));
        QCOMPARE(app->root().alert()->text(),
                 QStringLiteral("找不到工作站目录：%1。如果它在移动硬盘或网络位置上，请先连接。")
                     .arg(QString::fromStdString((m_dir->path() / "station").native())));
        screenshot(*app, "alert");
        withText(app->root().alert(), "知道了")->click();
        QTRY_VERIFY(!app->root().alert());
        app->station().refresh();
        QVERIFY(!app->root().alert());
    }

    // Saving (searching by keys is the keyboard walk's); the text a person typed while saving
    // stays.
    void theKnowledgePageSavesAndSearches() {
        auto app = launchWithWorkstation();
        app->window().activateWindow();
        app->root().select(Panel::knowledge);
        auto* page = app->root().page();
        auto* save = withText(page, "保存并查回");
        auto* body = named<QPlainTextEdit>(page, "笔记内容");
        QTRY_VERIFY(app->window().focusWidget() && page->isAncestorOf(app->window().focusWidget()));
        QTest::keyClicks(body, "   ");
        QTest::keyClick(body, Qt::Key_Return);
        QVERIFY(!save->isEnabled());
        // Too long a body is told as it is typed, not only at saving.
        body->setPlainText(QString(300 * 1024, QLatin1Char('a')));
        QVERIFY(!save->isEnabled() && save->toolTip().contains(QStringLiteral("超过 256 KB")));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("bodySize"))->text(),
                 QStringLiteral("正文 300 KB，上限 256 KB"));
        body->setPlainText("第一篇原稿 searchable body");
        QTest::keySequence(&app->window(), QKeySequence::Save);
        QVERIFY(app->station().busy() && !save->isEnabled());
        // What runs is named above the page, whichever page is shown.
        QCOMPARE(app->root().findChild<QLabel*>(QStringLiteral("activity"))->text(),
                 QStringLiteral("正在建立索引…"));
        QTRY_VERIFY(!app->station().busy());
        QTRY_COMPARE(body->toPlainText(), QString());
        // Saved: both fields are cleared, so the next note never takes the same title silently.
        QCOMPARE(named(page, "标题")->text(), QString());
        // The outcome is in view however far the page is scrolled: above it, not below it.
        const auto* notice = app->root().findChild<QLabel*>(QStringLiteral("notice"));
        QTRY_VERIFY(notice->isVisible());
        const auto* scroll = app->root().findChild<QScrollArea*>();
        QVERIFY(notice->mapTo(&app->window(), QPoint(0, notice->height())).y() <=
                scroll->mapTo(&app->window(), QPoint(0, 0)).y());
        QCOMPARE(app->station().notice(), QStringLiteral("原稿已保存，并已在本地索引查回。"));
        QVERIFY(withText(page, "我的第一篇笔记"));
        named(page, "标题")->setText(QStringLiteral("第二篇"));
        body->setPlainText("第二篇");
        save->click();
        body->setPlainText("第二篇，改过");
        QTRY_VERIFY(!app->station().busy());
        QCOMPARE(body->toPlainText(), QStringLiteral("第二篇，改过"));
        screenshot(*app, "knowledge");
        for (auto* widget : app->window().findChildren<QWidget*>()) {
            if (qobject_cast<QListWidget*>(widget)) QVERIFY(!widget->accessibleName().isEmpty());
            if (auto* label = qobject_cast<QLabel*>(widget); label && !label->pixmap().isNull()) {
                QVERIFY2(!label->accessibleName().isEmpty(), qPrintable(label->objectName()));
            }
        }
        // Titles and text of notes are people's text: shown exactly, never taken for markup or
        // for a shortcut marker, and the preview ends on a whole user-perceived character.
        named(page, "标题")->setText(QStringLiteral("R&D <b>周报</b>"));
        QString emoji;
        for (int i = 0; i < 210; ++i) emoji += QStringLiteral("👍🏽");
        body->setPlainText(QStringLiteral("若 a < b 且 c > d 则成立 <img src=x>\n") + emoji);
        save->click();
        QTRY_VERIFY(!app->station().busy());
        QVERIFY(withText(page, "R&&D <b>周报</b>"));
        QLabel* preview = nullptr;
        for (auto* label : page->findChildren<QLabel*>()) {
            if (label->text().contains(QStringLiteral("a < b"))) preview = label;
        }
        QVERIFY(preview && preview->textFormat() == Qt::PlainText);
        QVERIFY(preview->text().contains(QStringLiteral("<img src=x>")));
        QVERIFY(preview->text().endsWith(QStringLiteral("👍🏽")));
        QVERIFY(emoji.startsWith(
            preview->text().mid(preview->text().indexOf(QStringLiteral("👍🏽")))));
        screenshot(*app, "knowledge-plain-text");

        // What the index leaves out is listed with its reasons, from under the results.
        QVERIFY(!withText<QPushButton>(page, "查看未纳入索引的条目")->isVisible());
        const auto inbox = app->station().workspace()->knowledgeURL() / "inbox";
        std::filesystem::create_symlink("/etc/hostname", inbox / "link.md");
        std::ofstream(inbox / "R&D <b>旧.txt") << "\xd6\xd0\xce\xc4";
        withText<QPushButton>(page, "搜索")->click();
        QTRY_VERIFY(!app->station().busy());
        auto* showSkipped = withText<QPushButton>(page, "查看未纳入索引的条目");
        QVERIFY(showSkipped->isVisible());
        showSkipped->click();
        QTRY_VERIFY(page->findChild<QTreeWidget*>());
        const auto* list = page->findChild<QTreeWidget*>();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("inbox/R&D <b>旧.txt"));
        QCOMPARE(list->topLevelItem(0)->text(1),
                 QStringLiteral("不是 UTF-8 文本，可能是 GBK 编码"));
        QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("符号链接"));
        screenshot(*app, "knowledge-skipped");
        // Ctrl+Q quits, whatever the platform theme maps its standard Quit key to.
        list->window()->close();
        app->window().activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &app->window());
        QTest::keyClick(&app->window(), Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!app->window().isVisible());
    }

    void theModelsPageFollowsTheUsersEdits() {
        auto app = launchWithWorkstation();
        app->root().select(Panel::models);
        auto* page = app->root().page();
        auto* provider = page->findChild<QComboBox*>();
        QCOMPARE(provider->currentText(), QStringLiteral("DeepSeek"));
        nextResult = ModelResult{"plovik连接成功", std::nullopt, std::nullopt};
        auto* send = withText(page, "发送测试请求");
        send->click();
        QVERIFY(!provider->isEnabled() && !send->isEnabled());
        QVERIFY(!withText(page, "移除密钥")->isEnabled());
        QTRY_VERIFY(!app->station().busy());
        QVERIFY(shows(withText<QLabel>(page, "模型已真实响应")));
        int missing = 0;
        for (auto* label : page->findChildren<QLabel*>())
            missing += label->text() == "服务商未返回";
        QCOMPARE(missing, 2);
        screenshot(*app, "models-passed");
        QTest::keyClicks(named(page, "模型标识"), "x");  // editing the model hides the result
        QVERIFY(!app->station().modelResult());
        // Switching provider proposes its model and clears the key and status line.
        app->station().setKeyMessage("旧消息");
        app->station().setSecret("sk-typed");
        provider->setCurrentIndex(1);
        emit provider->activated(1);
        QCOMPARE(app->station().modelName(), QStringLiteral("glm-4.7"));
        QVERIFY(app->station().secret().isEmpty() && app->station().keyMessage().isEmpty());
        QVERIFY(!shows(withText<QLabel>(page, "模型已真实响应")));
        // A passed test is the fourth step of the progress page.
        app->station().setModelResult(ModelResult{"ok", 1, 1});
        app->root().select(Panel::opening);
        auto* progress = qobject_cast<ProgressViewPage*>(app->root().page());
        QVERIFY(progress);
        QVERIFY(progress->done(0) && progress->done(1) && !progress->done(2) && progress->done(3));
        QCOMPARE(progress->detail(3), QStringLiteral("本次测试已通过"));
        for (int row = 4; row < 9; ++row) QVERIFY(!progress->done(row));
        screenshot(*app, "progress");
    }

    // The overview, the service page and the about page follow the agent and the heartbeat;
    // the install's notice stays under every page.
    void thePagesFollowTheService() {
        auto app = launchWithWorkstation();
        QVERIFY(qobject_cast<OverviewView*>(app->root().page()));
        QVERIFY(withText<QLabel>(app->root().page(), "尚未运行"));
        app->root().select(Panel::about);
        QVERIFY(withText(app->root().page(), "打开已有工作站…")->isEnabled());  // service idle
        app->root().select(Panel::services);
        auto* page = app->root().page();
        auto* start = withText(page, "启用后台");
        auto* stop = withText(page, "停止后台");
        QVERIFY(start->isEnabled() && !stop->isEnabled());
        start->click();
        QVERIFY(!start->isEnabled() && stop->isEnabled());
        stop->click();
        QVERIFY(!start->isEnabled() && !stop->isEnabled());  // busy while stopping
        QTRY_VERIFY(start->isEnabled() && !stop->isEnabled());
        const auto& workspace = *app->station().workspace();
        const QString issue = "知识索引失败。请在 APP 中检查数据位置和权限。";
        workspace.saveHeartbeat(
            {workspace.configuration().id, Timestamp::now(), 77, 0, 1, issue.toStdString()});
        agent->current = AgentStatus::enabled;
        app->station().refresh();
        QVERIFY(shows(withText<QLabel>(page, issue)));
        screenshot(*app, "service-running");
        app->root().select(Panel::overview);
        QVERIFY(withText<QLabel>(app->root().page(), "0 篇"));
        QVERIFY(withText<QLabel>(app->root().page(), "后台运行中"));
        QCOMPARE(app->root().statusLine(), QStringLiteral("本机知识后台在线"));
        screenshot(*app, "overview");
        app->root().select(Panel::about);
        QVERIFY(
            shows(withText<QLabel>(&app->root(), "本机数据目录已部署。下一步可启用知识库后台。")));
        QVERIFY(withText(app->root().page(), "导出脱敏诊断…")->isEnabled());
        QVERIFY(!withText(app->root().page(), "打开已有工作站…")->isEnabled());  // stop first
        screenshot(*app, "about");
    }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
