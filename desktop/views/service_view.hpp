#pragma once

#include <optional>

#include "page.hpp"

class QLabel;
class QPushButton;

namespace plovik {

class Surface;

// Whether the background service runs, and the buttons that register or stop it.
class ServiceView : public Page {
    Q_OBJECT
public:
    explicit ServiceView(StationModel& station, QWidget* parent = nullptr);

protected:
    void sync() override;

private:
    QLabel* m_statusIcon;
    std::optional<bool> m_iconShowsRunning;  // the state the icon was last drawn for
    QLabel* m_status;
    QLabel* m_issue;
    QPushButton* m_start;
    QPushButton* m_stop;
    QLabel* m_outdated;
    QPushButton* m_restart;
};

}  // namespace plovik
