// OstrakDesktop: the management app of the workstation.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "ostrak/installation.hpp"
#include "ostrak/locale.hpp"
#include "ostrak/safe_files.hpp"
#include "plovik_app.hpp"
#include "single_instance.hpp"

namespace {

// SIGTERM and SIGINT (a logout, a `kill`) end the app as if its window were closed: the handler
// only writes a byte to a pipe that the event loop reads. A handler, not a blocked mask or an
// ignored signal, because programs the app starts (the file manager, an editor) inherit masks
// and ignored signals but not handlers. SIGXFSZ gets a handler that does nothing, so a write
// past the file-size limit fails with EFBIG and is reported like any failed write.
int stopPipe[2] = {-1, -1};

void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(stopPipe[1], &byte, 1);
    errno = saved;
}

void onFileSizeSignal(int) {}

bool catchSignals() {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onStopSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    action.sa_handler = onFileSizeSignal;
    ::sigaction(SIGXFSZ, &action, nullptr);
    return true;
}

// --help and --version, answered before any window system is needed (they exit). Anything else
// on the command line (Qt's own -platform, -session, ...) is left to QApplication.
void answerCommandLine(int argc, char** argv) {
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OstrakDesktop"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTRAK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("plovik 工作站安装与管理"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(help)) parser.showHelp(0);
    if (parser.isSet(version)) parser.showVersion();
}

// Without a display Qt would abort; one clear line instead. A platform chosen explicitly
// (QT_QPA_PLATFORM=offscreen, say) is the caller's business.
bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// The desktop's own folder and file dialogs (GNOME's, KDE's) through the XDG portal, where a
// portal is on the session bus and the user has chosen no platform theme of their own; Qt's
// dialog otherwise. Asked on a connection of its own, closed again, with a short timeout.
void preferPortalDialogs(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME")) return;
    QCoreApplication probe(argc, argv);
    const QString name = QStringLiteral("plovik-portal-probe");
    bool portal = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        const auto ask = [&bus](const QString& method) {
            QDBusMessage message = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), method);
            if (method == QStringLiteral("NameHasOwner"))
                message << QStringLiteral("org.freedesktop.portal.Desktop");
            return bus.call(message, QDBus::Block, 500);
        };
        if (bus.isConnected()) {
            const QDBusMessage running = ask(QStringLiteral("NameHasOwner"));
            const QDBusMessage startable = ask(QStringLiteral("ListActivatableNames"));
            portal = running.arguments().value(0).toBool() ||
                     startable.arguments().value(0).toStringList().contains(
                         QStringLiteral("org.freedesktop.portal.Desktop"));
        }
    }
    QDBusConnection::disconnectFromBus(name);
    if (portal) qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
}

// Qt's own texts (context menus, dialog buttons) in Chinese, like the app's.
void loadQtTranslation(QTranslator& translator) {
    if (translator.load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&translator);
    }
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

int main(int argc, char** argv) {
    ostrak::locale::useUtf8CharacterType();
    answerCommandLine(argc, argv);
    if (!hasDisplay()) {
        std::fputs("OstrakDesktop: 没有可用的图形显示（DISPLAY 或 WAYLAND_DISPLAY 未设置）。\n",
                   stderr);
        return 1;
    }
    preferPortalDialogs(argc, argv);
    const bool signalsCaught = catchSignals();
    removeStaleTemporaries();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plovik"));
    QApplication::setApplicationVersion(QStringLiteral(OSTRAK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("cn.trenzo.workstation"));
    QTranslator qtTranslation;
    loadQtTranslation(qtTranslation);
    std::unique_ptr<QSocketNotifier> stop;
    if (signalsCaught) {
        stop = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated, &application, [] {
            char byte = 0;
            while (::read(stopPipe[0], &byte, 1) > 0) {
            }
            QApplication::quit();
        });
    }
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
    // A connection test still waiting for the provider (up to 35 s) has nothing left to tell
    // anyone once the window is closed: the process ends now instead of waiting for it. Any other
    // work in flight (an index being written) is waited for as usual.
    if (app.station().activity() == plovik::StationModel::Activity::testing) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
