// Creating, opening and renaming the workstation; saving and finding notes; opening documents
// and folders; exporting diagnostics.
#include <QDir>
#include <QtConcurrent>

#include "failure_text.hpp"
#include "ready_future.hpp"
#include "station_actions.hpp"
#include "station_model.hpp"
#include "synchronous_section.hpp"

namespace plovik {

using namespace ostrak;

namespace {

// The result of a rebuild on a worker thread, carried back to the main thread.
struct RebuildOutcome {
    std::optional<KnowledgeIndex> index;
    QString failure;
};

QFuture<RebuildOutcome> rebuildInBackground(const Workspace& workspace) {
    return QtConcurrent::run([workspace]() -> RebuildOutcome {
        try {
            return {workspace.rebuildIndex(), {}};
        } catch (const std::exception& failure) {
            return {std::nullopt, describe(failure)};
        }
    });
}

QString pathText(const Path& path) {
    return QString::fromStdString(path.native());
}

}  // namespace

void StationModel::chooseLocation() {
    const SynchronousSection section(*this);
    const auto parent = m_services.dialogs->chooseFolder(tr("选择父目录"), true);
    if (!parent) return;
    setLocation(QDir(*parent).filePath(QStringLiteral("Plovik")));
}

void StationModel::install() {
    const SynchronousSection section(*this);
    if (m_busy || m_workspace) return;
    try {
        Workspace created =
            actions::install(Path(utf8(m_location)), utf8(m_name), m_services.inspectEnvironment);
        const QString createdName = QString::fromStdString(created.configuration().name);
        setWorkspace(std::move(created));
        setName(createdName);
        setNotice(tr(actions::text::installed));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void StationModel::openExisting() {
    const SynchronousSection section(*this);
    try {
        actions::requireSwitchAllowed(m_busy, m_services.agent->status(), m_workspace);
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    const auto folder = m_services.dialogs->chooseFolder(tr("打开工作站"), false);
    if (!folder) return;
    try {
        Workspace chosen = actions::openExisting(Path(utf8(*folder)));
        const QString chosenName = QString::fromStdString(chosen.configuration().name);
        const QString root = pathText(chosen.root());
        setWorkspace(std::move(chosen));
        setName(chosenName);
        setLocation(root);
        setModelResult(std::nullopt);
        setSecret({});
        setKeyMessage({});
        setQuery({});
        setDocuments({});
        refresh();
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void StationModel::rename() {
    const SynchronousSection section(*this);
    if (!m_workspace) return;
    try {
        Workspace renamed = *m_workspace;
        renamed.rename(utf8(m_name));
        setWorkspace(std::move(renamed));
        setNotice(tr(actions::text::renamed));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

QFuture<bool> StationModel::saveNote(const QString& title, const QString& body) {
    if (!m_workspace || m_busy) return readyFuture(false);
    const SynchronousSection section(*this);
    setBusy(true, Activity::indexing);
    const Workspace workspace = *m_workspace;
    Path note;
    try {
        note = workspace.writeNote(utf8(title), utf8(body));
    } catch (const std::exception& failure) {
        setError(describe(failure));
        setBusy(false);
        return readyFuture(false);
    }
    const Uuid station = workspace.configuration().id;
    return rebuildInBackground(workspace).then(
        this, [this, station, note, title, root = workspace.root()](const RebuildOutcome& outcome) {
            // The note is saved whatever the rebuild did: the editor lets it go.
            if (!outcome.index) {
                setError(QString::fromStdString(
                    actions::savedButNotIndexed(outcome.failure.toStdString())));
                setBusy(false);
                return true;
            }
            if (!stillOpen(station)) {
                setBusy(false);
                return true;
            }
            setQuery(title);
            setDocuments(outcome.index->search(utf8(title)), {}, outcome.index->skipped);
            setNotice(QString::fromStdString(actions::savedNoteNotice(*outcome.index, root, note)));
            setBusy(false);
            return true;
        });
}

QFuture<void> StationModel::search() {
    if (!m_workspace || m_busy) return readyFuture();
    setBusy(true, Activity::indexing);
    const Uuid station = m_workspace->configuration().id;
    return rebuildInBackground(*m_workspace)
        .then(this, [this, station](const RebuildOutcome& outcome) {
            if (!outcome.index) {
                setError(outcome.failure);
                setBusy(false);
                return;
            }
            if (!stillOpen(station)) {
                setBusy(false);
                return;
            }
            // The query as it stands now: the user may have edited it during the rebuild, and
            // the results then answer the text the field shows.
            auto matches = outcome.index->searchCounting(utf8(m_query), 50);
            const auto truncated = actions::truncatedNotice(matches);
            QString note = truncated                   ? QString::fromStdString(*truncated)
                           : matches.documents.empty() ? tr("没有找到包含该内容的原稿。")
                                                       : QString();
            setDocuments(std::move(matches.documents), std::move(note), outcome.index->skipped);
            const auto skipped = actions::skippedNotice(*outcome.index);
            setNotice(skipped ? std::optional(QString::fromStdString(*skipped)) : std::nullopt);
            setBusy(false);
        });
}

QFuture<StationModel::SkippedListing> StationModel::listSkipped() {
    if (!m_workspace || m_busy) return readyFuture(SkippedListing{});
    setBusy(true, Activity::listing);
    const Workspace workspace = *m_workspace;
    const Uuid station = workspace.configuration().id;
    return QtConcurrent::run([workspace]() -> std::pair<SkippedListing, QString> {
               try {
                   return {SkippedListing{true, workspace.skippedEntries()}, {}};
               } catch (const std::exception& failure) {
                   return {{}, describe(failure)};
               }
           })
        .then(this, [this, station](std::pair<SkippedListing, QString> outcome) {
            setBusy(false);
            if (!outcome.second.isEmpty()) setError(outcome.second);
            if (!outcome.second.isEmpty() || !stillOpen(station)) return SkippedListing{};
            return std::move(outcome.first);
        });
}

void StationModel::openDocument(const IndexedDocument& document) {
    if (!m_workspace) return;
    try {
        m_services.opener->open(pathText(m_workspace->documentURL(document)));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void StationModel::openFolder(const std::optional<QString>& folder) {
    if (!folder) return;
    try {
        m_services.opener->open(*folder);
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void StationModel::exportDiagnostics() {
    const SynchronousSection section(*this);
    if (!m_workspace) return;
    const auto destination =
        m_services.dialogs->chooseSaveFile(QStringLiteral("Plovik-diagnostics.json"));
    if (!destination) return;
    try {
        m_workspace->exportDiagnostics(Path(utf8(*destination)));
        setNotice(tr(actions::text::diagnosticsExported));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

}  // namespace plovik
