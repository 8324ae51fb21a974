#pragma once

#include "page.hpp"

class QPushButton;

namespace plovik {

class Surface;

// Version and support facts, the diagnostics export, and how the data outlives the app.
class AboutView : public Page {
    Q_OBJECT
public:
    explicit AboutView(StationModel& station, QWidget* parent = nullptr);

protected:
    void sync() override;

private:
    QPushButton* m_export;
    Surface* m_keepData;
    QPushButton* m_openExisting;
};

}  // namespace plovik
