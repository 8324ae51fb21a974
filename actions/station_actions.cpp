#include "station_actions.hpp"

#include <unistd.h>

#include <QString>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace plovik::actions {

using namespace ostrak;

namespace {

constexpr std::int64_t minimumFreeBytes = 536870912;  // more than this is needed

}  // namespace

Path defaultLocation() {
    return Installation::homeDirectory() / "Plovik";
}

Workspace install(const Path& location, std::string_view name,
                  const InspectEnvironment& inspectEnvironment) {
    const EnvironmentReport report = inspectEnvironment(location);
    if (!report.isSupported) {
        throw OstrakError("此开发版支持 x86-64 或 ARM64 的 Linux 5.10 及以上。");
    }
    if (!report.availableBytes || *report.availableBytes <= minimumFreeBytes) {
        throw OstrakError("请至少保留 512 MB 空间；知识资料需要额外空间。");
    }
    Installation::refuseReplacingMissing(location);
    Workspace created = Workspace::create(location, name);
    Installation::save(created);
    return created;
}

std::string preview(std::string_view text) {
    const QString whole = QString::fromUtf8(text.data(), std::ssize(text));
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, whole);
    int taken = 0;
    qsizetype end = 0;
    while (taken < previewLength && (end = clusters.toNextBoundary()) != -1) ++taken;
    return end == -1 ? std::string(text) : whole.left(end).toStdString();
}

void requireSwitchAllowed(bool busy, AgentStatus agent, const std::optional<Workspace>& current) {
    if (busy) throw OstrakError(text::waitForAction);
    if (agent == AgentStatus::enabled || agent == AgentStatus::requiresApproval)
        throw OstrakError(text::stopBeforeSwitching);
    // Without an answer from the manager (su, cron, no runtime folder, a manager that hangs),
    // the current workstation's heartbeat still tells whether its service runs.
    if (agent == AgentStatus::notFound && current && isRunning(currentHeartbeat(*current)))
        throw OstrakError(text::stopBeforeSwitching);
}

void requireManager(AgentStatus agent) {
    if (agent == AgentStatus::notFound) throw OstrakError(text::notFound);
}

void prepareServiceStart(const Workspace& workspace, std::string_view program, AgentStatus agent) {
    requireInstalledProgram(program);
    workspace.ensureDirectories();
    requireManager(agent);
}

Workspace openExisting(const Path& folder) {
    Workspace chosen = Workspace::open(folder);
    const auto itsHeartbeat = currentHeartbeat(chosen);
    if (itsHeartbeat && itsHeartbeat->isFresh(Timestamp::now())) {
        throw OstrakError("目标工作站后台正在运行，请先停止后再切换。");
    }
    chosen.ensureDirectories();
    Installation::save(chosen);
    return chosen;
}

std::optional<ServiceHeartbeat> currentHeartbeat(const Workspace& workspace) {
    try {
        return workspace.heartbeat();
    } catch (...) {
        return std::nullopt;  // none yet, another station's, or unreadable: as good as none
    }
}

bool isRunning(const std::optional<ServiceHeartbeat>& heartbeat) {
    return heartbeat && heartbeat->isFresh(Timestamp::now()) && heartbeat->pid > 0;
}

bool isStopped(const ServiceHeartbeat& heartbeat) {
    return heartbeat.pid == 0;
}

std::string savedButNotIndexed(std::string_view failure) {
    return "原稿已保存，但索引未能重建：" + std::string(failure);
}

std::string savedNoteNotice(const KnowledgeIndex& index, const Path& root, const Path& note) {
    const bool found = std::any_of(
        index.documents.begin(), index.documents.end(),
        [&](const IndexedDocument& document) { return root / document.relativePath == note; });
    return found ? text::noteFound : text::noteNotFound;
}

std::optional<std::string> skippedNotice(const KnowledgeIndex& index) {
    if (index.skipped < 1) return std::nullopt;
    return "有 " + std::to_string(index.skipped) + " 项未纳入索引（大小、数量或链接限制）。";
}

std::optional<std::string> truncatedNotice(const ostrak::SearchMatches& matches) {
    if (matches.total <= matches.documents.size()) return std::nullopt;
    return "仅显示前 " + std::to_string(matches.documents.size()) + " 项，共 " +
           std::to_string(matches.total) + " 项匹配。";
}

void requireInstalledProgram(std::string_view program) {
    const std::string home = Installation::homeDirectory().native();
    const bool installed = program.starts_with("/usr/") || program.starts_with("/opt/") ||
                           (!home.empty() && home != "/" && program.starts_with(home + "/.local/"));
    if (!installed) {
        throw OstrakError("请先将plovik安装到 /usr、/opt 或 ~/.local，再启用后台服务。");
    }
}

// The kernel names a running program whose file was removed or replaced "PATH (deleted)".
bool runsRemovedProgram(std::int32_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 &&
           std::string_view(target, static_cast<std::size_t>(length)).ends_with(" (deleted)");
}

std::string serviceStatusText(AgentStatus status, bool running, std::string_view reason) {
    switch (status) {
        case AgentStatus::notRegistered:
            return "后台未启用";
        case AgentStatus::enabled:
            if (running) return "后台运行中";
            return reason.empty() ? "已启用，等待后台响应"
                                  : "已启用，等待后台响应\n" + std::string(reason);
        case AgentStatus::requiresApproval:
            return "等待系统允许后台运行";
        case AgentStatus::notFound:
            break;
    }
    return text::notFound;
}

}  // namespace plovik::actions
