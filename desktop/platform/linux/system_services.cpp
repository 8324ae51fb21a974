// The real platform services of a Linux desktop.
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

#include "platform_services.hpp"
#include "systemd_agent_control.hpp"

namespace plovik {

namespace {

class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> chooseFolder(const QString& confirmText, bool allowCreating) override {
        QFileDialog dialog;
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        dialog.setOption(QFileDialog::ReadOnly, !allowCreating);
        dialog.setLabelText(QFileDialog::Accept, confirmText);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    std::optional<QString> chooseSaveFile(const QString& proposedName) override {
        QFileDialog dialog;
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(proposedName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }
};

class DesktopOpener : public Opener {
public:
    void open(const QString& path) override {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
};

}  // namespace

PlatformServices PlatformServices::system() {
    PlatformServices services;
    services.agent =
        std::make_unique<SystemdAgentControl>(SystemdAgentControl::installedUnitFile());
    services.dialogs = std::make_unique<QtFileDialogs>();
    services.opener = std::make_unique<DesktopOpener>();
    services.programPath = [] { return QCoreApplication::applicationFilePath(); };
    services.inspectEnvironment = [](const ostrak::Path& location) {
        return ostrak::EnvironmentReport::inspect(location);
    };
    services.testConnection = [](ostrak::ModelProvider provider, const std::string& model,
                                 const ostrak::Uuid& station) {
        return ostrak::ModelConnection::test(provider, model, station);
    };
    return services;
}

}  // namespace plovik
