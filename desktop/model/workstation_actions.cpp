// Creating, opening and renaming the workstation; saving and finding notes; opening documents
// and folders; exporting diagnostics.
#include <QDir>
#include <QtConcurrent>

#include "failure_text.hpp"
#include "station_model.hpp"
#include "synchronous_section.hpp"

namespace plovik {

using namespace ostrak;

namespace {

constexpr std::int64_t minimumFreeBytes = 536870912;  // more than this is needed

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
        const Path location(utf8(m_location));
        if (!m_services.inspectEnvironment(location).isSupported) {
            throw OstrakError("此开发版支持 x86-64 或 ARM64 的 Linux 5.10 及以上。");
        }
        const auto available = m_services.inspectEnvironment(location).availableBytes;
        if (!available || *available <= minimumFreeBytes) {
            throw OstrakError("请至少保留 512 MB 空间；知识资料需要额外空间。");
        }
        Workspace created = Workspace::create(location, utf8(m_name));
        Installation::save(created);
        const QString createdName = QString::fromStdString(created.configuration().name);
        setWorkspace(std::move(created));
        setName(createdName);
        setNotice(tr("本机数据目录已部署。下一步可启用知识库后台。"));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void StationModel::openExisting() {
    const SynchronousSection section(*this);
    if (m_busy) {
        setError(tr("请等待当前操作完成后再切换工作站。"));
        return;
    }
    if (m_registered) {
        setError(tr("请先停止当前工作站后台，再切换工作站。"));
        return;
    }
    const auto folder = m_services.dialogs->chooseFolder(tr("打开工作站"), false);
    if (!folder) return;
    try {
        Workspace chosen = Workspace::open(Path(utf8(*folder)));
        std::optional<ServiceHeartbeat> itsHeartbeat;
        try {
            itsHeartbeat = chosen.heartbeat();
        } catch (...) {
            // None, or unreadable: as good as none.
        }
        if (itsHeartbeat && itsHeartbeat->isFresh(Timestamp::now())) {
            throw OstrakError("目标工作站后台正在运行，请先停止后再切换。");
        }
        chosen.ensureDirectories();
        Installation::save(chosen);
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
        setNotice(tr("名字已保存。"));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

QFuture<bool> StationModel::saveNote(const QString& title, const QString& body) {
    if (!m_workspace || m_busy) return QtFuture::makeReadyFuture(false);
    const SynchronousSection section(*this);
    setBusy(true);
    const Workspace workspace = *m_workspace;
    Path note;
    try {
        note = workspace.writeNote(utf8(title), utf8(body));
    } catch (const std::exception& failure) {
        setError(describe(failure));
        setBusy(false);
        return QtFuture::makeReadyFuture(false);
    }
    const Uuid station = workspace.configuration().id;
    return rebuildInBackground(workspace).then(
        this, [this, station, note, title, root = workspace.root()](const RebuildOutcome& outcome) {
            if (!outcome.index) {
                setError(outcome.failure);
                setBusy(false);
                return false;
            }
            if (!stillOpen(station)) {
                setBusy(false);
                return false;
            }
            setQuery(title);
            setDocuments(outcome.index->search(utf8(title)));
            const bool found =
                std::any_of(outcome.index->documents.begin(), outcome.index->documents.end(),
                            [&](const IndexedDocument& document) {
                                return root / document.relativePath == note;
                            });
            setNotice(found
                          ? tr("原稿已保存，并已在本地索引查回。")
                          : tr("原稿已保存；索引达到容量限制，尚未查回。可在知识库目录打开原稿。"));
            setBusy(false);
            return true;
        });
}

QFuture<void> StationModel::search() {
    if (!m_workspace || m_busy) return QtFuture::makeReadyFuture();
    setBusy(true);
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
            setDocuments(outcome.index->search(utf8(m_query)));
            if (outcome.index->skipped >= 1) {
                setNotice(
                    tr("有 %1 项未纳入索引（大小、数量或链接限制）。").arg(outcome.index->skipped));
            } else {
                setNotice(std::nullopt);
            }
            setBusy(false);
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
        setNotice(tr("诊断已导出，不包含密钥、笔记正文和账户信息。"));
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

}  // namespace plovik
