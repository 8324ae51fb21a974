// OstrakDesktop: the management app of the workstation.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "plovik_app.hpp"

namespace {

// SIGTERM and SIGINT (a logout, a `kill`) end the app as if its window were closed. They are
// blocked before any thread starts and read from a descriptor in the event loop, never handled
// in a signal handler.
int stopSignalDescriptor() {
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    return signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
}

}  // namespace

int main(int argc, char** argv) {
    const int stopSignals = stopSignalDescriptor();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plovik"));
    QApplication::setDesktopFileName(QStringLiteral("plovik"));
    QSocketNotifier stop(stopSignals, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &application, [stopSignals] {
        signalfd_siginfo info{};
        (void)!::read(stopSignals, &info, sizeof info);
        QApplication::quit();
    });
    plovik::PlovikApp app;
    app.window().show();
    const int status = QApplication::exec();
    ::close(stopSignals);
    return status;
}
