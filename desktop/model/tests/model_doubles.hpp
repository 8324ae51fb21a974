#pragma once

#include <QTimer>

#include <deque>
#include <stdexcept>

#include "platform_services.hpp"

namespace plovik::testing {

// An agent whose status the test sets, and which records what it was asked.
class ScriptedAgent : public AgentControl {
public:
    AgentStatus current = AgentStatus::notRegistered;
    std::optional<std::string> refuseRegistration;
    bool unregisterSucceeds = true;
    int registrations = 0;
    int unregistrations = 0;

    QString givenReason;

    AgentStatus status() override { return current; }
    QString reason() const override { return givenReason; }
    void registerAgent(std::function<void(std::optional<QString>)> done) override {
        if (refuseRegistration) return done(QString::fromStdString(*refuseRegistration));
        ++registrations;
        current = AgentStatus::enabled;
        done(std::nullopt);
    }
    void unregisterAgent(std::function<void(bool)> done) override {
        ++unregistrations;
        QTimer::singleShot(0, [this, done] {
            if (unregisterSucceeds) current = AgentStatus::notRegistered;
            done(unregisterSucceeds);
        });
    }
    void openSettings() override {}
};

// Dialogs that give the answers queued by the test (nothing left: cancelled).
class ScriptedDialogs : public FileDialogs {
public:
    std::deque<std::optional<QString>> folders;
    std::deque<std::optional<QString>> files;
    QStringList asked;

    std::optional<QString> chooseFolder(const QString& confirmText, bool) override {
        return next(confirmText, folders);
    }
    std::optional<QString> chooseSaveFile(const QString& proposedName) override {
        return next(proposedName, files);
    }

private:
    std::optional<QString> next(const QString& question,
                                std::deque<std::optional<QString>>& answers) {
        asked << question;
        if (answers.empty()) return std::nullopt;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class RecordingOpener : public Opener {
public:
    QStringList opened;
    // Set: the desktop has no application for what is opened, and says so after a moment.
    std::optional<QString> noApplication;
    void open(const QString& path) override {
        opened << path;
        if (noApplication) QTimer::singleShot(10, [this] { failed(*noApplication); });
    }
};

// Platform services made of the doubles above, with the doubles still reachable by the test.
struct ScriptedServices {
    PlatformServices services;
    ScriptedAgent* agent;
    ScriptedDialogs* dialogs;
    RecordingOpener* opener;
};

inline ScriptedServices scriptedServices() {
    auto agent = std::make_unique<ScriptedAgent>();
    auto dialogs = std::make_unique<ScriptedDialogs>();
    auto opener = std::make_unique<RecordingOpener>();
    ScriptedServices scripted{{}, agent.get(), dialogs.get(), opener.get()};
    scripted.services.agent = std::move(agent);
    scripted.services.dialogs = std::move(dialogs);
    scripted.services.opener = std::move(opener);
    return scripted;
}

}  // namespace plovik::testing
