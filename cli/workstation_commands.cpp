// Creating, opening and renaming the workstation, its status, notes, search and diagnostics.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "commands.hpp"
#include "lingering.hpp"
#include "station_actions.hpp"
#include "stop_signals.hpp"
#include "terminal.hpp"

namespace plovik::cli {

using namespace ostrak;

namespace {

// One byte more than a note may have is read, for the core's refusal.
constexpr std::size_t noteLimit = Workspace::maximumNoteBytes;

// Reads the note's body: the file, or standard input. Unreadable or not UTF-8 is refused
// before anything is written.
std::string readBody(const std::optional<std::string>& file) {
    // Opened without waiting: a FIFO with no writer would hold the command forever. Only a
    // regular file is read; a FIFO, socket or device is refused at once.
    const int descriptor =
        file ? ::open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY) : STDIN_FILENO;
    const std::string source = file ? "“" + terminal::printable(*file) + "”" : "标准输入";
    if (descriptor < 0)
        throw OstrakError("无法读取" + source + "：" + systemErrorText(errno) + "。");
    if (file) {
        struct stat status;
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(descriptor);
            throw OstrakError(source + "不是普通文件，无法作为笔记正文。");
        }
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    }
    if (!file && terminal::isTerminal(STDIN_FILENO)) tell("请输入正文，以 Ctrl+D 结束：");
    std::string body;
    int readError = 0;
    try {
        body = terminal::readAtMost(descriptor, noteLimit);
    } catch (const std::system_error& failure) {
        readError = failure.code().value();
    }
    if (file) ::close(descriptor);
    if (readError != 0) {
        throw OstrakError("无法读取" + source + "：" + systemErrorText(readError) + "。");
    }
    if (body.size() > noteLimit) return body;                // over the limit: the core refuses it
    if (body.starts_with("\xEF\xBB\xBF")) body.erase(0, 3);  // a byte-order mark is no text
    if (body.find('\0') != std::string::npos) throw OstrakError(source + "含有空字符，不是文本。");
    // Decoding replaces every malformed sequence, so only valid UTF-8 comes back unchanged.
    if (QString::fromUtf8(body.data(), std::ssize(body)).toStdString() != body) {
        throw OstrakError(source + "不是 UTF-8 文本。");
    }
    return body;
}

KnowledgeIndex rebuildWithProgress(const Workspace& workspace) {
    const terminal::Progress progress("正在重建知识索引…");
    const DeferredStops writing;
    return workspace.rebuildIndex();
}

// The document's preview on one line, as the app's result list shows it.
std::string previewOf(const IndexedDocument& document) {
    return actions::preview(terminal::oneLine(document.text));
}

void printHits(const Workspace& workspace, const std::vector<IndexedDocument>& hits) {
    const auto width = terminal::columns();
    const bool bold = terminal::colours();
    for (const IndexedDocument& hit : hits) {
        const std::string title = terminal::oneLine(hit.title);
        // On a terminal the path from the knowledge folder ("notes/….md"), which leaves room for
        // the preview; scripts get the whole path.
        const Path file = workspace.documentURL(hit);
        const std::string path = terminal::printable(
            width ? file.lexically_relative(workspace.knowledgeURL()).native() : file.native());
        // Tabs for scripts; on a terminal, where a tab's width varies, two spaces.
        const std::string gap = width ? "  " : "\t";
        std::string line = title + gap + path + gap + previewOf(hit);
        if (width) line = terminal::fitted(line, *width);
        if (bold && line.starts_with(title))
            line = "\033[1m" + title + "\033[0m" + line.substr(title.size());
        printLine(line);
    }
}

QJsonObject hitsAsJson(const Workspace& workspace, std::string_view query,
                       const KnowledgeIndex& index, const SearchMatches& hits) {
    QJsonArray results;
    for (const IndexedDocument& hit : hits.documents) {
        results.append(QJsonObject{{"title", qt(hit.title)},
                                   {"path", qt(workspace.documentURL(hit).native())},
                                   {"relativePath", qt(hit.relativePath)},
                                   {"preview", qt(previewOf(hit))}});
    }
    return {{"query", qt(query)},
            {"results", results},
            {"total", static_cast<qint64>(hits.total)},
            {"truncated", hits.total > hits.documents.size()},
            {"skipped", static_cast<qint64>(index.skipped)}};
}

// Whether a key for the provider is in the keyring, looked up without unlocking it (no prompt
// appears); no keyring reachable reads as no.
bool hasKey(const Workspace& workspace, ModelProvider provider) {
    try {
        return ModelKeychain::isStored(workspace.configuration().id, provider);
    } catch (const std::exception&) {
        return false;
    }
}

