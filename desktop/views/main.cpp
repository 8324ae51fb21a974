// OstrakDesktop: the management app of the workstation.
#include <malloc.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QTranslator>

#include <QSocketNotifier>
#include <cstdio>

#include "ostrak/installation.hpp"
#include "ostrak/safe_files.hpp"
#include "plovik_app.hpp"
#include "single_instance.hpp"

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

// The folder of the installation pointer is written only by this app: temporary files a killed
// write left there (15 minutes old or more) are removed at start.
void removeStaleTemporaries() {
    try {
        ostrak::SafeFiles::removeStaleTemporaries(ostrak::Installation::supportDirectory(),
                                                  std::chrono::minutes(15));
    } catch (...) {
    }
}

}  // namespace

// --help and --version, answered before any window system is needed. Exits for those two.
void answerCommandLine(int argc, char** argv) {
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OstrakDesktop"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTRAK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("plovik 工作站安装与管理"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(probe);
}

// Without a display Qt would abort; one clear line instead. A platform chosen explicitly
// (QT_QPA_PLATFORM=offscreen, say) is the caller's business.
bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Qt's own texts (context menus, dialog buttons) in Chinese, like the app's.
void loadQtTranslation(QTranslator& translator) {
    if (translator.load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&translator);
    }
}

int main(int argc, char** argv) {
    // The index (up to 100 MB) is read into one buffer on every search: from the heap, its pages
    // are reused from read to read instead of being mapped and faulted in afresh each time.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024 * 1024);
    answerCommandLine(argc, argv);
    if (!hasDisplay()) {
        std::fputs("OstrakDesktop: 没有可用的图形显示（DISPLAY 或 WAYLAND_DISPLAY 未设置）。\n",
                   stderr);
        return 1;
    }
    const int stopSignals = stopSignalDescriptor();
    // A write past the file-size limit fails with EFBIG and is reported like any failed write.
    ::signal(SIGXFSZ, SIG_IGN);
    removeStaleTemporaries();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plovik"));
    QApplication::setApplicationVersion(QStringLiteral(OSTRAK_VERSION));
    QTranslator qtTranslation;
    loadQtTranslation(qtTranslation);
    QApplication::setDesktopFileName(QStringLiteral("cn.trenzo.workstation"));
    QSocketNotifier stop(stopSignals, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &application, [stopSignals] {
        signalfd_siginfo info{};
        (void)!::read(stopSignals, &info, sizeof info);
        QApplication::quit();
    });
    plovik::SingleInstance instance;
    if (!instance.isFirst()) return 0;  // the running app has been brought forward
    plovik::PlovikApp app;
    instance.onActivationRequest([&app] {
        QMainWindow& window = app.window();
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    app.window().show();
    const int status = QApplication::exec();
    ::close(stopSignals);
    return status;
}
