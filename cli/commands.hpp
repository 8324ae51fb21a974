#pragma once

#include <QJsonObject>
#include <QString>

#include <string>
#include <string_view>

#include "agent_control.hpp"
#include "command_line.hpp"
#include "ostrak/core.hpp"

// The commands of `plovik`. Each prints its outcome and returns on success, throws OstrakError
// with the refusal (status 1) or UsageError (status 2). Output for scripts (--json) is built
// whole and printed only once the command has succeeded.
namespace plovik::cli {

void showStatus(const Arguments& arguments);
void createStation(const Arguments& arguments);
void openStation(const Arguments& arguments);
void renameStation(const Arguments& arguments);
void addNote(const Arguments& arguments);
void searchNotes(const Arguments& arguments);
void listSkipped(const Arguments& arguments);
void exportDiagnostics(const Arguments& arguments);

void setKey(const Arguments& arguments);
void removeKey(const Arguments& arguments);
void showKey(const Arguments& arguments);
void testConnection(const Arguments& arguments);

void enableService(const Arguments& arguments);
void disableService(const Arguments& arguments);
void showService(const Arguments& arguments);

// Shared by the commands.
ostrak::Workspace openedWorkspace();  // the workstation the pointer names, or refused
// The workstation the pointer names; none when there is no pointer or it does not open (its
// disk not plugged in, say).
std::optional<ostrak::Workspace> workstationInUse();
ostrak::Path absolutePath(std::string_view);  // relative to the working folder
// The agent's status and the reason it gave for not running (empty: none), within the answer
// timeout.
struct AgentAnswer {
    AgentStatus status;
    std::string reason;
};
AgentAnswer askAgent();
QString qt(std::string_view text);          // UTF-8 to Qt
void printJson(const QJsonObject& object);  // on standard output, indented
void printLine(std::string_view text);      // on standard output
void tell(std::string_view text);           // on standard error: notices beside the output

}  // namespace plovik::cli
