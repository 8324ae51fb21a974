#pragma once

#include "page.hpp"

class QLabel;
class QLineEdit;

namespace plovik {

class DetailRow;

// The first-run page: name the workstation, choose where its data lives, see whether this
// computer is suitable, then create a workstation or open an existing one.
class WelcomeView : public Page {
    Q_OBJECT
public:
    explicit WelcomeView(StationModel& station, QWidget* parent = nullptr);

protected:
    void sync() override;

private:
    void showEnvironment();

    QLineEdit* m_name;
    QLabel* m_location;
    DetailRow* m_architecture;
    DetailRow* m_system;
    DetailRow* m_space;
};

}  // namespace plovik
