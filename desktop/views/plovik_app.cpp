#include "plovik_app.hpp"

#include <QShortcut>

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

void PlovikApp::buildWindow() {
    m_window = std::make_unique<QMainWindow>();
    m_window->setObjectName(QStringLiteral("main"));
    m_window->setWindowTitle(QStringLiteral("plovik"));
    m_window->setWindowIcon(brandIcon());
    m_root = new RootView(*m_station);
    m_window->setCentralWidget(m_root);
    m_window->setMinimumSize(900, 660);
    m_window->resize(1060, 760);
    auto* quit = new QShortcut(QKeySequence::Quit, m_window.get());
    QObject::connect(quit, &QShortcut::activated, m_window.get(), &QWidget::close);
}

}  // namespace plovik
