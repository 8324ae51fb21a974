#pragma once

#include <QVBoxLayout>
#include <QWidget>

#include "station_model.hpp"

class QLineEdit;

namespace plovik {

// Common frame of the pages: a vertical stack (spacing 24) that reads and calls the shared
// StationModel. A page redraws its state in sync(), which runs whenever any field of the model
// is assigned; pages hold no logic beyond their own fields.
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

    StationModel& m_station;
    QVBoxLayout* m_layout;

private:
    QWidget* m_placeholder = nullptr;
    QWidget* m_stationContent = nullptr;
};

// Sets a line edit's text only when it differs, so the cursor of a field being typed in stays.
void showText(QLineEdit* field, const QString& text);

}  // namespace plovik
