#pragma once

#include <QHash>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>

#include <initializer_list>

#include "station_model.hpp"

class QLineEdit;
class QPushButton;

namespace plovik {

// Common frame of the pages: a vertical stack (spacing 24) that reads and calls the shared
// StationModel. A page redraws its state in sync(), which runs whenever any field of the model
// is assigned; pages hold no logic beyond their own fields.
//
// Keyboard: Enter clicks the focused button, else the default button of the focused field (see
// setDefaultButton). While the model is busy its controls are disabled, which would push focus
// elsewhere; when it is done, focus goes back to where the user was (or the nearest control
// before it that can take it).
class Page : public QWidget {
    Q_OBJECT
public:
    explicit Page(StationModel& station, QWidget* parent = nullptr);

protected:
    // Call once the widgets exist: syncs now and after every change of the model.
    void watch();
    virtual void sync() = 0;
    // For pages that need an open workstation: adds the placeholder and returns the layout of
    // the content that takes its place once a workstation is open (see showStationContent).
    QVBoxLayout* addStationContent();
    void showStationContent();
    // Enter in one of `fields` clicks `button` while it is enabled; with no fields, Enter
    // anywhere on the page that has no default of its own does.
    void setDefaultButton(QPushButton* button, std::initializer_list<QWidget*> fields = {});
    void keyPressEvent(QKeyEvent* event) override;

    StationModel& m_station;
    QVBoxLayout* m_layout;

private:
    QWidget* m_placeholder = nullptr;
    QWidget* m_stationContent = nullptr;
    QPushButton* m_defaultButton = nullptr;
    QHash<QWidget*, QPushButton*> m_fieldDefaults;
    QPointer<QWidget> m_focusBeforeBusy;

    void keepFocusThroughBusy();
};

// Sets a line edit's text only when it differs, so the cursor of a field being typed in stays.
void showText(QLineEdit* field, const QString& text);

}  // namespace plovik