std::string agentStatusId(AgentStatus status) {
    switch (status) {
        case AgentStatus::notRegistered:
            return "notRegistered";
        case AgentStatus::enabled:
            return "enabled";
        case AgentStatus::requiresApproval:
            return "requiresApproval";
        case AgentStatus::notFound:
            break;
    }
    return "notFound";
}

}  // namespace

std::optional<Workspace> workstationInUse() {
    if (!Installation::hasSavedWorkspace()) return std::nullopt;
    try {
        return Installation::load();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Workspace openedWorkspace() {
    if (!Installation::hasSavedWorkspace()) {
        throw OstrakError("尚未建立工作站。请先运行 plovik create 名字，或 plovik open 目录。");
    }
    return Installation::load();
}

Path absolutePath(std::string_view path) {
    if (path.empty()) throw UsageError("路径不能为空。");
    return std::filesystem::absolute(Path(path)).lexically_normal();
}

QString qt(std::string_view text) {
    return QString::fromUtf8(text.data(), std::ssize(text));
}

void printJson(const QJsonObject& object) {
    std::cout << QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
}

void printLine(std::string_view text) {
    std::cout << text << '\n';
}

void tell(std::string_view text) {
    std::cout.flush();
    std::cerr << text << '\n';
}

void showStatus(const Arguments& arguments) {
    const Path pointer = Installation::supportDirectory() / "installation.json";
    std::optional<Workspace> workspace;
    try {
        if (Installation::hasSavedWorkspace()) workspace = Installation::load();
    } catch (const std::exception&) {
        // The refusal follows; plain output first says which pointer could not be followed.
        if (!arguments.has("--json")) printLine("指针：" + pointer.native());
        throw;
    }
    const auto heartbeat = workspace ? actions::currentHeartbeat(*workspace) : std::nullopt;
    const bool running = actions::isRunning(heartbeat);
    const auto [agent, reason] = askAgent();
    // The counts as the stored index tells them, without decoding its documents.
    const auto stored = workspace ? workspace->storedIndexCounts() : std::nullopt;
    const bool indexed = stored.has_value();
    const IndexCounts index = stored.value_or(IndexCounts{});
    const double age = heartbeat ? Timestamp::now().seconds - heartbeat->timestamp.seconds : 0;
    const Lingering lingering = Lingering::ofThisAccount();

    if (arguments.has("--json")) {
        QJsonObject status{
            {"pointer", qt(pointer.native())},
            {"service",
             QJsonObject{{"state", qt(agentStatusId(agent))},
                         {"text", qt(actions::serviceStatusText(agent, running))},
                         {"reason", agent == AgentStatus::enabled && !running && !reason.empty()
                                        ? QJsonValue(qt(reason))
                                        : QJsonValue()},
                         {"lingering", lingering.enabled},
                         {"graphicalSession", lingering.graphicalSession}}}};
        status["workstation"] = QJsonValue::Null;
        status["heartbeat"] = QJsonValue::Null;
        status["index"] = QJsonValue::Null;
        if (workspace) {
            QJsonObject keys;
            for (const ModelProvider provider : ModelProviders::allCases)
                keys[qt(ModelProviders::id(provider))] = hasKey(*workspace, provider);
            status["workstation"] =
                QJsonObject{{"root", qt(workspace->root().native())},
                            {"name", qt(workspace->configuration().name)},
                            {"stationId", qt(workspace->configuration().id.text())},
                            {"keys", keys}};
        }
        if (heartbeat) {
            const bool stopped = actions::isStopped(*heartbeat);
            status["heartbeat"] = QJsonObject{
                {"fresh", heartbeat->isFresh(Timestamp::now())},
                {"stopped", stopped},
                {"ageSeconds", stopped ? QJsonValue() : QJsonValue(age)},
                {"pid", heartbeat->pid},
                {"issue", heartbeat->issue ? QJsonValue(qt(*heartbeat->issue)) : QJsonValue()}};
        }
        if (indexed) {
            status["index"] =
                QJsonObject{{"indexedDocuments", static_cast<qint64>(index.documents)},
                            {"skipped", static_cast<qint64>(index.skipped)}};
        }
        printJson(status);
        return;
    }

    printLine("指针：" + pointer.native());
    if (!workspace) {
        printLine("工作站：尚未建立（plovik create 名字，或 plovik open 目录）");
    } else {
        printLine("位置：" + workspace->root().native());
        printLine("名字：" + terminal::oneLine(workspace->configuration().name));
        printLine("工作站 ID：" + workspace->configuration().id.text());
    }
    printLine("后台：" + actions::serviceStatusText(agent, running, reason));
    if (heartbeat) {
        const std::string state = actions::isStopped(*heartbeat) ? "已停止"
                                  : heartbeat->isFresh(Timestamp::now())
                                      ? "新鲜，" + std::to_string(std::llround(age)) + " 秒前"
                                      : "已过期，" + std::to_string(std::llround(age)) + " 秒前";
        printLine("心跳：" + state +
                  (heartbeat->issue ? "；问题：" + terminal::oneLine(*heartbeat->issue) : ""));
    } else if (workspace) {
        printLine("心跳：无");
    }
    if (indexed) {
        printLine("已索引：" + std::to_string(index.documents) + " 篇；未纳入：" +
                  std::to_string(index.skipped) + " 项");
    }
    if (workspace) {
        std::string keys = "密钥：";
        for (const ModelProvider provider : ModelProviders::allCases) {
            if (keys.size() > std::string_view("密钥：").size()) keys += "；";
            keys += std::string(ModelProviders::name(provider)) +
                    (hasKey(*workspace, provider) ? " 已保存" : " 未保存");
        }
        printLine(keys);
    }
    if (const auto hint = lingering.hint()) printLine(*hint);
}

void createStation(const Arguments& arguments) {
    // A pointer to a workstation that is gone or damaged does not stand in the way: as in the
    // app, a new one may then be created.
    if (const auto existing = workstationInUse()) {
        throw OstrakError("本机已有工作站，位于 " + existing->root().native() +
                          "。要切换，请运行 plovik open 目录。");
    }
    const auto at = arguments.value("--at");
    const Path location = at ? absolutePath(*at) : actions::defaultLocation();
    const Workspace created = withStopsDeferred([&] {
        return actions::install(location, arguments.words.at(0), [](const Path& folder) {
            return EnvironmentReport::inspect(folder);
        });
    });
    printLine(created.root().native());
    tell(actions::text::installed);
}

void openStation(const Arguments& arguments) {
    actions::requireSwitchAllowed(false, askAgent().status, workstationInUse());
    const Path folder = absolutePath(arguments.words.at(0));
    const Workspace chosen = withStopsDeferred([&] { return actions::openExisting(folder); });
    printLine(chosen.root().native());
    tell("已打开工作站“" + terminal::oneLine(chosen.configuration().name) + "”。");
}

void renameStation(const Arguments& arguments) {
    Workspace workspace = openedWorkspace();
    {
        const DeferredStops writing;
        workspace.rename(arguments.words.at(0));
    }
    tell(actions::text::renamed);
}

void addNote(const Arguments& arguments) {
    const auto title = arguments.value("--title");
    if (!title) throw UsageError("缺少 --title 标题。");
    const Workspace workspace = openedWorkspace();
    const std::optional<std::string> file = arguments.words.empty() || arguments.words[0] == "-"
                                                ? std::nullopt
                                                : std::optional(arguments.words[0]);
    const std::string body = readBody(file);
    const Path note = withStopsDeferred([&] { return workspace.writeNote(*title, body); });
    printLine(note.native());
    try {
        const KnowledgeIndex index = rebuildWithProgress(workspace);
        tell(actions::savedNoteNotice(index, workspace.root(), note));
    } catch (const std::exception& failure) {
        throw OstrakError(actions::savedButNotIndexed(describeFailure(failure)));
    }
}

namespace {

// How many results --limit asks for: a whole number, 0 for all; 50 without it.
std::size_t resultLimit(const Arguments& arguments) {
    const auto limit = arguments.value("--limit");
    if (!limit) return 50;
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(limit->data(), limit->data() + limit->size(), count);
    if (limit->empty() || error != std::errc() || end != limit->data() + limit->size()) {
        throw UsageError("--limit 需要一个不小于 0 的整数。");
    }
    return count;
}

}  // namespace

void searchNotes(const Arguments& arguments) {
    const std::size_t limit = resultLimit(arguments);
    const Workspace workspace = openedWorkspace();
    const std::string& query = arguments.words.at(0);
    const KnowledgeIndex index = rebuildWithProgress(workspace);
    const SearchMatches hits = index.searchCounting(query, limit);
    if (arguments.has("--json")) {
        printJson(hitsAsJson(workspace, query, index, hits));
    } else {
        printHits(workspace, hits.documents);
    }
    if (const auto truncated = actions::truncatedNotice(hits)) tell(*truncated);
    if (const auto skipped = actions::skippedNotice(index)) tell(*skipped);
}

void exportDiagnostics(const Arguments& arguments) {
    const Workspace workspace = openedWorkspace();
    {
        const DeferredStops writing;
        workspace.exportDiagnostics(absolutePath(arguments.words.at(0)));
    }
    tell(actions::text::diagnosticsExported);
}

}  // namespace plovik::cli
