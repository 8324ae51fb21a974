#include "plovik_app.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>

#include "accessible_roles.hpp"
#include "brand_logo.hpp"

namespace plovik {

PlovikApp::PlovikApp() : m_station(std::make_unique<StationModel>()) {
    buildWindow();
}

PlovikApp::PlovikApp(PlatformServices services)
    : m_station(std::make_unique<StationModel>(std::move(services))) {
    buildWindow();
}

PlovikApp::~PlovikApp() {
    m_window.reset();  // the pages go before the model they read
}

// 1060 x 760 where the screen has room, never more than the screen's free area (less the
// window frame), so that no control opens out of reach; the minimum of 900 x 660 shrinks on
// a smaller screen, where the pages scroll.
void PlovikApp::fitToScreen(QWidget& window) {
    const QSize frame(16, 48);  // room for the window manager's borders and title bar
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1076, 808);
    const QSize room = available.size() - frame;
    window.setMinimumSize(QSize(900, 660).boundedTo(room).expandedTo(QSize(480, 360)));
    window.resize(QSize(1060, 760).boundedTo(room));
    const QSize outer = window.size() + frame;
    window.move(available.topLeft() + QPoint((available.width() - outer.width()) / 2,
                                             (available.height() - outer.height()) / 2));
}

void PlovikApp::buildWindow() {
    accessibleRoles::install();
    m_window = std::make_unique<QMainWindow>();
    m_window->setObjectName(QStringLiteral("main"));
    m_window->setWindowTitle(QStringLiteral("plovik"));
    m_window->setWindowIcon(brandIcon());
    m_root = new RootView(*m_station);
    m_window->setCentralWidget(m_root);
    fitToScreen(*m_window);
    // Spelt out rather than QKeySequence::Quit, which some platform themes (qt6ct, KDE's) map to
    // nothing; for the whole application, so an open dialog does not swallow it.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), m_window.get());
    quit->setContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QShortcut::activated, m_window.get(), &QWidget::close);
}

}  // namespace plovik
