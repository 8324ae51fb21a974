#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ostrak/core.hpp"
#include "temp_dir.hpp"

namespace ostrak::testing {

// Names in `folder` that begin like the temporary files of a write, sorted.
inline std::vector<std::string> temporaries(const Path& folder) {
    std::vector<std::string> found;
    for (const auto& name : entries(folder)) {
        if (name.starts_with(".ostrak-")) found.push_back(name);
    }
    return found;
}

// A fresh workstation in a temporary folder, and the ways tests look into it.
struct Station {
    TempDir dir;
    Workspace workspace = Workspace::create(dir / "station", "站");
    Path knowledge = workspace.knowledgeURL();
    Path indexFile = workspace.root() / "system/indexes/knowledge.json";
    Path heartbeatFile = workspace.root() / "system/state/heartbeat.json";

    // The path the index records for a file of the knowledge folder.
    std::string relative(const std::string& inKnowledge) const {
        return "users/" + workspace.configuration().ownerID.text() + "/knowledge/" + inKnowledge;
    }
    // Writes a file of the knowledge folder, creating the folders it needs.
    void put(const std::string& inKnowledge, const std::string& content) const {
        std::filesystem::create_directories((knowledge / inKnowledge).parent_path());
        writeFile(knowledge / inKnowledge, content);
    }
    // The heartbeat, or nothing while none can be read.
    std::optional<ServiceHeartbeat> heartbeat() const {
        try {
            return workspace.heartbeat();
        } catch (const OstrakError&) {
            return std::nullopt;
        }
    }
};

}  // namespace ostrak::testing
