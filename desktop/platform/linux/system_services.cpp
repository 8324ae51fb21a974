// The real platform services of a Linux desktop.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "ostrak/error.hpp"

#include "platform_services.hpp"
#include "systemd_agent_control.hpp"

namespace plovik {

namespace {

// The dialogs belong to the app's window (a parentless modal dialog can leave the window
// deaf to input once it closes) and open in the home folder, never in the folder the program
// was started from. Where the desktop offers its own dialog (the XDG portal), Qt uses it; the
// texts are set here so that Qt's own dialog is Chinese too when Qt's translations are absent.
class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> chooseFolder(const QString& confirmText, bool allowCreating) override {
        QFileDialog dialog(QApplication::activeWindow(), confirmText, QDir::homePath());
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        dialog.setOption(QFileDialog::ReadOnly, !allowCreating);
        dialog.setLabelText(QFileDialog::FileName,
                            QCoreApplication::translate("plovik", "文件夹："));
        return run(dialog, confirmText);
    }

    std::optional<QString> chooseSaveFile(const QString& proposedName) override {
        const QString save = QCoreApplication::translate("plovik", "保存");
        QFileDialog dialog(QApplication::activeWindow(), save, QDir::homePath());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(proposedName);
        dialog.setLabelText(QFileDialog::FileName,
                            QCoreApplication::translate("plovik", "文件名："));
        return run(dialog, save);
    }

private:
    static std::optional<QString> run(QFileDialog& dialog, const QString& acceptText) {
        dialog.setLabelText(QFileDialog::Accept, acceptText);
        dialog.setLabelText(QFileDialog::Reject, QCoreApplication::translate("plovik", "取消"));
        dialog.setLabelText(QFileDialog::LookIn, QCoreApplication::translate("plovik", "位置："));
        dialog.setLabelText(QFileDialog::FileType, QCoreApplication::translate("plovik", "类型："));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }
};

QString noApplicationFor(const QString& path) {
    return QCoreApplication::translate("plovik", "没有可以打开“%1”的应用程序。").arg(path);
}

// xdg-open tells by its exit status whether an application took the file or folder;
// QDesktopServices starts it detached and knows only whether it started. The answer comes
// later, so the open never waits for it.
class DesktopOpener : public Opener {
public:
    void open(const QString& path) override {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (program.isEmpty()) {
            if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
                throw ostrak::OstrakError(noApplicationFor(path).toStdString());
            return;
        }
        // Not a child of anything: a program still open when the app quits is left running.
        auto* process = new QProcess;
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        const auto report = [this, process, path](bool opened) {
            process->deleteLater();
            if (!opened && failed) failed(noApplicationFor(path));
        };
        QObject::connect(process, &QProcess::finished, &m_context,
                         [report](int code, QProcess::ExitStatus status) {
                             report(status == QProcess::NormalExit && code == 0);
                         });
        QObject::connect(process, &QProcess::errorOccurred, &m_context,
                         [report](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart) report(false);
                         });
        process->start(program, {path});
    }

private:
    QObject m_context;  // the answers of running openers end with this object
};

}  // namespace

PlatformServices PlatformServices::system() {
    PlatformServices services;
    auto agent = std::make_unique<SystemdAgentControl>(SystemdAgentControl::installedUnitFile());
    agent->showFolder = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    services.agent = std::move(agent);
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
