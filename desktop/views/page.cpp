#include "page.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "needs_station.hpp"

namespace plovik {

Page::Page(StationModel& station, QWidget* parent) : QWidget(parent), m_station(station) {
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(24);
    // Before the pages' own sync(), which disables the controls: focus is noted while it is
    // still where the user left it.
    connect(&m_station, &StationModel::busyChanged, this, &Page::keepFocusThroughBusy);
}

void Page::keepFocusThroughBusy() {
    if (m_station.busy()) {
        QWidget* focus = QApplication::focusWidget();
        m_focusBeforeBusy = focus && isAncestorOf(focus) ? focus : nullptr;
        return;
    }
    // After this round of signals, once sync() has enabled the controls again.
    QTimer::singleShot(0, this, [this] {
        for (QWidget* widget = m_focusBeforeBusy; widget && isAncestorOf(widget);
             widget = widget->previousInFocusChain()) {
            if (widget->isEnabled() && widget->isVisible() &&
                widget->focusPolicy() & Qt::TabFocus) {
                widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
        m_focusBeforeBusy.clear();
    });
}

void Page::setDefaultButton(QPushButton* button, std::initializer_list<QWidget*> fields) {
    if (fields.size() == 0) m_defaultButton = button;
    for (QWidget* field : fields) m_fieldDefaults.insert(field, button);
}

// Keys a focused control did not take arrive here.
void Page::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return QWidget::keyPressEvent(event);
    QWidget* focus = QApplication::focusWidget();
    if (auto* button = qobject_cast<QAbstractButton*>(focus); button && isAncestorOf(button)) {
        button->click();
        return event->accept();
    }
    QPushButton* target = m_fieldDefaults.value(focus, m_defaultButton);
    if (target && target->isEnabled() && target->isVisible()) {
        target->click();
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

void Page::watch() {
    for (auto signal : {&StationModel::workspaceChanged, &StationModel::nameChanged,
                        &StationModel::locationChanged, &StationModel::busyChanged,
                        &StationModel::heartbeatChanged, &StationModel::serviceStatusChanged,
                        &StationModel::registeredChanged, &StationModel::documentsChanged,
                        &StationModel::queryChanged, &StationModel::providerChanged,
                        &StationModel::modelNameChanged, &StationModel::secretChanged,
                        &StationModel::modelResultChanged, &StationModel::keyMessageChanged,
                        &StationModel::keyStoredChanged}) {
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
