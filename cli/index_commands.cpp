// What the knowledge index leaves out, and why.
#include <QJsonArray>

#include "commands.hpp"
#include "station_actions.hpp"
#include "terminal.hpp"

namespace plovik::cli {

using namespace ostrak;

void listSkipped(const Arguments& arguments) {
    const Workspace workspace = openedWorkspace();
    const std::vector<SkippedEntry> entries = workspace.skippedEntries();
    if (arguments.has("--json")) {
        QJsonArray skipped;
        for (const SkippedEntry& entry : entries) {
            skipped.append(QJsonObject{{"relativePath", qt(entry.relativePath)},
                                       {"reason", qt(entry.reason)}});
        }
        printJson(
            {{"knowledgeFolder", qt(workspace.knowledgeURL().native())}, {"skipped", skipped}});
    } else {
        // Tabs for scripts; on a terminal, where a tab's width varies, two spaces.
        const std::string gap = terminal::columns() ? "  " : "\t";
        for (const SkippedEntry& entry : entries)
            printLine(terminal::printable(entry.relativePath) + gap + entry.reason);
    }
    if (entries.empty()) tell(actions::text::nothingSkipped);
}

}  // namespace plovik::cli
