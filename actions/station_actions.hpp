#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent_control.hpp"
#include "ostrak/core.hpp"

// What the actions of the workstation decide, shared by the window and the command line: the
// order of refusals, the rules and the texts that tell the user the outcome. Plain C++ over the
// core; each front end adds only how it asks and how it shows.
namespace plovik::actions {

using InspectEnvironment = std::function<ostrak::EnvironmentReport(const ostrak::Path&)>;

// Texts of outcomes both front ends show.
namespace text {
inline constexpr const char* installed = "本机数据目录已部署。下一步可启用知识库后台。";
inline constexpr const char* renamed = "名字已保存。";
inline constexpr const char* noteFound = "原稿已保存，并已在本地索引查回。";
inline constexpr const char* noteNotFound =
    "原稿已保存；索引达到容量限制，尚未查回。可在知识库目录打开原稿。";
inline constexpr const char* nothingSkipped = "所有条目都已纳入索引。";
inline constexpr const char* diagnosticsExported = "诊断已导出，不包含密钥、笔记正文和账户信息。";
inline constexpr const char* keySaved = "已保存在本机钥匙串，尚未验证连接。";
inline constexpr const char* keyRemoved = "密钥已从钥匙串移除。";
inline constexpr const char* waitForAction = "请等待当前操作完成后再切换工作站。";
inline constexpr const char* stopBeforeSwitching = "请先停止当前工作站后台，再切换工作站。";
inline constexpr const char* stopFailed = "后台服务停止失败，请检查系统后台项目授权。";
inline constexpr const char* notFound = "后台组件未找到";
inline constexpr const char* noManagerHint =
    "未找到 systemd 用户管理器。桌面会话通常会自动启动它；通过 SSH 登录时请运行 loginctl "
    "enable-linger 后重新登录。";
}  // namespace text

// How many user-perceived characters of a document's text a search result shows.
inline constexpr int previewLength = 200;

// The first previewLength characters of `text` (whole grapheme clusters), as a result shows it.
std::string preview(std::string_view text);

// The folder the welcome page proposes: "Plovik" in the home folder.
ostrak::Path defaultLocation();

// Creates the workstation at `location` after the environment checks, and saves the pointer to
// it. Throws OstrakError with the refusal.
ostrak::Workspace install(const ostrak::Path& location, std::string_view name,
                          const InspectEnvironment& inspectEnvironment);

// Whether the user may switch to another workstation now; throws the refusal. In order: an
// action still running; the service registered (enabled, or waiting for the system's approval);
// and, when the manager gave no answer (`agent` not found), the current workstation's service
// still running by its heartbeat.
void requireSwitchAllowed(bool busy, AgentStatus agent,
                          const std::optional<ostrak::Workspace>& current);

// Opens the workstation at `folder` for this account, refused while its own service is running
// (a fresh heartbeat, whatever its pid), and saves the pointer to it.
ostrak::Workspace openExisting(const ostrak::Path& folder);

// The heartbeat of the workstation; none when there is none or it cannot be read.
std::optional<ostrak::ServiceHeartbeat> currentHeartbeat(const ostrak::Workspace& workspace);

// A fresh heartbeat from a live process.
bool isRunning(const std::optional<ostrak::ServiceHeartbeat>& heartbeat);

// The heartbeat a service leaves when it stops (no process, dated in the distant past): it has
// no age worth telling.
bool isStopped(const ostrak::ServiceHeartbeat& heartbeat);

// The refusal after a note was saved but the index could not be rebuilt: it says the note is
// saved, so that nobody saves it twice.
std::string savedButNotIndexed(std::string_view failure);

// The notice after a note was saved and the index rebuilt: whether the fresh index holds it.
std::string savedNoteNotice(const ostrak::KnowledgeIndex& index, const ostrak::Path& root,
                            const ostrak::Path& note);

// The notice after a search's rebuild: how many items the index left out, if any.
std::optional<std::string> skippedNotice(const ostrak::KnowledgeIndex& index);

// The line under a search's results when more matched than they show.
std::optional<std::string> truncatedNotice(const ostrak::SearchMatches& matches);

// Stopping the service needs a manager that answers; throws "后台组件未找到" when none did.
void requireManager(AgentStatus agent);

// Before the service of `workspace` is started by `program` (the running front end): the
// program must be installed, the workstation's folders complete and the manager answering.
// Throws the refusal.
void prepareServiceStart(const ostrak::Workspace& workspace, std::string_view program,
                         AgentStatus agent);

// The service may only be registered for an installed program: one run from a build or download
// folder would leave a unit pointing at a file that can vanish. Throws the refusal.
void requireInstalledProgram(std::string_view program);

// A running service whose program file was replaced since it started (a package upgrade).
bool runsRemovedProgram(std::int32_t pid);

// The service's state as the app words it, from the agent's status and whether it runs; an
// enabled service that does not run adds, on a line of its own, the reason it gave, if any.
std::string serviceStatusText(AgentStatus status, bool running, std::string_view reason = {});

}  // namespace plovik::actions
