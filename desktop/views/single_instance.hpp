#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace plovik {

// One app per user session. The first launch takes an exclusive lock on
// $XDG_RUNTIME_DIR/plovik-desktop.lock (held for its whole life) and listens on a local socket
// beside it; a later launch finds the lock taken, asks the first one through the socket to
// bring its window to the front, and ends. The lock, not the socket, decides who is first, so
// two launches at the same moment cannot both win or remove each other's socket.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance();
    ~SingleInstance() override;

    // False only when another instance holds the lock; it has been asked to come forward. Where
    // no lock can be made at all the app runs unguarded rather than not at all.
    bool isFirst() const noexcept { return m_first; }
    // What the first instance does when a later launch asks for it.
    void onActivationRequest(std::function<void()> activate);

private:
    QString m_base;
    int m_lock = -1;
    bool m_first = true;
    QLocalServer m_server;
    std::function<void()> m_activate;
};

}  // namespace plovik
