#include "page.hpp"

#include <QLineEdit>

#include "needs_station.hpp"

namespace plovik {

Page::Page(StationModel& station, QWidget* parent) : QWidget(parent), m_station(station) {
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(24);
}

void Page::watch() {
    for (auto signal : {&StationModel::workspaceChanged, &StationModel::nameChanged,
                        &StationModel::locationChanged, &StationModel::busyChanged,
                        &StationModel::heartbeatChanged, &StationModel::serviceStatusChanged,
                        &StationModel::registeredChanged, &StationModel::documentsChanged,
                        &StationModel::queryChanged, &StationModel::providerChanged,
                        &StationModel::modelNameChanged, &StationModel::secretChanged,
                        &StationModel::modelResultChanged, &StationModel::keyMessageChanged}) {
        connect(&m_station, signal, this, [this] { sync(); });
    }
    sync();
}

QVBoxLayout* Page::addStationContent() {
    m_placeholder = new NeedsStation;
    m_layout->addWidget(m_placeholder);
    m_stationContent = new QWidget;
    auto* content = new QVBoxLayout(m_stationContent);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(24);
    m_layout->addWidget(m_stationContent);
    return content;
}

void Page::showStationContent() {
    const bool open = m_station.workspace().has_value();
    m_placeholder->setVisible(!open);
    m_stationContent->setVisible(open);
}

void showText(QLineEdit* field, const QString& text) {
    if (field->text() != text) field->setText(text);
}

}  // namespace plovik
