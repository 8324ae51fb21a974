#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "agent_control.hpp"
#include "ostrak/environment.hpp"
#include "ostrak/models.hpp"

namespace plovik {

// Modal folder and file dialogs; nothing when the user cancels.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual std::optional<QString> chooseFolder(const QString& confirmText, bool allowCreating) = 0;
    virtual std::optional<QString> chooseSaveFile(const QString& proposedName) = 0;
};

// Opens a file or folder with the desktop's default application. A failure known at once is
// thrown (OstrakError with the reason); one known only later, when the desktop's opener has
// found no application, arrives through `failed` on the main thread.
class Opener {
public:
    virtual ~Opener() = default;
    virtual void open(const QString& path) = 0;

    std::function<void(const QString& reason)> failed;
};

// Everything the model asks of the platform, owned by the model. Tests put doubles here.
struct PlatformServices {
    std::unique_ptr<AgentControl> agent;
    std::unique_ptr<FileDialogs> dialogs;
    std::unique_ptr<Opener> opener;
    // The absolute path of the running desktop program.
    std::function<QString()> programPath;
    std::function<ostrak::EnvironmentReport(const ostrak::Path&)> inspectEnvironment;
    // The connection test (blocking; called off the main thread).
    std::function<ostrak::ModelResult(ostrak::ModelProvider, const std::string&,
                                      const ostrak::Uuid&)>
        testConnection;

    // The real services of this system.
    static PlatformServices system();
};

}  // namespace plovik
