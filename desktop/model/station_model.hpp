#pragma once

#include <QFuture>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

#include "ostrak/core.hpp"
#include "platform_services.hpp"

namespace plovik {

// The one state object of the desktop app. It lives on the main thread for the whole run; every
// page reads its properties (each assignment emits its change signal, even with the same value)
// and calls its actions. Actions never throw: failures end in `error`, successes in `notice`.
// Only the index rebuild of saveNote()/search(), the connection test and the agent's
// unregistration wait off the main thread; `busy` keeps those long actions from overlapping,
// and after each wait the action checks, by station identifier, that the same workstation is
// still open before it shows a result.
class StationModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<ostrak::Workspace> workspace READ workspace NOTIFY workspaceChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString location READ location NOTIFY locationChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    Q_PROPERTY(std::optional<QString> notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(
        std::optional<ostrak::ServiceHeartbeat> heartbeat READ heartbeat NOTIFY heartbeatChanged)
    Q_PROPERTY(QString serviceStatus READ serviceStatus NOTIFY serviceStatusChanged)
    Q_PROPERTY(bool registered READ registered NOTIFY registeredChanged)
    Q_PROPERTY(
        std::vector<ostrak::IndexedDocument> documents READ documents NOTIFY documentsChanged)
    // The line under a search's results: that more matched, or that nothing did.
    Q_PROPERTY(QString resultsNote READ resultsNote NOTIFY documentsChanged)
    // How many entries the index behind the results left out.
    Q_PROPERTY(qint64 skippedCount READ skippedCount NOTIFY documentsChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(
        ostrak::ModelProvider provider READ provider WRITE setProvider NOTIFY providerChanged)
    Q_PROPERTY(QString modelName READ modelName WRITE setModelName NOTIFY modelNameChanged)
    Q_PROPERTY(QString secret READ secret WRITE setSecret NOTIFY secretChanged)
    Q_PROPERTY(std::optional<ostrak::ModelResult> modelResult READ modelResult WRITE setModelResult
                   NOTIFY modelResultChanged)
    Q_PROPERTY(QString keyMessage READ keyMessage WRITE setKeyMessage NOTIFY keyMessageChanged)
    // Whether the keyring holds a key for the open workstation and the chosen provider, as far as
    // it can tell without unlocking anything; unknown while asked or with no keyring.
    Q_PROPERTY(std::optional<bool> keyStored READ keyStored NOTIFY keyStoredChanged)
    Q_PROPERTY(bool running READ running)

public:
    static constexpr int refreshIntervalMs = 3000;
    // What a busy model is doing, for the indicator the window shows.
    enum class Activity { none, indexing, listing, keyring, testing, stopping };
    // The indicator's words for it ("正在建立索引…"); empty for none.
    static QString activityText(Activity activity);

    explicit StationModel(QObject* parent = nullptr);
    explicit StationModel(PlatformServices services, QObject* parent = nullptr);
    ~StationModel() override;

    const std::optional<ostrak::Workspace>& workspace() const { return m_workspace; }
    const QString& name() const { return m_name; }
    const QString& location() const { return m_location; }
    const std::optional<QString>& error() const { return m_error; }
    const std::optional<QString>& notice() const { return m_notice; }
    bool busy() const { return m_busy; }
    Activity activity() const { return m_activity; }
    const std::optional<ostrak::ServiceHeartbeat>& heartbeat() const { return m_heartbeat; }
    const QString& serviceStatus() const { return m_serviceStatus; }
    bool registered() const { return m_registered; }
    const std::vector<ostrak::IndexedDocument>& documents() const { return m_documents; }
    const QString& resultsNote() const { return m_resultsNote; }
    qint64 skippedCount() const { return m_skippedCount; }
    const QString& query() const { return m_query; }
    ostrak::ModelProvider provider() const { return m_provider; }
    const QString& modelName() const { return m_modelName; }
    const QString& secret() const { return m_secret; }
    const std::optional<ostrak::ModelResult>& modelResult() const { return m_modelResult; }
    const QString& keyMessage() const { return m_keyMessage; }
    const std::optional<bool>& keyStored() const { return m_keyStored; }
    // A fresh heartbeat from a live process: judged anew on every read.
    bool running() const;
    // A running service whose program file was replaced since it started (a package upgrade):
    // it goes on running the old program until restarted. Judged anew on every read.
    bool serviceOutdated() const;

    // Fields the pages edit directly.
    void setName(const QString& name);
    void setQuery(const QString& query);
    void setProvider(ostrak::ModelProvider provider);
    void setModelName(const QString& modelName);
    void setSecret(const QString& secret);
    void setModelResult(const std::optional<ostrak::ModelResult>& result);
    void setKeyMessage(const QString& message);
    // The alert was dismissed.
    void dismissError();

    // Re-reads the heartbeat and the agent's status. Never fails.
    void refresh();

    // Workstation and knowledge.
    void chooseLocation();
    void install();
    void openExisting();
    void rename();
    QFuture<bool> saveNote(const QString& title, const QString& body);
    QFuture<void> search();
    // Every entry the index leaves out, with its reason; not listed when the walk fails (then
    // `error`), while busy, or when another workstation was opened meanwhile.
    struct SkippedListing {
        bool listed = false;
        std::vector<ostrak::SkippedEntry> entries;
    };
    QFuture<SkippedListing> listSkipped();
    void openDocument(const ostrak::IndexedDocument& document);
    void openFolder(const std::optional<QString>& folder);
    void exportDiagnostics();
    // Model key and connection test.
    void saveKey();
    void removeKey();
    QFuture<void> test();
    // Background service.
    void startService();
    QFuture<void> stopService();
    // Stops the service and starts it again, so that it runs the installed program.
    QFuture<void> restartService();
    void openAgentSettings();

signals:
    void workspaceChanged();
    void nameChanged();
    void locationChanged();
    void errorChanged();
    void noticeChanged();
    void busyChanged();
    void heartbeatChanged();
    void serviceStatusChanged();
    void registeredChanged();
    void documentsChanged();
    void queryChanged();
    void providerChanged();
    void modelNameChanged();
    void secretChanged();
    void modelResultChanged();
    void keyMessageChanged();
    void keyStoredChanged();

private:
    // registered and serviceStatus from the agent's status and the last heartbeat.
    void showAgentStatus(AgentStatus status);
    class SynchronousSection;

    void load();
    void tick();
    void setWorkspace(std::optional<ostrak::Workspace> workspace);
    // Asks the keyring off the main thread whether the key is stored; the latest question's
    // answer becomes keyStored.
    void askKeyStored();
    void changeKey(const std::function<void(const ostrak::Uuid&, ostrak::ModelProvider)>& change,
                   const char* done);
    void setKeyStored(std::optional<bool> stored);
    void setLocation(const QString& location);
    void setError(const QString& error);
    void setNotice(const std::optional<QString>& notice);
    void setBusy(bool busy, Activity activity = Activity::none);
    std::optional<QString> busyKeyringCall(const std::function<void()>& call);
    void setHeartbeat(const std::optional<ostrak::ServiceHeartbeat>& heartbeat);
    void setServiceStatus(const QString& status);
    void setRegistered(bool registered);
    void setDocuments(std::vector<ostrak::IndexedDocument> documents, QString resultsNote = {},
                      qint64 skippedCount = 0);
    bool stillOpen(const ostrak::Uuid& station) const;

    PlatformServices m_services;
    std::optional<ostrak::Workspace> m_workspace;
    QString m_name;
    QString m_location;
    std::optional<QString> m_error;
    std::optional<QString> m_notice;
    bool m_registering = false;  // a registration on its way to the manager
    bool m_busy = false;
    Activity m_activity = Activity::none;
    std::optional<ostrak::ServiceHeartbeat> m_heartbeat;
    QString m_serviceStatus;
    bool m_registered = false;
    std::vector<ostrak::IndexedDocument> m_documents;
    QString m_resultsNote;
    qint64 m_skippedCount = 0;
    QString m_query;
    ostrak::ModelProvider m_provider = ostrak::ModelProvider::deepseek;
    QString m_modelName;
    QString m_secret;
    std::optional<ostrak::ModelResult> m_modelResult;
    QString m_keyMessage;
    std::optional<bool> m_keyStored;
    int m_keyQuestion = 0;
    QTimer* m_timer = nullptr;
    bool m_inSynchronousAction = false;
};

}  // namespace plovik
