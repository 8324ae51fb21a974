// The API key and the connection test.
#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent>

#include <functional>

#include "failure_text.hpp"
#include "ready_future.hpp"
#include "station_actions.hpp"
#include "station_model.hpp"

namespace plovik {

using namespace ostrak;

namespace {

struct TestOutcome {
    std::optional<ModelResult> result;
    QString failure;
};

// Runs a keyring call on a worker thread and waits for it in a local event loop, so the window
// keeps painting while the keyring shows its own prompt (to create or unlock the collection).
// The failure's text, or nothing when the call succeeded.
std::optional<QString> keyringCall(const std::function<void()>& call) {
    QFutureWatcher<std::optional<QString>> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([call]() -> std::optional<QString> {
        try {
            call();
            return std::nullopt;
        } catch (const std::exception& failure) {
            return describe(failure);
        }
    }));
    if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return watcher.result();
}

}  // namespace

// While a keyring call runs the model is busy, as during a connection test; an action already
// busy keeps its flag.
std::optional<QString> StationModel::busyKeyringCall(const std::function<void()>& call) {
    const bool wasBusy = m_busy;
    if (!wasBusy) setBusy(true, Activity::keyring);
    auto failure = keyringCall(call);
    if (!wasBusy) setBusy(false);
    return failure;
}

// Changes the keyring's item of the open workstation and the chosen provider. On success the
// typed key and the last test's result go and the outcome is told; on failure the typed key
// stays for correction.
void StationModel::changeKey(const std::function<void(const Uuid&, ModelProvider)>& change,
                             const char* done) {
    if (!m_workspace) return;
    const Uuid station = m_workspace->configuration().id;
    const ModelProvider provider = m_provider;
    if (const auto failure = busyKeyringCall([&] { change(station, provider); })) {
        setError(*failure);
        return;
    }
    setSecret({});
    setModelResult(std::nullopt);
    setKeyMessage(tr(done));
    askKeyStored();
}

void StationModel::saveKey() {
    const std::string key = utf8(m_secret);
    changeKey([&key](const Uuid& station,
                     ModelProvider provider) { ModelKeychain::save(key, station, provider); },
              actions::text::keySaved);
}

void StationModel::removeKey() {
    changeKey([](const Uuid& station,
                 ModelProvider provider) { ModelKeychain::remove(station, provider); },
              actions::text::keyRemoved);
}

void StationModel::askKeyStored() {
    const int question = ++m_keyQuestion;
    if (m_keyStored) setKeyStored(std::nullopt);
    if (!m_workspace) return;
    const Uuid station = m_workspace->configuration().id;
    const ModelProvider provider = m_provider;
    // A watcher owned by the model: it goes with the model, so an answer that comes later is
    // dropped (a continuation whose context object has gone aborts under Qt 6.4).
    auto* watcher = new QFutureWatcher<std::optional<bool>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, question] {
        if (question == m_keyQuestion) setKeyStored(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run([station, provider]() -> std::optional<bool> {
        try {
            return ModelKeychain::isStored(station, provider);
        } catch (const std::exception&) {
            return std::nullopt;  // no keyring to ask
        }
    }));
}

QFuture<void> StationModel::test() {
    if (!m_workspace || m_busy) return readyFuture();
    setBusy(true, Activity::testing);
    setModelResult(std::nullopt);
    const ModelProvider provider = m_provider;
    const std::string model = utf8(m_modelName);
    const Uuid station = m_workspace->configuration().id;
    return QtConcurrent::run(
               [provider, model, station, connect = m_services.testConnection]() -> TestOutcome {
                   try {
                       return {connect(provider, model, station), {}};
                   } catch (const std::exception& failure) {
                       return {std::nullopt, describe(failure)};
                   }
               })
        .then(this, [this, station](const TestOutcome& outcome) {
            if (outcome.result) {
                // A success for a workstation that is no longer open is dropped.
                if (stillOpen(station)) setModelResult(outcome.result);
            } else {
                setError(outcome.failure);
            }
            setBusy(false);
        });
}

}  // namespace plovik
