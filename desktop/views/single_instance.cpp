#include "single_instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QLocalSocket>

namespace plovik {

namespace {

QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) return runtime;
    return QDir::tempPath() + QStringLiteral("/plovik-") + QString::number(::getuid());
}

}  // namespace

SingleInstance::SingleInstance() : m_base(runtimeFolder() + QStringLiteral("/plovik-desktop")) {
    QDir().mkpath(runtimeFolder());
    const QByteArray lockPath = QFile::encodeName(m_base + QStringLiteral(".lock"));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0) {
        m_lock = lock;
        const QString socket = m_base + QStringLiteral(".socket");
        QLocalServer::removeServer(socket);  // left by a first instance that was killed
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        m_server.listen(socket);
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* caller = m_server.nextPendingConnection()) {
                caller->deleteLater();
                if (m_activate) m_activate();
            }
        });
        return;
    }
    if (lock >= 0) ::close(lock);
    QLocalSocket first;
    first.connectToServer(m_base + QStringLiteral(".socket"));
    if (first.waitForConnected(2000)) first.disconnectFromServer();
}

SingleInstance::~SingleInstance() {
    if (m_lock >= 0) ::close(m_lock);
}

void SingleInstance::onActivationRequest(std::function<void()> activate) {
    m_activate = std::move(activate);
}

}  // namespace plovik
