#include "station_model.hpp"

#include "failure_text.hpp"
#include "station_actions.hpp"
#include "synchronous_section.hpp"

namespace plovik {

using namespace ostrak;

StationModel::StationModel(QObject* parent) : StationModel(PlatformServices::system(), parent) {}

StationModel::StationModel(PlatformServices services, QObject* parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_name(tr("我的工作站")),
      m_location(QString::fromStdString(actions::defaultLocation().native())),
      m_serviceStatus(tr("尚未启用")),
      m_modelName(QStringLiteral("deepseek-chat")) {
    load();
    m_services.agent->statusChanged = [this](AgentStatus status) { showAgentStatus(status); };
    m_services.opener->failed = [this](const QString& reason) { setError(reason); };
    refresh();
    // The timer is a child: it goes with the model, so no tick outlives it.
    m_timer = new QTimer(this);
    m_timer->setInterval(refreshIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &StationModel::tick);
    m_timer->start();
}

StationModel::~StationModel() = default;

void StationModel::load() {
    if (!Installation::hasSavedWorkspace()) return;
    try {
        Workspace loaded = Installation::load();
        const QString root = QString::fromStdString(loaded.root().native());
        const QString loadedName = QString::fromStdString(loaded.configuration().name);
        setWorkspace(std::move(loaded));
        setName(loadedName);
        setLocation(root);
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void StationModel::tick() {
    if (m_inSynchronousAction) return;
    refresh();
}

bool StationModel::running() const {
    return actions::isRunning(m_heartbeat);
}

void StationModel::refresh() {
    setHeartbeat(m_workspace ? actions::currentHeartbeat(*m_workspace) : std::nullopt);
    showAgentStatus(m_services.agent->status());
}

void StationModel::showAgentStatus(AgentStatus status) {
    setRegistered(status == AgentStatus::enabled || status == AgentStatus::requiresApproval);
    setServiceStatus(QString::fromStdString(
        actions::serviceStatusText(status, running(), m_services.agent->reason().toStdString())));
}

bool StationModel::stillOpen(const Uuid& station) const {
    return m_workspace && m_workspace->configuration().id == station;
}

void StationModel::dismissError() {
    m_error.reset();
    emit errorChanged();
}

// Every assignment announces itself, even with an unchanged value: pages redraw from it.
void StationModel::setWorkspace(std::optional<Workspace> workspace) {
    m_workspace = std::move(workspace);
    emit workspaceChanged();
    askKeyStored();
}
void StationModel::setName(const QString& name) {
    m_name = name;
    emit nameChanged();
}
void StationModel::setLocation(const QString& location) {
    m_location = location;
    emit locationChanged();
}
// A failure replaces the notice of an earlier success, which no longer describes the state.
void StationModel::setError(const QString& error) {
    m_error = error;
    emit errorChanged();
    if (m_notice) setNotice(std::nullopt);
}
void StationModel::setNotice(const std::optional<QString>& notice) {
    m_notice = notice;
    emit noticeChanged();
}
void StationModel::setBusy(bool busy, Activity activity) {
    m_busy = busy;
    m_activity = busy ? activity : Activity::none;
    emit busyChanged();
}

QString StationModel::activityText(Activity activity) {
    switch (activity) {
        case Activity::indexing:
            return tr("正在建立索引…");
        case Activity::listing:
            return tr("正在查看未纳入索引的条目…");
        case Activity::keyring:
            return tr("正在访问钥匙串…");
        case Activity::testing:
            return tr("正在测试连接…");
        case Activity::stopping:
            return tr("正在停止后台…");
        case Activity::none:
            break;
    }
    return {};
}
void StationModel::setHeartbeat(const std::optional<ServiceHeartbeat>& heartbeat) {
    m_heartbeat = heartbeat;
    emit heartbeatChanged();
}
void StationModel::setServiceStatus(const QString& status) {
    m_serviceStatus = status;
    emit serviceStatusChanged();
}
void StationModel::setRegistered(bool registered) {
    m_registered = registered;
    emit registeredChanged();
}
void StationModel::setDocuments(std::vector<IndexedDocument> documents, QString resultsNote,
                                qint64 skippedCount) {
    m_documents = std::move(documents);
    m_resultsNote = std::move(resultsNote);
    m_skippedCount = skippedCount;
    emit documentsChanged();
}
void StationModel::setQuery(const QString& query) {
    m_query = query;
    emit queryChanged();
}
void StationModel::setProvider(ModelProvider provider) {
    m_provider = provider;
    emit providerChanged();
    askKeyStored();
}
void StationModel::setKeyStored(std::optional<bool> stored) {
    m_keyStored = stored;
    emit keyStoredChanged();
}
void StationModel::setModelName(const QString& modelName) {
    m_modelName = modelName;
    emit modelNameChanged();
}
void StationModel::setSecret(const QString& secret) {
    m_secret = secret;
    emit secretChanged();
}
void StationModel::setModelResult(const std::optional<ModelResult>& result) {
    m_modelResult = result;
    emit modelResultChanged();
}
void StationModel::setKeyMessage(const QString& message) {
    m_keyMessage = message;
    emit keyMessageChanged();
}

}  // namespace plovik
