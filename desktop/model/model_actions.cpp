// The API key and the connection test.
#include <QtConcurrent>

#include "failure_text.hpp"
#include "station_model.hpp"

namespace plovik {

using namespace ostrak;

namespace {

struct TestOutcome {
    std::optional<ModelResult> result;
    QString failure;
};

}  // namespace

void StationModel::saveKey() {
    if (!m_workspace) return;
    try {
        ModelKeychain::save(utf8(m_secret), m_workspace->configuration().id, m_provider);
    } catch (const std::exception& failure) {
        setError(describe(failure));  // the typed key stays for correction
        return;
    }
    setSecret({});
    setModelResult(std::nullopt);
    setKeyMessage(tr("已保存在本机钥匙串，尚未验证连接。"));
}

void StationModel::removeKey() {
    if (!m_workspace) return;
    try {
        ModelKeychain::remove(m_workspace->configuration().id, m_provider);
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    setSecret({});
    setModelResult(std::nullopt);
    setKeyMessage(tr("密钥已从钥匙串移除。"));
}

QFuture<void> StationModel::test() {
    if (!m_workspace || m_busy) return QtFuture::makeReadyFuture();
    setBusy(true);
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
