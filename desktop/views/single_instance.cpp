#include "single_instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QLocalSocket>

namespace plovik {

namespace {

// $XDG_RUNTIME_DIR, else a folder of our own in /tmp, made private (and refused when it is not
// ours). Empty when neither can be had.
QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) return runtime;
    const QString own = QDir::tempPath() + QStringLiteral("/plovik-") + QString::number(::getuid());
    const QByteArray path = QFile::encodeName(own);
    ::mkdir(path.constData(), 0700);
    struct stat status;
    if (::lstat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
        return {};
    }
    return own;
}

}  // namespace

SingleInstance::SingleInstance() {
    const QString folder = runtimeFolder();
    if (folder.isEmpty()) return;  // no private place for the lock: run unguarded
    m_base = folder + QStringLiteral("/plovik-desktop");
    const QByteArray lockPath = QFile::encodeName(m_base + QStringLiteral(".lock"));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0) return;  // a lock that cannot be made guards nothing: run unguarded
    if (::flock(lock, LOCK_EX | LOCK_NB) == 0) {
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
    const bool held = errno == EWOULDBLOCK;
    ::close(lock);
    if (!held) return;  // flock not supported here: run unguarded
    m_first = false;
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
